#pragma once

// The watch on the sound server: the server's change events (pa_context_subscribe) for the
// calibrated sink and the program's stream keep their state current, so that a look costs no
// round trip. What changes: a level or mute set by another program, the sink's port (headphones
// plugged in), the stream moved to another sink, or either of them gone. While listening, the
// same events announce other programs' streams on that sink, whose peaks are watched.

#include <memory>

#include "audio/platform/output_watch.h"
#include "audio/platform/pulse/connection.h"
#include "audio/platform/pulse/other_sound.h"
#include "audio/platform/pulse/volumes.h"

namespace zel {

// The calibrated output and the program's stream on it, as the watch follows them.
struct WatchedState {
    SinkState sink;
    StreamState stream;
    bool sinkGone = false;
    bool streamGone = false;
    std::string movedTo;  // the description of the sink the stream was moved to
};
// What differs between the calibrated state and the state now, as one sentence for the user;
// empty when nothing does.
std::string Difference(const WatchedState& calibrated, const WatchedState& now);

class PulseOutputWatch final : public OutputWatch {
  public:
    explicit PulseOutputWatch(std::shared_ptr<PulseConnection> connection)
        : connection_(std::move(connection)) {}
    ~PulseOutputWatch() override;
    PulseOutputWatch(const PulseOutputWatch&) = delete;
    PulseOutputWatch& operator=(const PulseOutputWatch&) = delete;

    int32_t Arm() override;
    // Waits, briefly, only for answers to events already seen.
    std::string Changed() override;
    bool Disturbed() override;
    void Listen(bool on) override;
    std::vector<std::string> Heard() override;
    std::vector<std::string> Sounding() override;

  private:
    using Seen = WatchedState;
    static void OnEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index,
                        void* data);

    std::shared_ptr<PulseConnection> connection_;
    PulseContext* subscribed_ = nullptr;
    std::unique_ptr<PulseOtherSound> others_;  // on the subscribed context
    bool armed_ = false;
    Seen calibrated_;
    Seen now_;
    int pending_ = 0;  // queries under way for events seen
};

}  // namespace zel
