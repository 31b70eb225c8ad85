#include "synthesis/calibration_tone.h"

#include <cmath>

#include "core/checked.h"
#include "synthesis/tone_tables.h"

namespace zel {

namespace {

constexpr Where kWhere = "CalibrationTone";
// The tables' value: every stimulus is defined with it.
constexpr double kFullCircle = 6.28318;

}  // namespace

CalibrationTone::CalibrationTone(float baseFrequency, int16_t peak, int32_t sampleRate)
    : frequency_(QuantiseFrequency(baseFrequency, sampleRate)),
      peak_(peak),
      sampleRate_(sampleRate),
      ramp_(CheckedMul16(20, RoundToInt16(CheckedDivide(sampleRate, baseFrequency, kWhere), kWhere),
                         kWhere)) {}

int16_t CalibrationTone::Sample(double gain) {
    ++made_;
    // Element i of the standard table, for every i: the table's sine, carried on past its end.
    const float value =
        ToSingle(std::sin(CheckedDivide((static_cast<double>(made_) * kFullCircle) * frequency_,
                                        sampleRate_, kWhere)),
                 kWhere);
    return RoundToInt16((static_cast<double>(peak_) * gain) * value, kWhere);
}

std::vector<int16_t> CalibrationTone::Next(int32_t count) {
    std::vector<int16_t> samples;
    samples.reserve(static_cast<std::size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const double gain =
            made_ + 1 < ramp_ ? ToSingle(static_cast<double>(made_ + 1) / ramp_, kWhere) : 1.0;
        samples.push_back(Sample(gain));
    }
    return samples;
}

std::vector<int16_t> CalibrationTone::End() {
    std::vector<int16_t> samples;
    for (int32_t remaining = ramp_; remaining > 0; --remaining) {
        samples.push_back(Sample(ToSingle(static_cast<double>(remaining - 1) / ramp_, kWhere)));
    }
    return samples;
}

}  // namespace zel
