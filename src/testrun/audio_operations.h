#pragma once

// The start-up audio work, playback and the mixer write-back, as the trial cycle sees them.

#include <cstdint>
#include <string>
#include <vector>

#include "synthesis/wave_image.h"

namespace zel {

// How a presentation ended.
enum class PresentationEnd {
    Played,  // every image was played
    Silent,  // there is no usable sound card: nothing was to be heard
    Failed,  // it did not play wholly as calibrated (the output failed or was changed); the
             // user has been told
};

class AudioOperations {
  public:
    virtual ~AudioOperations() = default;

    // Reads the calibration, examines the sound card and sets the mixer, showing its own notices.
    virtual void InitialiseAudio() = 0;
    // Queues the whole image after those queued since the last EndPresentation, so that the
    // images of a presentation follow one another without a gap: non-zero when queued, 0 when
    // not (no usable sound card included). The image is not changed.
    virtual int32_t PlayWaveImage(const WaveImage& image) = 0;
    // Returns only when the images queued have been played.
    virtual PresentationEnd EndPresentation() = 0;
    // Writes back the mixer levels saved at start-up, once however often it is called; returns
    // what could not be put back, one line each for the user (empty when everything was).
    virtual std::vector<std::string> RestoreMixerLevels() = 0;
};

// No sound card: nothing to examine, nothing played, nothing to write back.
class SilentAudio final : public AudioOperations {
  public:
    void InitialiseAudio() override {}
    int32_t PlayWaveImage(const WaveImage&) override { return 0; }
    PresentationEnd EndPresentation() override { return PresentationEnd::Silent; }
    std::vector<std::string> RestoreMixerLevels() override { return {}; }
};

}  // namespace zel
