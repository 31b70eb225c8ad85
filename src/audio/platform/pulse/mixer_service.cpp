#include "audio/platform/pulse/mixer_service.h"

#include <pulse/def.h>
#include <pulse/volume.h>

#include <algorithm>

namespace zel {

int32_t PulseMixerService::Open(MixerHandle& handle, uint32_t mixerId) {
    if (mixerId != 0) return -PA_ERR_NOENTITY;
    if (!connection_ || !connection_->Alive()) return -PA_ERR_CONNECTIONTERMINATED;
    handle = next_++;
    open_.insert(handle);
    return 0;
}

int32_t PulseMixerService::Read(MixerHandle handle, uint32_t line, ServerVolume& volume) {
    if (!open_.contains(handle)) return -PA_ERR_INVALID;
    if (line == component::kSpeakers) return connection_->GetSinkVolume(volume);
    if (line == component::kWaveOut) return connection_->GetStreamVolume(volume);
    return -PA_ERR_NOENTITY;
}

int32_t PulseMixerService::Write(uint32_t line, const ServerVolume& volume) {
    return line == component::kSpeakers ? connection_->SetSinkVolume(volume)
                                        : connection_->SetStreamVolume(volume);
}

int32_t PulseMixerService::GetLineInfo(MixerHandle handle, uint32_t componentType,
                                       uint32_t& lineId) {
    ServerVolume volume;
    if (const int32_t result = Read(handle, componentType, volume); result != 0) return result;
    lineId = componentType;
    return 0;
}

int32_t PulseMixerService::GetLineControl(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                                          MixerControl& control) {
    if (!open_.contains(handle)) return -PA_ERR_INVALID;
    if (lineId != component::kSpeakers && lineId != component::kWaveOut) return -PA_ERR_NOENTITY;
    if (controlType != kVolumeControlType) return -PA_ERR_NOTSUPPORTED;
    control.dwControlID = lineId;
    control.lMinimum = 0;
    control.lMaximum = kUniformMaximum;
    return 0;
}

int32_t PulseMixerService::GetControlValue(MixerHandle handle, uint32_t controlId,
                                           uint32_t& value) {
    ServerVolume volume;
    if (const int32_t result = Read(handle, controlId, volume); result != 0) return result;
    value = RawToUniform(*std::max_element(volume.begin(), volume.end()), 0, PA_VOLUME_NORM);
    return 0;
}

int32_t PulseMixerService::SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) {
    if (value > kUniformMaximum) return -PA_ERR_INVALID;
    // Read first for the number of channels.
    ServerVolume volume;
    if (const int32_t result = Read(handle, controlId, volume); result != 0) return result;
    std::fill(volume.begin(), volume.end(),
              static_cast<uint32_t>(UniformToRaw(value, 0, PA_VOLUME_NORM)));
    return Write(controlId, volume);
}

int32_t PulseMixerService::GetLineState(MixerHandle handle, uint32_t controlId,
                                        LineState& state) {
    ServerVolume volume;
    if (const int32_t result = Read(handle, controlId, volume); result != 0) return result;
    state = {};
    state.levels.assign(volume.begin(), volume.end());
    return 0;
}

int32_t PulseMixerService::SetLineLevels(MixerHandle handle, uint32_t controlId,
                                         const LineState& state) {
    ServerVolume current;
    if (const int32_t result = Read(handle, controlId, current); result != 0) return result;
    if (state.levels.size() != current.size()) return -PA_ERR_INVALID;
    ServerVolume volume;
    for (const int64_t level : state.levels) {
        if (level < 0 || level > PA_VOLUME_MAX) return -PA_ERR_INVALID;
        volume.push_back(static_cast<uint32_t>(level));
    }
    return Write(controlId, volume);
}

int32_t PulseMixerService::SetLineSwitches(MixerHandle, uint32_t, const LineState&) {
    return 0;
}

int32_t PulseMixerService::SetSwitches(MixerHandle, uint32_t, bool) {
    return 0;
}

int32_t PulseMixerService::Close(MixerHandle handle) {
    return open_.erase(handle) == 1 ? 0 : -PA_ERR_INVALID;
}

std::string PulseMixerService::Describe(int32_t result) const {
    return PulseConnection::Describe(result);
}

}  // namespace zel
