#pragma once

// The watch on the sound server (to be filled in).

#include <memory>

#include "audio/platform/output_watch.h"
#include "audio/platform/pulse/connection.h"

namespace zel {

class PulseOutputWatch final : public OutputWatch {
  public:
    explicit PulseOutputWatch(std::shared_ptr<PulseConnection> connection)
        : connection_(std::move(connection)) {}
    int32_t Arm() override { return 0; }
    std::string Changed() override { return {}; }

  private:
    std::shared_ptr<PulseConnection> connection_;
};

}  // namespace zel
