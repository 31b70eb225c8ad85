#pragma once

// Audio operations that keep what they were given: every image played, in order, and each call
// in the window's log, so tests see what was on screen when a tone started.

#include <vector>

#include "fakes/recording_window.h"
#include "testrun/audio_operations.h"

namespace zel::testing {

class FakeAudio final : public AudioOperations {
  public:
    explicit FakeAudio(RecordingWindow& window) : window_(window) {}

    void InitialiseAudio() override { window_.log.push_back("InitialiseAudio"); }
    int32_t PlayWaveImage(const WaveImage& image) override {
        window_.log.push_back("play");
        played.push_back(image);
        return 1;
    }
    PresentationEnd EndPresentation() override {
        window_.log.push_back("EndPresentation");
        return PresentationEnd::Played;
    }
    void RestoreMixerLevels() override { window_.log.push_back("RestoreMixerLevels"); }

    std::vector<WaveImage> played;

  private:
    RecordingWindow& window_;
};

}  // namespace zel::testing
