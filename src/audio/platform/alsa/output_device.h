#pragma once

// The capability query on ALSA: device 0 is the PCM "default"; the 22,050 Hz mono 16-bit bit is
// set when the PCM accepts exactly that configuration. A PCM that cannot be opened is a failed
// query (ALSA's negative error code).

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

}  // namespace zel
