#pragma once

// The trial cycle's seams as the tests drive them.

#include <functional>
#include <vector>

#include "testrun/audio_operations.h"
#include "testrun/random_source.h"

namespace zel::testing {

// Draws fed by the test, in order; past them, 0.
struct FedRandom final : RandomSource {
    void Feed(const std::vector<float>& v) { draws.insert(draws.end(), v.begin(), v.end()); }
    float Draw() override { return ++drawn <= draws.size() ? draws[drawn - 1] : 0.0f; }

    std::vector<float> draws;
    std::size_t drawn = 0;
};

// Plays at once, keeping each image; runs the test's hooks on each image and at the end of each
// presentation, which ends as `end` says.
struct FakeAudio final : AudioOperations {
    void InitialiseAudio() override {}
    int32_t PlayWaveImage(const WaveImage& image) override {
        played.push_back(image);
        if (onPlay) onPlay(static_cast<int>(played.size()));
        return 1;
    }
    PresentationEnd EndPresentation() override {
        if (onEnd) onEnd();
        return end;
    }
    // Writes back on the first call only, as the program's own does.
    std::vector<std::string> RestoreMixerLevels() override {
        restores = 1;
        return writeBackProblems;
    }

    std::vector<WaveImage> played;
    std::function<void(int played)> onPlay;
    std::function<void()> onEnd;
    int restores = 0;  // write-backs
    std::vector<std::string> writeBackProblems;
    PresentationEnd end = PresentationEnd::Played;
};

}  // namespace zel::testing
