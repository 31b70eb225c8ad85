#include "audio/platform/alsa/output_device.h"

#include <cerrno>

#include "audio/platform/alsa/quiet.h"

namespace zel {

namespace {

// The card numbered `index`, as an output; false when it cannot be read.
bool CardInfo(int index, OutputInfo& card) {
    snd_ctl_t* control = nullptr;
    if (snd_ctl_open(&control, ("hw:" + std::to_string(index)).c_str(), 0) < 0) return false;
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    const bool read = snd_ctl_card_info(control, info) >= 0;
    if (read) {
        card.name = snd_ctl_card_info_get_id(info);
        card.description = snd_ctl_card_info_get_name(info);
    }
    snd_ctl_close(control);
    return read;
}

}  // namespace

AlsaOutputDevice::AlsaOutputDevice(std::shared_ptr<AlsaOutput> output, std::string why)
    : output_(std::move(output)), why_(std::move(why)) {
    SilenceAlsaErrors();
}

int32_t AlsaOutputDevice::GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) {
    if (deviceId != 0) return -ENODEV;
    // Open and set up for the program's sound by the player already.
    if (output_->held) {
        caps.dwFormats = kWaveFormat2M16;
        return 0;
    }
    // A device that exists: it plays the program's sound when it can be set up for 16-bit, at
    // 22,050 Hz or at a rate the program converts to.
    snd_pcm_t* raw = nullptr;
    if (const int error =
            snd_pcm_open(&raw, output_->Pcm().c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        error < 0) {
        return error;
    }
    snd_pcm_close(raw);
    PcmSetup setup;
    int error = 0;
    caps.dwFormats = OpenPcm(output_->Pcm(), setup, error) ? kWaveFormat2M16 : 0;
    return 0;
}

int32_t AlsaOutputDevice::Choose(const std::string& name, const std::string&,
                                 OutputMismatch& mismatch) {
    if (snd_card_get_index(name.c_str()) < 0) {
        mismatch.what = "the sound card " + name;
        mismatch.missing = true;
        return -ENODEV;
    }
    output_->card = name;
    return 0;
}

int32_t AlsaOutputDevice::List(std::vector<OutputInfo>& outputs) {
    outputs.clear();
    for (int index = -1; snd_card_next(&index) == 0 && index >= 0;) {
        OutputInfo card;
        // "default" is the first card unless the configuration says otherwise.
        card.isDefault = outputs.empty();
        if (CardInfo(index, card)) outputs.push_back(card);
    }
    return 0;
}

int32_t AlsaOutputDevice::InUse(OutputInfo& output) {
    output = {};
    int index = output_->card.empty() ? -1 : snd_card_get_index(output_->card.c_str());
    if (index < 0 && output_->held) index = output_->heldCard;
    if (index < 0 && !output_->held) {
        // The card behind "default", where it is one.
        PcmSetup setup;
        int error = 0;
        const PcmPointer pcm = OpenPcm(output_->Pcm(), setup, error);
        snd_pcm_info_t* info = nullptr;
        snd_pcm_info_alloca(&info);
        if (!pcm || snd_pcm_info(pcm.get(), info) < 0) return 0;
        index = snd_pcm_info_get_card(info);
    }
    if (index >= 0) CardInfo(index, output);
    return 0;
}

std::string AlsaOutputDevice::Describe() {
    OutputInfo card;
    InUse(card);
    const std::string device =
        output_->card.empty() ? "ALSA device \"default\"" : "ALSA card " + output_->card;
    const std::string named =
        card.description.empty() || !output_->card.empty() ? "" : ", card " + card.name;
    PcmSetup setup = output_->heldSetup;
    int error = 0;
    const std::string rate = output_->held || OpenPcm(output_->Pcm(), setup, error)
                                 ? " at " + setup.Describe()
                                 : std::string();
    return device + (card.description.empty() ? "" : " (" + card.description + named + ")") + rate +
           " (" + why_ + ")";
}

}  // namespace zel
