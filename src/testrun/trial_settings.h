#pragma once

// The operator's settings, the target derived from them and the counters of the current run.

#include <array>
#include <cstdint>

#include "synthesis/wave_image.h"

namespace zel {

// The option groups' values, by Index.
inline constexpr std::array<float, 5> kBaseFrequencies{500.0f, 1000.0f, 2000.0f, 4000.0f, 8000.0f};
inline constexpr std::array<float, 7> kStepPercents{0.1f, 0.2f, 0.25f, 0.5f, 1.0f, 2.0f, 5.0f};
inline constexpr std::array<const char*, 2> kTestFormatFrameCaptions{"Frequency difference",
                                                                     "Frequency modulation"};

constexpr int16_t kFrequencyDifference = 0;
constexpr int16_t kFrequencyModulation = 1;

struct TrialSettings {
    int16_t NumberCorrect = 0;
    int16_t TrialsCompleted = 0;
    float BaseFrequency = 0;
    int16_t FrequencyIndex = 0;
    float TargetFrequency = 0;
    float StepPercent = 0;
    int16_t StepIndex = 0;
    float ModulationPercent = 0;
    int16_t TestFormat = 0;
    WaveHeader Header;
    int32_t SampleRate = 0;
};

}  // namespace zel
