#include "audio/platform/alsa/sound_player.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>

#include "audio/platform/alsa/quiet.h"
#include "audio/platform/wave_decoder.h"

namespace zel {

namespace {

// How long a presentation may run beyond its sound and the device's latency before it fails.
constexpr auto kGrace = std::chrono::seconds(2);

Clock::duration FramesTime(snd_pcm_uframes_t frames, unsigned rate) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(frames) / rate));
}

}  // namespace

AlsaSoundPlayer::AlsaSoundPlayer(std::shared_ptr<AlsaOutput> output) : output_(std::move(output)) {
    SilenceAlsaErrors();
}

AlsaSoundPlayer::~AlsaSoundPlayer() {
    Close();
}

void AlsaSoundPlayer::Close() {
    pcm_.reset();
    output_->held = false;
}

bool AlsaSoundPlayer::Failed(const std::string& what, int error) {
    // The next presentation starts from a fresh open.
    Close();
    presentation_.Fail("the sound card " + what + " (" + snd_strerror(error) + ")");
    return false;
}

bool AlsaSoundPlayer::Open() {
    // Another card chosen since: that one is opened instead.
    if (pcm_ && opened_ == output_->Pcm()) return true;
    Close();
    opened_ = output_->Pcm();
    int error = 0;
    pcm_ = OpenPcm(output_->Pcm(), setup_, error);
    if (!pcm_) return Failed("cannot be opened for 16-bit sound", error);
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_alloca(&info);
    output_->held = true;
    output_->heldSetup = setup_;
    output_->heldCard = snd_pcm_info(pcm_.get(), info) < 0 ? -1 : snd_pcm_info_get_card(info);
    converter_.reset();
    if (setup_.Converts()) {
        converter_ = RateConverter::Make(kProgramRate, setup_.rate);
        if (!converter_) return Failed("plays at a rate the program cannot convert to", -EINVAL);
    }
    return true;
}

Clock::time_point AlsaSoundPlayer::Deadline() const {
    return presentation_.report.firstFrameQueued + presentation_.queued +
           FramesTime(setup_.buffer, setup_.rate) + kGrace;
}

int32_t AlsaSoundPlayer::Queue(const void* image, int32_t byteCount) {
    PresentationState& p = presentation_;
    const bool first = p.Begin();
    // Once an image has failed nothing more of the presentation is played.
    if (p.failed) return 0;
    const auto sound = DecodeWaveImage(image, byteCount);
    if (!sound || sound->sampleRate != static_cast<int32_t>(kProgramRate) || sound->channels != 1) {
        return p.Fail("the sound is not 16-bit mono at 22,050 Hz");
    }
    if (!Open()) return 0;
    if (first) {
        // Each presentation starts from a stopped, empty device, and a fresh signal.
        snd_pcm_drop(pcm_.get());
        if (const int error = snd_pcm_prepare(pcm_.get()); error < 0) {
            Failed("cannot be prepared", error);
            return 0;
        }
        if (converter_) converter_->Begin();
        written_ = 0;
        history_.clear();
        p.report.firstFrameQueued = Clock::now();
    }
    p.queued += FramesTime(sound->Frames(), kProgramRate);
    const std::vector<int16_t>* samples = &sound->samples;
    if (converter_) {
        converted_.clear();
        if (!converter_->Convert(sound->samples.data(), sound->samples.size(), converted_)) {
            Failed("sound cannot be converted to its rate", -EINVAL);
            return 0;
        }
        samples = &converted_;
    }
    return Write(*samples, Deadline()) ? 1 : 0;
}

bool AlsaSoundPlayer::Write(const std::vector<int16_t>& samples, Clock::time_point deadline) {
    const int16_t* data = samples.data();
    if (setup_.channels != 1) {
        frames_.resize(samples.size() * setup_.channels);
        for (std::size_t i = 0; i < frames_.size(); ++i) frames_[i] = samples[i / setup_.channels];
        data = frames_.data();
    }
    history_.insert(history_.end(), samples.begin(), samples.end());
    const auto frames = static_cast<snd_pcm_uframes_t>(samples.size());
    snd_pcm_t* pcm = pcm_.get();
    for (snd_pcm_uframes_t done = 0; done < frames;) {
        if (Stopping()) return CutShort(deadline);
        if (Clock::now() > deadline) return Failed("stopped taking sound", -ETIMEDOUT);
        const snd_pcm_sframes_t result =
            snd_pcm_writei(pcm, data + done * setup_.channels, frames - done);
        if (result > 0) {
            done += static_cast<snd_pcm_uframes_t>(result);
            written_ += static_cast<snd_pcm_uframes_t>(result);
        } else if (result == 0 || result == -EAGAIN) {
            snd_pcm_wait(pcm, 10);
        } else if (result == -EPIPE) {
            // The device ran dry inside the presentation: a gap the listener would hear.
            return Failed("ran dry: the program was held up longer than its buffer", -EPIPE);
        } else if (result == -ESTRPIPE) {
            return Failed("was suspended", -ESTRPIPE);
        } else {
            return Failed("cannot be written to", static_cast<int>(result));
        }
    }
    return true;
}

