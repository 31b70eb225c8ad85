#pragma once

// The sound player on an ALSA PCM ("default": the user's output, through the sound server when
// one runs). The image is decoded from memory; the PCM stays open between images so that tone,
// silence and tone follow with as little extra silence as the device allows.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/platform/sound_player.h"

namespace zel {

// What happened during the last PlaySound, for the benchmark and the tests.
struct PlayReport {
    bool played = false;
    int32_t underruns = 0;
    // When the first frame was handed to ALSA (unset when none was).
    std::chrono::steady_clock::time_point firstFrameHanded{};
};

class AlsaSoundPlayer final : public SoundPlayer {
  public:
    explicit AlsaSoundPlayer(std::string device = "default");
    ~AlsaSoundPlayer() override;
    AlsaSoundPlayer(const AlsaSoundPlayer&) = delete;
    AlsaSoundPlayer& operator=(const AlsaSoundPlayer&) = delete;

    // Underruns inside an image are recovered and reported with one line on stderr.
    int32_t PlaySound(const void* image, int32_t byteCount) override;

    const PlayReport& LastPlay() const { return report_; }

  private:
    struct Pcm;

    std::string device_;
    std::unique_ptr<Pcm> pcm_;
    PlayReport report_;
};

}  // namespace zel
