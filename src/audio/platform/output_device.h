#pragma once

// The capability query of a wave-output device: which of the classic PCM formats it plays.

#include <cstdint>

namespace zel {

// Bits of WaveOutCaps::dwFormats.
constexpr uint32_t kWaveFormat2M16 = 0x40;  // 22,050 Hz, mono, 16-bit

struct WaveOutCaps {
    uint32_t dwFormats = 0;
};

class OutputDevice {
  public:
    virtual ~OutputDevice() = default;

    // Examines wave-output device `deviceId` (0 is the user's default output). Result: 0 when the
    // device exists and `caps` has been filled; otherwise the platform's non-zero code, and
    // `caps` is left as it was. An implementation sets a format bit only when the device
    // accepts that exact format (sample type, channel count and rate together); it must release
    // the device before returning.
    virtual int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) = 0;
};

}  // namespace zel
