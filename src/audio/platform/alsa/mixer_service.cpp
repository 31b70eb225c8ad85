#include "audio/platform/alsa/mixer_service.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/platform/alsa/quiet.h"

namespace zel {

const char* ElementForComponent(uint32_t componentType) {
    switch (componentType) {
        case component::kSpeakers:
            return "Master";
        case component::kWaveOut:
            return "PCM";
        case component::kSynthesizer:
            return "Synth";
        case component::kCompactDisc:
            return "CD";
        case component::kLine:
            return "Line";
        case component::kMicrophone:
            return "Mic";
        case component::kMonitor:
            return "Monitor";
        case component::kTelephone:
            return "Phone";
        default:
            return nullptr;
    }
}

struct AlsaMixerService::OpenMixer {
    snd_mixer_t* mixer = nullptr;
    ~OpenMixer() {
        if (mixer != nullptr) snd_mixer_close(mixer);
    }
};

AlsaMixerService::AlsaMixerService(std::shared_ptr<const AlsaOutput> output)
    : output_(std::move(output)) {
    SilenceAlsaErrors();
}

AlsaMixerService::~AlsaMixerService() = default;

namespace {

// The element for a line or control identifier (both are the component type), or null.
snd_mixer_elem_t* FindElement(snd_mixer_t* mixer, uint32_t id) {
    const char* name = ElementForComponent(id);
    if (name == nullptr) return nullptr;
    snd_mixer_selem_id_t* selem = nullptr;
    snd_mixer_selem_id_alloca(&selem);
    snd_mixer_selem_id_set_name(selem, name);
    snd_mixer_selem_id_set_index(selem, 0);
    return snd_mixer_find_selem(mixer, selem);
}

}  // namespace

struct AlsaMixerService::Volume {
    snd_mixer_elem_t* element = nullptr;
    long minimum = 0;
    long maximum = 0;
    std::vector<snd_mixer_selem_channel_id_t> channels;

    int ReadLevels(ChannelLevels& levels) const {
        ChannelLevels read;
        for (const snd_mixer_selem_channel_id_t channel : channels) {
            long level = 0;
            if (const int error = snd_mixer_selem_get_playback_volume(element, channel, &level);
                error < 0) {
                return error;
            }
            read.push_back(level);
        }
        levels = std::move(read);
        return 0;
    }

    // The channels of the playback switch: one where it is joined, none where there is none.
    std::vector<snd_mixer_selem_channel_id_t> SwitchChannels() const {
        if (!snd_mixer_selem_has_playback_switch(element)) return {};
        if (snd_mixer_selem_has_playback_switch_joined(element)) return {SND_MIXER_SCHN_MONO};
        return channels;
    }

    int ReadSwitches(std::vector<bool>& switches) const {
        std::vector<bool> read;
        for (const snd_mixer_selem_channel_id_t channel : SwitchChannels()) {
            int on = 0;
            if (const int error = snd_mixer_selem_get_playback_switch(element, channel, &on);
                error < 0) {
                return error;
            }
            read.push_back(on != 0);
        }
        switches = std::move(read);
        return 0;
    }
};

int32_t AlsaMixerService::Open(MixerHandle& handle, uint32_t mixerId) {
    if (mixerId != 0) return -ENODEV;
    auto entry = std::make_unique<OpenMixer>();
    if (const int error = snd_mixer_open(&entry->mixer, 0); error < 0) {
        entry->mixer = nullptr;
        return error;
    }
    int error = snd_mixer_attach(entry->mixer, output_->Control().c_str());
    if (error >= 0) error = snd_mixer_selem_register(entry->mixer, nullptr, nullptr);
    if (error >= 0) error = snd_mixer_load(entry->mixer);
    if (error < 0) return error;
    handle = next_++;
    open_.emplace(handle, std::move(entry));
    return 0;
}

int32_t AlsaMixerService::GetLineInfo(MixerHandle handle, uint32_t componentType,
                                      uint32_t& lineId) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    if (FindElement(entry->second->mixer, componentType) == nullptr) return -ENOENT;
    lineId = componentType;
    return 0;
}

int32_t AlsaMixerService::FindVolume(MixerHandle handle, uint32_t id, Volume& volume) const {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    volume.element = FindElement(entry->second->mixer, id);
    if (volume.element == nullptr) return -ENOENT;
    if (!snd_mixer_selem_has_playback_volume(volume.element)) return -ENXIO;
    if (const int error = snd_mixer_selem_get_playback_volume_range(volume.element, &volume.minimum,
                                                                    &volume.maximum);
        error < 0) {
        return error;
    }
    for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel) {
        const auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
        if (snd_mixer_selem_has_playback_channel(volume.element, id)) volume.channels.push_back(id);
    }
    return volume.channels.empty() ? -ENXIO : 0;
}

