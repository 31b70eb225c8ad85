#include "audio/platform/alsa/pcm.h"

namespace zel {

namespace {

// Half a second of buffer: the writer need only come back within that to keep the sound whole.
constexpr unsigned kBufferMicroseconds = 500000;
constexpr unsigned kPeriodMicroseconds = 10000;
// The card's own rate where it does not take the program's: the usual rate of a card.
constexpr unsigned kPreferredRate = 48000;

std::string Thousands(unsigned n) {
    const std::string digits = std::to_string(n);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace

std::string PcmSetup::Describe() const {
    const std::string layout = channels == 1   ? "mono"
                               : channels == 2 ? "stereo"
                                               : std::to_string(channels) + " channels";
    return Thousands(rate) + " Hz " + layout +
           (Converts() ? ", converted by the program from " + Thousands(kProgramRate) + " Hz"
                       : ", as synthesised");
}

PcmPointer OpenPcm(const std::string& device, PcmSetup& setup, int& error) {
    snd_pcm_t* raw = nullptr;
    // Non-blocking: a busy device must not stall the program.
    if ((error = snd_pcm_open(&raw, device.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK)) <
        0) {
        return nullptr;
    }
    PcmPointer pcm(raw);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    PcmSetup chosen;
    chosen.channels = 1;
    unsigned bufferTime = kBufferMicroseconds;
    unsigned periodTime = kPeriodMicroseconds;
    // Some plugins answer 1 to _any: only a negative result is a failure.
    if ((error = snd_pcm_hw_params_any(pcm.get(), hw)) < 0 ||
        (error = snd_pcm_hw_params_set_rate_resample(pcm.get(), hw, 0)) < 0 ||
        (error = snd_pcm_hw_params_set_access(pcm.get(), hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (error = snd_pcm_hw_params_set_format(pcm.get(), hw, SND_PCM_FORMAT_S16)) < 0 ||
        (error = snd_pcm_hw_params_set_channels_near(pcm.get(), hw, &chosen.channels)) < 0) {
        return nullptr;
    }
    chosen.rate = kProgramRate;
    if (snd_pcm_hw_params_test_rate(pcm.get(), hw, kProgramRate, 0) != 0)
        chosen.rate = kPreferredRate;
    if ((error = snd_pcm_hw_params_set_rate_near(pcm.get(), hw, &chosen.rate, nullptr)) < 0 ||
        (error = snd_pcm_hw_params_set_buffer_time_near(pcm.get(), hw, &bufferTime, nullptr)) < 0 ||
        (error = snd_pcm_hw_params_set_period_time_near(pcm.get(), hw, &periodTime, nullptr)) < 0 ||
        (error = snd_pcm_hw_params(pcm.get(), hw)) < 0 ||
        (error = snd_pcm_get_params(pcm.get(), &chosen.buffer, &chosen.period)) < 0) {
        return nullptr;
    }
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    // Start with the first frames written; wake the writer every period.
    if ((error = snd_pcm_sw_params_current(pcm.get(), sw)) < 0 ||
        (error = snd_pcm_sw_params_set_start_threshold(pcm.get(), sw, 1)) < 0 ||
        (error = snd_pcm_sw_params_set_avail_min(pcm.get(), sw, chosen.period)) < 0 ||
        (error = snd_pcm_sw_params(pcm.get(), sw)) < 0) {
        return nullptr;
    }
    setup = chosen;
    return pcm;
}

}  // namespace zel
