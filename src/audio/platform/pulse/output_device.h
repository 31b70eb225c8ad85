#pragma once

// The capability query on the sound server: device 0 is the program's stream. The server
// supports the program's format when it accepts that stream (which is then kept for playback; a
// query after it went away opens a new one); a server that has gone away is a failed query.

#include <memory>

#include "audio/platform/output_device.h"
#include "audio/platform/pulse/connection.h"

namespace zel {

class PulseOutputDevice final : public OutputDevice {
  public:
    explicit PulseOutputDevice(std::shared_ptr<PulseConnection> connection)
        : connection_(std::move(connection)) {}
    int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) override;

  private:
    std::shared_ptr<PulseConnection> connection_;
};

}  // namespace zel
