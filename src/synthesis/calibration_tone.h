#pragma once

// The steady tone a technician measures the output level with: the standard tone of a base
// frequency (the same quantised frequency and the same sine as the test's tables) at one peak
// level, made block after block as long as it is wanted, its phase running on from block to
// block, with the test's 20-period onset ramp at its start and an offset ramp at its end, so that
// it neither clicks nor pauses.

#include <cstdint>
#include <vector>

namespace zel {

class CalibrationTone {
  public:
    CalibrationTone(float baseFrequency, int16_t peak, int32_t sampleRate);

    // The next `count` samples of the tone.
    std::vector<int16_t> Next(int32_t count);
    // The tone's end: its next samples falling to silence over 20 periods.
    std::vector<int16_t> End();

    double Frequency() const { return frequency_; }

  private:
    int16_t Sample(double gain);

    double frequency_;
    int16_t peak_;
    int32_t sampleRate_;
    int32_t ramp_;
    int64_t made_ = 0;  // samples made so far; the next is sample made_ + 1 of the tone
};

}  // namespace zel
