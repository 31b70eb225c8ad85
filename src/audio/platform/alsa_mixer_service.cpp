#include "audio/platform/alsa_mixer_service.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "audio/platform/alsa_quiet.h"

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

AlsaMixerService::AlsaMixerService(std::string device) : device_(std::move(device)) {
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

// The element's raw playback volume range.
int VolumeRange(snd_mixer_elem_t* element, long& minimum, long& maximum) {
    if (!snd_mixer_selem_has_playback_volume(element)) return -ENXIO;
    return snd_mixer_selem_get_playback_volume_range(element, &minimum, &maximum);
}

}  // namespace

int32_t AlsaMixerService::Open(MixerHandle& handle, uint32_t mixerId) {
    if (mixerId != 0) return -ENODEV;
    auto entry = std::make_unique<OpenMixer>();
    if (const int error = snd_mixer_open(&entry->mixer, 0); error < 0) {
        entry->mixer = nullptr;
        return error;
    }
    int error = snd_mixer_attach(entry->mixer, device_.c_str());
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

int32_t AlsaMixerService::GetLineControl(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                         MixerControl& control) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    if (controlType != kVolumeControlType) return -EINVAL;
    snd_mixer_elem_t* element = FindElement(entry->second->mixer, lineId);
    if (element == nullptr) return -ENOENT;
    long minimum = 0;
    long maximum = 0;
    if (const int error = VolumeRange(element, minimum, maximum); error < 0) return error;
    control.dwControlID = lineId;
    control.lMinimum = 0;
    control.lMaximum = kUniformMaximum;
    return 0;
}

int32_t AlsaMixerService::GetControlValue(MixerHandle handle, uint32_t controlId, uint32_t& value) {
    ChannelLevels levels;
    if (const int32_t error = GetChannelLevels(handle, controlId, levels); error < 0) return error;
    if (levels.empty()) return -ENXIO;
    long minimum = 0;
    long maximum = 0;
    snd_mixer_elem_t* element = FindElement(open_.at(handle)->mixer, controlId);
    if (const int error = VolumeRange(element, minimum, maximum); error < 0) return error;
    value = RawToUniform(*std::max_element(levels.begin(), levels.end()), minimum, maximum);
    return 0;
}

int32_t AlsaMixerService::SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    snd_mixer_elem_t* element = FindElement(entry->second->mixer, controlId);
    if (element == nullptr) return -ENOENT;
    long minimum = 0;
    long maximum = 0;
    if (const int error = VolumeRange(element, minimum, maximum); error < 0) return error;
    // ALSA would clamp such a value, or ignore it, and still report success.
    if (value > kUniformMaximum) return -ERANGE;
    return snd_mixer_selem_set_playback_volume_all(
        element, static_cast<long>(UniformToRaw(value, minimum, maximum)));
}

int32_t AlsaMixerService::GetChannelLevels(MixerHandle handle, uint32_t controlId,
                                           ChannelLevels& levels) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    snd_mixer_elem_t* element = FindElement(entry->second->mixer, controlId);
    if (element == nullptr) return -ENOENT;
    if (!snd_mixer_selem_has_playback_volume(element)) return -ENXIO;
    ChannelLevels read;
    for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel) {
        const auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
        if (!snd_mixer_selem_has_playback_channel(element, id)) continue;
        long level = 0;
        if (const int error = snd_mixer_selem_get_playback_volume(element, id, &level); error < 0) {
            return error;
        }
        read.push_back(level);
    }
    levels = std::move(read);
    return 0;
}

int32_t AlsaMixerService::SetChannelLevels(MixerHandle handle, uint32_t controlId,
                                           const ChannelLevels& levels) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    snd_mixer_elem_t* element = FindElement(entry->second->mixer, controlId);
    if (element == nullptr) return -ENOENT;
    long minimum = 0;
    long maximum = 0;
    if (const int error = VolumeRange(element, minimum, maximum); error < 0) return error;
    std::vector<snd_mixer_selem_channel_id_t> channels;
    for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel) {
        const auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
        if (snd_mixer_selem_has_playback_channel(element, id)) channels.push_back(id);
    }
    if (channels.size() != levels.size()) return -EINVAL;
    for (const int64_t level : levels) {
        if (level < minimum || level > maximum) return -ERANGE;
    }
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (const int error = snd_mixer_selem_set_playback_volume(element, channels[i], levels[i]);
            error < 0) {
            return error;
        }
    }
    return 0;
}

int32_t AlsaMixerService::Close(MixerHandle handle) {
    const auto entry = open_.find(handle);
    if (entry == open_.end()) return -EBADF;
    snd_mixer_t* mixer = entry->second->mixer;
    entry->second->mixer = nullptr;
    open_.erase(entry);
    return snd_mixer_close(mixer);
}

}  // namespace zel
