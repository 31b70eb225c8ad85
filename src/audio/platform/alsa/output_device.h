#pragma once

// The capability query on ALSA: device 0 is the PCM "default"; the 22,050 Hz mono 16-bit bit is
// set when the PCM can play the program's sound: 16-bit, at 22,050 Hz or at a rate of its own
// that the program converts to. A PCM that cannot be opened is a failed query (ALSA's negative
// error code).

#include <string>

#include "audio/platform/output_device.h"

namespace zel {

class AlsaOutputDevice final : public OutputDevice {
  public:
    explicit AlsaOutputDevice(std::string device = "default");
    int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) override;

  private:
    std::string device_;
};

// The device for the user, with the rate and channels it plays at and whether the program
// converts: 'ALSA device "default" at 48,000 Hz stereo, converted by the program from 22,050 Hz'.
std::string DescribeAlsaOutput(const std::string& device);

}  // namespace zel
