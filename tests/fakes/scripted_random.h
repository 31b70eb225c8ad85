#pragma once

// Draws given by the test, in order; running out is a test failure.

#include <gtest/gtest.h>

#include <deque>

#include "testrun/random_source.h"

namespace zel::testing {

class ScriptedRandom final : public RandomSource {
  public:
    void Add(std::initializer_list<float> values) { draws_.insert(draws_.end(), values); }

    float Draw() override {
        EXPECT_FALSE(draws_.empty()) << "more draws than scripted";
        if (draws_.empty()) return 0.0f;
        const float value = draws_.front();
        draws_.pop_front();
        ++drawn;
        return value;
    }

    int drawn = 0;

  private:
    std::deque<float> draws_;
};

}  // namespace zel::testing
