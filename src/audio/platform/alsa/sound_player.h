#pragma once

// The sound player on an ALSA PCM ("default": the sound card, where no sound server runs). The
// PCM stays open between presentations; each image is written into the device's buffer as room
// appears, so the next image is written before the last one has run out. The end of a
// presentation is the device running dry.

#include <memory>
#include <string>

#include "audio/platform/sound_player.h"

namespace zel {

class AlsaSoundPlayer final : public SoundPlayer {
  public:
    explicit AlsaSoundPlayer(std::string device = "default");
    ~AlsaSoundPlayer() override;
    AlsaSoundPlayer(const AlsaSoundPlayer&) = delete;
    AlsaSoundPlayer& operator=(const AlsaSoundPlayer&) = delete;

    // An underrun inside a presentation is recovered, counted and reported with one line on
    // stderr.
    int32_t Queue(const void* image, int32_t byteCount) override;
    int32_t Finish() override;
    std::string Problem() const override { return presentation_.problem; }
    PresentationReport LastPresentation() const override { return presentation_.report; }

  private:
    struct Pcm;
    int32_t Fail(const char* what, int error);

    std::string device_;
    std::unique_ptr<Pcm> pcm_;
    PresentationState presentation_;
};

}  // namespace zel
