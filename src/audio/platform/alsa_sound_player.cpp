#include "audio/platform/alsa_sound_player.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "audio/platform/alsa_quiet.h"
#include "audio/platform/wave_decoder.h"

namespace zel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration;
using std::chrono::microseconds;

// A large buffer rides out scheduling delays on a busy machine; the short period lets the
// sound server start the next image soon after the last one ended.
constexpr unsigned kBufferMicroseconds = 200000;
constexpr unsigned kPeriodMicroseconds = 2000;
// How long a call may run beyond its sound before it gives up (the contract allows 2 s).
constexpr auto kGrace = std::chrono::milliseconds(1500);

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmPointer = std::unique_ptr<snd_pcm_t, PcmCloser>;

void Report(const char* what, int error) {
    std::fprintf(stderr, "%s: sound: %s (%s)\n", program_invocation_short_name, what,
                 snd_strerror(error));
}

}  // namespace

struct AlsaSoundPlayer::Pcm {
    PcmPointer handle;
    int32_t sampleRate = 0;
    int32_t channels = 0;
};

AlsaSoundPlayer::AlsaSoundPlayer(std::string device) : device_(std::move(device)) {
    SilenceAlsaErrors();
}

AlsaSoundPlayer::~AlsaSoundPlayer() = default;

namespace {

// Opens and configures the PCM for the sound's format; null when the device refuses. The rate
// is set exactly: a near rate would change every pitch.
PcmPointer OpenPcm(const std::string& device, int32_t sampleRate, int32_t channels) {
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
        snd_pcm_hw_params_set_channels(pcm.get(), hw, static_cast<unsigned>(channels)) < 0 ||
        snd_pcm_hw_params_set_rate(pcm.get(), hw, static_cast<unsigned>(sampleRate), 0) < 0 ||
        snd_pcm_hw_params_set_buffer_time_near(pcm.get(), hw, &bufferTime, nullptr) < 0 ||
        snd_pcm_hw_params_set_period_time_near(pcm.get(), hw, &periodTime, nullptr) < 0 ||
        snd_pcm_hw_params(pcm.get(), hw) < 0) {
        return nullptr;
    }
    snd_pcm_uframes_t bufferSize = 0;
    snd_pcm_uframes_t periodSize = 0;
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    // Start with the first frames written; wake the writer only when a quarter of the buffer is
    // free, not every short period.
    if (snd_pcm_get_params(pcm.get(), &bufferSize, &periodSize) < 0 ||
        snd_pcm_sw_params_current(pcm.get(), sw) < 0 ||
        snd_pcm_sw_params_set_start_threshold(pcm.get(), sw, 1) < 0 ||
        snd_pcm_sw_params_set_avail_min(pcm.get(), sw, std::max(periodSize, bufferSize / 4)) < 0 ||
        snd_pcm_sw_params(pcm.get(), sw) < 0) {
        return nullptr;
    }
    return pcm;
}

}  // namespace

int32_t AlsaSoundPlayer::PlaySound(const void* image, int32_t byteCount) {
    report_ = {};
    const auto sound = DecodeWaveImage(image, byteCount);
    if (!sound) return 0;
    const auto frames = static_cast<snd_pcm_sframes_t>(sound->Frames());
    const auto started = Clock::now();
    const auto deadline = started +
                          std::chrono::duration_cast<Clock::duration>(
                              duration<double>(static_cast<double>(frames) / sound->sampleRate)) +
                          kGrace;

    if (!pcm_ || pcm_->sampleRate != sound->sampleRate || pcm_->channels != sound->channels) {
        pcm_.reset();
        PcmPointer handle = OpenPcm(device_, sound->sampleRate, sound->channels);
        if (!handle) return 0;
        pcm_ = std::make_unique<Pcm>(Pcm{std::move(handle), sound->sampleRate, sound->channels});
    }
    snd_pcm_t* pcm = pcm_->handle.get();
    // Any failure below closes the device, so the next image starts from a fresh open (a
    // restarted sound server included).
    const auto fail = [this](const char* what, int error) {
        Report(what, error);
        pcm_.reset();
        return 0;
    };
    if (snd_pcm_state(pcm) != SND_PCM_STATE_PREPARED) {
        if (const int error = snd_pcm_prepare(pcm); error < 0) {
            return fail("cannot prepare the output", error);
        }
    }

    const int16_t* samples = sound->samples.data();
    snd_pcm_sframes_t written = 0;
    while (written < frames) {
        if (Clock::now() > deadline) return fail("the output stopped taking sound", -ETIMEDOUT);
        const snd_pcm_sframes_t result =
            snd_pcm_writei(pcm, samples + written * sound->channels,
                           static_cast<snd_pcm_uframes_t>(frames - written));
        if (result > 0) {
            if (written == 0) report_.firstFrameHanded = Clock::now();
            written += result;
        } else if (result == 0 || result == -EAGAIN) {
            snd_pcm_wait(pcm, 20);
        } else if (result == -EPIPE) {
            ++report_.underruns;
            if (const int error = snd_pcm_prepare(pcm); error < 0) {
                return fail("cannot recover from an underrun", error);
            }
        } else if (result == -ESTRPIPE) {
            int error = 0;
            while ((error = snd_pcm_resume(pcm)) == -EAGAIN && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (error < 0 && (error = snd_pcm_prepare(pcm)) < 0) {
                return fail("cannot resume the output", error);
            }
        } else {
            return fail("cannot write to the output", static_cast<int>(result));
        }
    }

    // An image shorter than the start threshold has not started yet.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) {
        if (const int error = snd_pcm_start(pcm); error < 0) {
            return fail("cannot start the output", error);
        }
    }
    // Played when the device has run out of frames (it reports the underrun that ends every
    // image) or says nothing is left to play. Sleep while much is left, then look often: each
    // fraction of a millisecond spent here is silence before the next image.
    for (;;) {
        const snd_pcm_state_t state = snd_pcm_state(pcm);
        if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SETUP) break;
        if (state == SND_PCM_STATE_DISCONNECTED) return fail("the output went away", -ENODEV);
        snd_pcm_sframes_t delay = 0;
        const int error = snd_pcm_delay(pcm, &delay);
        if (error == -EPIPE) break;
        if (error < 0) return fail("cannot follow the output", error);
        if (delay <= 0) break;
        if (Clock::now() > deadline) return fail("the output stopped playing", -ETIMEDOUT);
        const double left = static_cast<double>(delay) / sound->sampleRate;
        const double nap = left > 0.004 ? std::min(left - 0.002, 0.05) : 0.0002;
        std::this_thread::sleep_for(duration<double>(nap));
    }

    if (report_.underruns > 0) {
        std::fprintf(stderr, "%s: sound: %d underrun%s while playing an image, recovered\n",
                     program_invocation_short_name, report_.underruns,
                     report_.underruns == 1 ? "" : "s");
    }
    report_.played = true;
    return 1;
}

}  // namespace zel
