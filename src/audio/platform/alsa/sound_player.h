#pragma once

// The sound player on an ALSA PCM ("default": the sound card, where no sound server runs). The
// PCM stays open between presentations; each image is written into the device's buffer as room
// appears, so the next image is written before the last one has run out. Where the card does not
// take 22,050 Hz, the program converts each presentation to the card's rate as one signal. A
// presentation ends with the device drained, so that every frame is played and nothing after it;
// one that ran dry on the way (the program held up longer than the buffer) has failed.

#include <memory>
#include <string>
#include <vector>

#include "audio/platform/alsa/pcm.h"
#include "audio/platform/alsa/rate_converter.h"
#include "audio/platform/sound_player.h"

namespace zel {

class AlsaSoundPlayer final : public SoundPlayer {
  public:
    explicit AlsaSoundPlayer(std::shared_ptr<AlsaOutput> output);
    ~AlsaSoundPlayer() override;
    AlsaSoundPlayer(const AlsaSoundPlayer&) = delete;
    AlsaSoundPlayer& operator=(const AlsaSoundPlayer&) = delete;

    int32_t Queue(const void* image, int32_t byteCount) override;
    int32_t Finish() override;
    Clock::duration Ahead() const override;
    void StopWhen(std::function<bool()> stop) override { stop_ = std::move(stop); }
    void Cut() override { presentation_.cut = true; }
    std::string Problem() const override { return presentation_.problem; }
    PresentationReport LastPresentation() const override { return presentation_.report; }

  private:
    // Opens the PCM unless it is open; false when it cannot be.
    bool Open();
    // Writes mono samples at the card's rate, to each of its channels.
    bool Write(const std::vector<int16_t>& samples, Clock::time_point deadline);
    bool Drain(Clock::time_point deadline);
    // True when the presentation is to be cut short, unless it is being cut already.
    bool Stopping();
    // Takes back what the card has not yet played, but for a period and a few milliseconds, fades
    // out from there and drains; the presentation has failed.
    bool CutShort(Clock::time_point deadline);
    // Fails the presentation, closing the PCM for a fresh start; false.
    bool Failed(const std::string& what, int error);
    Clock::time_point Deadline() const;

    // Closes the PCM, so that it is opened afresh.
    void Close();

    std::shared_ptr<AlsaOutput> output_;
    PcmPointer pcm_;
    std::string opened_;  // the device pcm_ is
    PcmSetup setup_;
    std::unique_ptr<RateConverter> converter_;
    PresentationState presentation_;
    std::vector<int16_t> converted_;
    std::vector<int16_t> frames_;
    snd_pcm_uframes_t written_ = 0;  // frames of this presentation
    std::vector<int16_t> history_;   // its sound at the card's rate, what a cut fades out
    std::function<bool()> stop_;
    bool cutting_ = false;
};

}  // namespace zel
