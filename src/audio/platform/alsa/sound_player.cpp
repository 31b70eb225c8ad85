#include "audio/platform/alsa/sound_player.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>

#include "audio/platform/alsa/quiet.h"
#include "audio/platform/wave_decoder.h"

namespace zel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration;

constexpr unsigned kRate = 22050;
// A large buffer rides out scheduling delays on a busy machine: the writer need only come back
// within half a second to keep the sound continuous.
constexpr unsigned kBufferMicroseconds = 500000;
constexpr unsigned kPeriodMicroseconds = 10000;
// How long a call may run beyond its sound before it gives up (the contract allows 2 s).
constexpr auto kGrace = std::chrono::milliseconds(1500);

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmPointer = std::unique_ptr<snd_pcm_t, PcmCloser>;

Clock::duration FramesTime(snd_pcm_sframes_t frames) {
    return std::chrono::duration_cast<Clock::duration>(
        duration<double>(static_cast<double>(frames) / kRate));
}

// Opens and configures the PCM for the program's format; null when the device refuses. The rate
// is set exactly: a near rate would change every pitch.
PcmPointer OpenPcm(const std::string& device, snd_pcm_uframes_t& bufferSize) {
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        return nullptr;
    }
    PcmPointer pcm(raw);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned bufferTime = kBufferMicroseconds;
    unsigned periodTime = kPeriodMicroseconds;
    if (snd_pcm_hw_params_any(pcm.get(), hw) < 0 ||
        snd_pcm_hw_params_set_access(pcm.get(), hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm.get(), hw, SND_PCM_FORMAT_S16) < 0 ||
        snd_pcm_hw_params_set_channels(pcm.get(), hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm.get(), hw, kRate, 0) < 0 ||
        snd_pcm_hw_params_set_buffer_time_near(pcm.get(), hw, &bufferTime, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(pcm.get(), hw, &periodTime, nullptr) < 0 ||
        snd_pcm_hw_params(pcm.get(), hw) < 0) {
        return nullptr;
    }
    snd_pcm_uframes_t periodSize = 0;
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    // Start with the first frames written; wake the writer every period.
    if (snd_pcm_get_params(pcm.get(), &bufferSize, &periodSize) < 0 ||
        snd_pcm_sw_params_current(pcm.get(), sw) < 0 ||
        snd_pcm_sw_params_set_start_threshold(pcm.get(), sw, 1) < 0 ||
        snd_pcm_sw_params_set_avail_min(pcm.get(), sw, periodSize) < 0 ||
        snd_pcm_sw_params(pcm.get(), sw) < 0) {
        return nullptr;
    }
    return pcm;
}

}  // namespace

struct AlsaSoundPlayer::Pcm {
    PcmPointer handle;
    snd_pcm_uframes_t bufferSize = 0;
};

AlsaSoundPlayer::AlsaSoundPlayer(std::string device) : device_(std::move(device)) {
    SilenceAlsaErrors();
}

AlsaSoundPlayer::~AlsaSoundPlayer() = default;

int32_t AlsaSoundPlayer::Fail(const char* what, int error) {
    const std::string problem = std::string(what) + " (" + snd_strerror(error) + ")";
    std::fprintf(stderr, "%s: sound: %s\n", program_invocation_short_name, problem.c_str());
    // The next presentation starts from a fresh open.
    pcm_.reset();
    return presentation_.Fail("the sound card " + problem);
}

