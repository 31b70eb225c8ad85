#include "audio/platform/alsa/output_device.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <memory>

#include "audio/platform/alsa/quiet.h"

namespace zel {

AlsaOutputDevice::AlsaOutputDevice(std::string device) : device_(std::move(device)) {
    SilenceAlsaErrors();
}

int32_t AlsaOutputDevice::GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) {
    if (deviceId != 0) return -ENODEV;
    snd_pcm_t* raw = nullptr;
    // Non-blocking: a busy device must not stall the start-up.
    if (const int error =
            snd_pcm_open(&raw, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        error < 0) {
        return error;
    }
    const std::unique_ptr<snd_pcm_t, int (*)(snd_pcm_t*)> pcm(raw, snd_pcm_close);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    // Some plugins answer 1 here: only a negative result is a failure.
    if (const int error = snd_pcm_hw_params_any(pcm.get(), hw); error < 0) return error;
    // Each setting narrows the next test, so the bit means all three together.
    const bool supported =
        snd_pcm_hw_params_set_access(pcm.get(), hw, SND_PCM_ACCESS_RW_INTERLEAVED) == 0 &&
        snd_pcm_hw_params_set_format(pcm.get(), hw, SND_PCM_FORMAT_S16_LE) == 0 &&
        snd_pcm_hw_params_set_channels(pcm.get(), hw, 1) == 0 &&
        snd_pcm_hw_params_test_rate(pcm.get(), hw, 22050, 0) == 0;
    caps.dwFormats = supported ? kWaveFormat2M16 : 0;
    return 0;
}

}  // namespace zel
