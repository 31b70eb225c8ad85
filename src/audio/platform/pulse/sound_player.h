#pragma once

// The sound player on the sound server: the program's own stream. Each image is handed to the
// server whole, as soon as it is queued, so a presentation sits in the server's queue before its
// first frame is heard and nothing this program does can open a gap in it. The end of a
// presentation is its last frame played at the output, the output's latency included.

#include <memory>
#include <string>

#include "audio/platform/pulse/connection.h"
#include "audio/platform/sound_player.h"

namespace zel {

class PulseSoundPlayer final : public SoundPlayer {
  public:
    explicit PulseSoundPlayer(std::shared_ptr<PulseConnection> connection);

    int32_t Queue(const void* image, int32_t byteCount) override;
    int32_t Finish() override;
    Clock::duration Ahead() const override;
    void StopWhen(std::function<bool()> stop) override { stop_ = std::move(stop); }
    void Cut() override { presentation_.cut = true; }
    std::string Problem() const override { return presentation_.problem; }
    PresentationReport LastPresentation() const override { return presentation_.report; }

  private:
    std::shared_ptr<PulseConnection> connection_;
    PresentationState presentation_;
    std::function<bool()> stop_;
    // The output's latency when the presentation began: every wait of the presentation ends by
    // its sound, this latency and a grace.
    Clock::duration latency_{};
};

}  // namespace zel