int32_t AlsaSoundPlayer::Queue(const void* image, int32_t byteCount) {
    PresentationState& p = presentation_;
    const bool first = p.Begin();
    if (p.failed) return 0;
    const auto sound = DecodeWaveImage(image, byteCount);
    if (!sound || sound->sampleRate != static_cast<int32_t>(kRate) || sound->channels != 1) {
        return p.Fail("the sound is not 16-bit mono at 22,050 Hz");
    }
    const auto frames = static_cast<snd_pcm_sframes_t>(sound->Frames());
    const auto deadline = Clock::now() + FramesTime(frames) + kGrace;
    if (!pcm_) {
        auto pcm = std::make_unique<Pcm>();
        pcm->handle = OpenPcm(device_, pcm->bufferSize);
        if (!pcm->handle) return Fail("cannot be opened for 16-bit mono at 22,050 Hz", -ENODEV);
        pcm_ = std::move(pcm);
    }
    snd_pcm_t* pcm = pcm_->handle.get();
    // A presentation starts from an empty, stopped device: the last one ended with the device
    // run dry, which some plugins report while still running on silence.
    if (first && snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED) {
        snd_pcm_drop(pcm);
        if (const int error = snd_pcm_prepare(pcm); error < 0) {
            return Fail("cannot be prepared", error);
        }
    }

    const int16_t* samples = sound->samples.data();
    snd_pcm_sframes_t written = 0;
    while (written < frames) {
        if (Clock::now() > deadline) return Fail("stopped taking sound", -ETIMEDOUT);
        const snd_pcm_sframes_t result = snd_pcm_writei(
            pcm, samples + written, static_cast<snd_pcm_uframes_t>(frames - written));
        if (result > 0) {
            if (p.report.firstFrameQueued == Clock::time_point{}) {
                p.report.firstFrameQueued = Clock::now();
            }
            written += result;
        } else if (result == 0 || result == -EAGAIN) {
            snd_pcm_wait(pcm, 100);
        } else if (result == -EPIPE) {
            ++p.report.underruns;
            if (const int error = snd_pcm_prepare(pcm); error < 0) {
                return Fail("cannot recover from an underrun", error);
            }
        } else if (result == -ESTRPIPE) {
            int error = 0;
            while ((error = snd_pcm_resume(pcm)) == -EAGAIN && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (error < 0 && (error = snd_pcm_prepare(pcm)) < 0) {
                return Fail("cannot resume", error);
            }
        } else {
            return Fail("cannot be written to", static_cast<int>(result));
        }
    }
    p.queued += FramesTime(frames);
    return 1;
}

int32_t AlsaSoundPlayer::Finish() {
    PresentationState& p = presentation_;
    if (!p.End() || p.failed || !pcm_) return 0;
    snd_pcm_t* pcm = pcm_->handle.get();
    // A presentation shorter than the start threshold has not started yet.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
        if (const int error = snd_pcm_start(pcm); error < 0) return Fail("cannot start", error);
    }
    const auto deadline =
        Clock::now() + FramesTime(static_cast<snd_pcm_sframes_t>(pcm_->bufferSize)) + kGrace;
    // Played when the device has run dry: it then reports an underrun (or, through some
    // plugins, an empty buffer). Sleep while much is left, then look often: each fraction of a
    // millisecond spent here delays the answer buttons.
    for (;;) {
        const snd_pcm_state_t state = snd_pcm_state(pcm);
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SETUP) break;
        if (state == SND_PCM_STATE_DISCONNECTED) return Fail("went away", -ENODEV);
        const snd_pcm_sframes_t avail = snd_pcm_avail(pcm);
        if (avail == -EPIPE) break;
        if (avail < 0) return Fail("cannot be followed", static_cast<int>(avail));
        const auto left = static_cast<snd_pcm_sframes_t>(pcm_->bufferSize) - avail;
        if (left <= 0) break;
        if (Clock::now() > deadline) return Fail("stopped playing", -ETIMEDOUT);
        const auto nap = left > 100 ? FramesTime(left - 44) : std::chrono::microseconds(200);
        std::this_thread::sleep_for(std::min<Clock::duration>(nap, std::chrono::milliseconds(50)));
    }
    if (p.report.underruns > 0) {
        std::fprintf(stderr, "%s: sound: %d underrun%s during a presentation, recovered\n",
                     program_invocation_short_name, p.report.underruns,
                     p.report.underruns == 1 ? "" : "s");
    }
    return 1;
}

}  // namespace zel
