#include "synthesis/tone_tables.h"

#include <cmath>

#include "core/checked.h"

namespace zel {

namespace {

constexpr Where kWhere = "MakeSineBuffers";

// Deliberately not 2 pi to full precision: every stimulus is defined with this value.
constexpr double kFullCircle = 6.28318;
constexpr double kHalfTable = kToneTableLength / 2.0;
constexpr double kModulationRate = 5.0;
constexpr float kPercent = 100.0f;

}  // namespace

float QuantiseFrequency(float frequency, int32_t sampleRate) {
    const int16_t cycles =
        FloorToInt16(CheckedDivide(kHalfTable * frequency, sampleRate, kWhere), kWhere);
    const int32_t scaled = CheckedMul32(cycles, sampleRate, kWhere);
    return ToSingle(CheckedDivide(scaled, kHalfTable, kWhere), kWhere);
}

double PlayedFrequency(float frequency, int32_t sampleRate) {
    return QuantiseFrequency(frequency, sampleRate) * kFullCircle / (2 * M_PI);
}

float AdvancePhase(float h, int16_t i, double depth, int32_t sampleRate) {
    const double m =
        std::sin(CheckedDivide((i * kFullCircle) * kModulationRate, sampleRate, kWhere));
    const float w = ToSingle(depth * m, kWhere);
    return ToSingle((static_cast<double>(h) + 1.0) + w, kWhere);
}

void MakeSineBuffers(ToneTables& tables, const float& Frequency_1, const float& Frequency_2,
                     const float& ModulationPercentage, int32_t SampleRate) {
    if (Frequency_1 != tables.LastFrequency_1) {
        const double f1 = QuantiseFrequency(Frequency_1, SampleRate);
        for (int16_t i = 1; i <= kToneTableLength; ++i) {
            const double argument = CheckedDivide((i * kFullCircle) * f1, SampleRate, kWhere);
            tables.StandardTable.At(i, kWhere) = ToSingle(std::sin(argument), kWhere);
        }
        tables.LastFrequency_1 = Frequency_1;
    }

    if (Frequency_2 != tables.LastFrequency_2 ||
        ModulationPercentage != tables.LastModulationPercentage) {
        const double f2 = QuantiseFrequency(Frequency_2, SampleRate);
        const double depth = static_cast<double>(ModulationPercentage) / kPercent;
        float h = 0;
        for (int16_t i = 1; i <= kToneTableLength; ++i) {
            h = AdvancePhase(h, i, depth, SampleRate);
            const double argument = CheckedDivide((h * kFullCircle) * f2, SampleRate, kWhere);
            tables.TargetTable.At(i, kWhere) = ToSingle(std::sin(argument), kWhere);
        }
        tables.LastFrequency_2 = Frequency_2;
        tables.LastModulationPercentage = ModulationPercentage;
    }
}

}  // namespace zel
