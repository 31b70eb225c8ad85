#pragma once

// Uniform single-precision draws in [0, 1).

#include <random>

namespace zel {

class RandomSource {
  public:
    virtual ~RandomSource() = default;
    virtual float Draw() = 0;
};

// The program's generator: the same fixed state at every start, never reseeded, so the k-th
// trial since launch always has the same order and levels. Each draw is the top 24 bits of a
// default-seeded mt19937 output over 2^24: exact in single precision, never 1.0, and the same
// sequence on every standard library.
class ProgramRandom final : public RandomSource {
  public:
    float Draw() override;

  private:
    std::mt19937 engine_;
};

}  // namespace zel