int32_t AlsaMixerService::GetLineControl(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                         MixerControl& control) {
    if (controlType != kVolumeControlType) return open_.contains(handle) ? -EINVAL : -EBADF;
    Volume volume;
    if (const int32_t error = FindVolume(handle, lineId, volume); error < 0) return error;
    control.dwControlID = lineId;
    control.lMinimum = 0;
    control.lMaximum = kUniformMaximum;
    return 0;
}

int32_t AlsaMixerService::GetControlValue(MixerHandle handle, uint32_t controlId, uint32_t& value) {
    Volume volume;
    ChannelLevels levels;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    if (const int error = volume.ReadLevels(levels); error < 0) return error;
    value = RawToUniform(*std::max_element(levels.begin(), levels.end()), volume.minimum,
                         volume.maximum);
    return 0;
}

int32_t AlsaMixerService::SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) {
    Volume volume;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    // ALSA would clamp such a value, or ignore it, and still report success.
    if (value > kUniformMaximum) return -ERANGE;
    return snd_mixer_selem_set_playback_volume_all(
        volume.element, static_cast<long>(UniformToRaw(value, volume.minimum, volume.maximum)));
}

int32_t AlsaMixerService::GetLineState(MixerHandle handle, uint32_t controlId, LineState& state) {
    Volume volume;
    LineState read;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    if (const int error = volume.ReadLevels(read.levels); error < 0) return error;
    if (const int error = volume.ReadSwitches(read.switches); error < 0) return error;
    read.output = output_->Control();
    read.where = std::string("element ") + ElementForComponent(controlId) + " on " + read.output;
    state = std::move(read);
    return 0;
}

int32_t AlsaMixerService::SetLineLevels(MixerHandle handle, uint32_t controlId,
                                        const LineState& state) {
    Volume volume;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    const ChannelLevels& levels = state.levels;
    if (volume.channels.size() != levels.size()) return -EINVAL;
    for (const int64_t level : levels) {
        if (level < volume.minimum || level > volume.maximum) return -ERANGE;
    }
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (const int error = snd_mixer_selem_set_playback_volume(
                volume.element, volume.channels[i], static_cast<long>(levels[i]));
            error < 0) {
            return error;
        }
    }
    return 0;
}

int32_t AlsaMixerService::SetLineSwitches(MixerHandle handle, uint32_t controlId,
                                          const LineState& state) {
    Volume volume;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    const auto channels = volume.SwitchChannels();
    if (channels.size() != state.switches.size()) return -EINVAL;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (const int error =
                snd_mixer_selem_set_playback_switch(volume.element, channels[i], state.switches[i]);
            error < 0) {
            return error;
        }
    }
    return 0;
}

int32_t AlsaMixerService::SetSwitches(MixerHandle handle, uint32_t controlId, bool on) {
    Volume volume;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    if (!snd_mixer_selem_has_playback_switch(volume.element)) return 0;
    return snd_mixer_selem_set_playback_switch_all(volume.element, on ? 1 : 0);
}

int32_t AlsaMixerService::Close(MixerHandle handle) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    snd_mixer_t* mixer = entry->second->mixer;
    entry->second->mixer = nullptr;
    open_.erase(entry);
    return snd_mixer_close(mixer);
}

int32_t AlsaMixerService::GetGain(MixerHandle handle, uint32_t controlId, uint32_t value,
                                  double& dB) {
    Volume volume;
    if (const int32_t error = FindVolume(handle, controlId, volume); error < 0) return error;
    if (value > kUniformMaximum) return -ERANGE;
    long hundredths = 0;
    if (const int error = snd_mixer_selem_ask_playback_vol_dB(
            volume.element, static_cast<long>(UniformToRaw(value, volume.minimum, volume.maximum)),
            &hundredths);
        error < 0) {
        return error;
    }
    // ALSA's own floor for a muting step.
    dB = hundredths <= SND_CTL_TLV_DB_GAIN_MUTE ? -INFINITY : hundredths / 100.0;
    return 0;
}

std::string AlsaMixerService::Describe(int32_t result) const {
    return snd_strerror(result);
}

}  // namespace zel