bool AlsaSoundPlayer::Stopping() {
    return !cutting_ && (presentation_.cut || (stop_ && stop_()));
}

bool AlsaSoundPlayer::CutShort(Clock::time_point deadline) {
    cutting_ = true;
    snd_pcm_t* pcm = pcm_.get();
    // The card's position moves a period at a time: it may be playing up to a period beyond it.
    const auto keep = static_cast<snd_pcm_sframes_t>(setup_.period + setup_.rate / 200);
    // Within this presentation's sound only.
    const snd_pcm_sframes_t rewindable =
        std::min(snd_pcm_rewindable(pcm), static_cast<snd_pcm_sframes_t>(written_));
    const snd_pcm_sframes_t back =
        rewindable > keep ? std::max<snd_pcm_sframes_t>(snd_pcm_rewind(pcm, rewindable - keep), 0)
                          : 0;
    written_ -= static_cast<snd_pcm_uframes_t>(back);
    // 5 ms, a raised cosine, then a period of silence.
    const std::size_t fade = setup_.rate / 200;
    std::vector<int16_t> tail(fade + setup_.period, 0);
    for (std::size_t i = 0; i < fade && written_ + i < history_.size(); ++i) {
        const double gain = 0.5 * (1 + std::cos(M_PI * (static_cast<double>(i) + 0.5) / fade));
        tail[i] = static_cast<int16_t>(std::lrint(history_[written_ + i] * gain));
    }
    history_.resize(written_);
    if (Write(tail, deadline)) Drain(deadline);
    cutting_ = false;
    presentation_.Fail("the sound was stopped");
    return false;
}

bool AlsaSoundPlayer::Drain(Clock::time_point deadline) {
    snd_pcm_t* pcm = pcm_.get();
    // A rate converter (the card's, or in a plug) passes only whole periods on: the last partial
    // one is made whole with silence.
    const snd_pcm_uframes_t partial = written_ % setup_.period;
    if (partial != 0 && !Write(std::vector<int16_t>(setup_.period - partial), deadline)) {
        return false;
    }
    // A presentation shorter than the start threshold has not started yet.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
        if (const int error = snd_pcm_start(pcm); error < 0) return Failed("cannot start", error);
    }
    // While more than two periods are left, the presentation can still be cut short; the drain
    // plays the rest.
    for (snd_pcm_sframes_t delay = 0; snd_pcm_delay(pcm, &delay) == 0 &&
                                      delay > static_cast<snd_pcm_sframes_t>(2 * setup_.period);) {
        if (Stopping()) return CutShort(deadline);
        if (Clock::now() > deadline) {
            snd_pcm_drop(pcm);
            return Failed("stopped playing", -ETIMEDOUT);
        }
        const auto left =
            FramesTime(static_cast<snd_pcm_uframes_t>(delay) - 2 * setup_.period, setup_.rate);
        std::this_thread::sleep_for(std::clamp<Clock::duration>(left, std::chrono::milliseconds(1),
                                                                std::chrono::milliseconds(10)));
    }
    // Non-blocking, a drain answers -EAGAIN until it is done.
    int result = 0;
    while ((result = snd_pcm_drain(pcm)) == -EAGAIN) {
        if (Clock::now() > deadline) {
            snd_pcm_drop(pcm);
            return Failed("stopped playing", -ETIMEDOUT);
        }
        // Until about when the last frame is due, a few milliseconds at a time.
        snd_pcm_sframes_t delay = 0;
        const auto left = snd_pcm_delay(pcm, &delay) == 0 && delay > 0
                              ? FramesTime(static_cast<snd_pcm_uframes_t>(delay), setup_.rate)
                              : Clock::duration{};
        std::this_thread::sleep_for(std::clamp<Clock::duration>(left, std::chrono::milliseconds(1),
                                                                std::chrono::milliseconds(10)));
    }
    if (result == -EPIPE || snd_pcm_state(pcm) == SND_PCM_STATE_XRUN)
        return Failed("ran dry", -EPIPE);
    if (result < 0) return Failed("cannot be drained", result);
    return true;
}

Clock::duration AlsaSoundPlayer::Ahead() const {
    snd_pcm_sframes_t delay = 0;
    if (!pcm_ || snd_pcm_delay(pcm_.get(), &delay) < 0 || delay <= 0) return {};
    return FramesTime(static_cast<snd_pcm_uframes_t>(delay), setup_.rate);
}

int32_t AlsaSoundPlayer::Finish() {
    PresentationState& p = presentation_;
    if (!p.End() || p.failed || !pcm_) {
        if (pcm_) snd_pcm_drop(pcm_.get());
        return 0;
    }
    if (converter_) {
        converted_.clear();
        if (!converter_->Finish(converted_)) return Failed("sound cannot be converted", -EINVAL);
        if (!Write(converted_, Deadline())) return 0;
    }
    return Drain(Deadline()) ? 1 : 0;
}

}  // namespace zel
