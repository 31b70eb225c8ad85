#pragma once

// The output on the sound server: a sink, the default one unless the settings name another (its
// name, as `pactl list short sinks` gives it, and where it has ports, its active port). The
// capability query's device 0 is the program's stream on that sink: the server supports the
// program's format when it accepts that stream (which is then kept for playback; a query after it
// went away opens a new one); a server that has gone away is a failed query.

#include <memory>

#include "audio/platform/output_device.h"
#include "audio/platform/pulse/connection.h"

namespace zel {

class PulseOutputDevice final : public OutputDevice {
  public:
    // `connection` is null when no server answered; `problem` then says why.
    PulseOutputDevice(std::shared_ptr<PulseConnection> connection, std::string problem)
        : connection_(std::move(connection)), problem_(std::move(problem)) {}

    int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) override;
    int32_t Choose(const std::string& name, const std::string& port,
                   OutputMismatch& mismatch) override;
    int32_t List(std::vector<OutputInfo>& outputs) override;
    int32_t InUse(OutputInfo& output) override;
    std::string Describe() override;

  private:
    std::shared_ptr<PulseConnection> connection_;
    std::string problem_;
};

}  // namespace zel
