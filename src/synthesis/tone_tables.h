#pragma once

// The two sine tables every tone is drawn from, and MakeSineBuffers, which brings them up to date
// for a standard frequency and a (possibly frequency-modulated) target frequency.

#include <cstdint>

#include "core/indexed_array.h"

namespace zel {

constexpr int32_t kToneTableLength = 32766;

// Element i holds the tone at time i / SampleRate, amplitude 1: element 1 is one sample into the
// tone, not phase zero.
using ToneTable = IndexedArray<float>;

inline ToneTable MakeToneTable() {
    return ToneTable(1, kToneTableLength);
}

// The tables with the arguments they were last built from (as passed, before quantisation).
struct ToneTables {
    ToneTable StandardTable = MakeToneTable();
    ToneTable TargetTable = MakeToneTable();
    float LastFrequency_1 = 0;
    float LastFrequency_2 = 0;
    float LastModulationPercentage = 0;
};

// Moves F down onto the grid of frequencies that fit a whole number of cycles into half a table
// (16,383 samples): floor(16383 F / SampleRate) cycles, stored back as a single.
float QuantiseFrequency(float frequency, int32_t sampleRate);

// The frequency a table built for `frequency` plays: the quantised one, scaled by the tables'
// full-circle constant 6.28318, which falls short of 2 pi by 0.85 ppm.
double PlayedFrequency(float frequency, int32_t sampleRate);

// One step of the target's phase accumulator h (in sample units) at sample i: h + 1 + deviation,
// the deviation depth x sin(2 pi x 5 Hz x i / SampleRate) and the new h each stored in single
// precision. That narrowing shapes small modulations and makes the phase drift.
float AdvancePhase(float h, int16_t i, double depth, int32_t sampleRate);

// Rebuilds StandardTable when Frequency_1 changed, and TargetTable when Frequency_2 or
// ModulationPercentage changed (exact comparison with the last arguments). The target swings at
// 5 Hz by +-ModulationPercentage per cent through a single-precision phase accumulator. An error
// leaves that table's last arguments as they were, so the next call builds it again.
void MakeSineBuffers(ToneTables& tables, const float& Frequency_1, const float& Frequency_2,
                     const float& ModulationPercentage, int32_t SampleRate);

}  // namespace zel
