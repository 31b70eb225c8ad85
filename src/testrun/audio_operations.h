#pragma once

// The start-up audio work, playback and the mixer write-back, as the trial cycle sees them.

#include <cstdint>

#include "synthesis/wave_image.h"

namespace zel {

class AudioOperations {
  public:
    virtual ~AudioOperations() = default;

    // Reads the calibration, examines the sound card and sets the mixer, showing its own notices.
    virtual void InitialiseAudio() = 0;
    // Plays the whole image and returns only when it has been played: non-zero when it was
    // played, 0 when it was not (no usable sound card included). The image is not changed.
    virtual int32_t PlayWaveImage(const WaveImage& image) = 0;
    // Writes back the mixer levels saved at start-up.
    virtual void RestoreMixerLevels() = 0;
};

// No sound card: nothing to examine, nothing played, nothing to write back.
class SilentAudio final : public AudioOperations {
  public:
    void InitialiseAudio() override {}
    int32_t PlayWaveImage(const WaveImage&) override { return 0; }
    void RestoreMixerLevels() override {}
};

}  // namespace zel
