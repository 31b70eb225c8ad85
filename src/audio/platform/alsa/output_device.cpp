#include "audio/platform/alsa/output_device.h"

#include <cerrno>

#include "audio/platform/alsa/pcm.h"
#include "audio/platform/alsa/quiet.h"

namespace zel {

AlsaOutputDevice::AlsaOutputDevice(std::string device) : device_(std::move(device)) {
    SilenceAlsaErrors();
}

int32_t AlsaOutputDevice::GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) {
    if (deviceId != 0) return -ENODEV;
    // A device that exists: it plays the program's sound when it can be set up for 16-bit, at
    // 22,050 Hz or at a rate the program converts to.
    snd_pcm_t* raw = nullptr;
    if (const int error =
            snd_pcm_open(&raw, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        error < 0) {
        return error;
    }
    snd_pcm_close(raw);
    PcmSetup setup;
    int error = 0;
    caps.dwFormats = OpenPcm(device_, setup, error) ? kWaveFormat2M16 : 0;
    return 0;
}

std::string DescribeAlsaOutput(const std::string& device) {
    SilenceAlsaErrors();
    PcmSetup setup;
    int error = 0;
    if (!OpenPcm(device, setup, error)) return "ALSA device \"" + device + "\"";
    return "ALSA device \"" + device + "\" at " + setup.Describe();
}

}  // namespace zel
