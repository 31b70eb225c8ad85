#include "audio/platform/pulse/mixer_service.h"

#include <pulse/def.h>
#include <pulse/volume.h>

#include <algorithm>

namespace zel {

namespace {

ChannelLevels Levels(const pa_cvolume& volume) {
    return ChannelLevels(volume.values, volume.values + volume.channels);
}

// A volume the server can take with the channels of `like`, or false.
bool ToVolume(const ChannelLevels& levels, const pa_cvolume& like, pa_cvolume& out) {
    if (levels.size() != like.channels) return false;
    out = like;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] < 0 || levels[i] > PA_VOLUME_MAX) return false;
        out.values[i] = static_cast<pa_volume_t>(levels[i]);
    }
    return pa_cvolume_valid(&out) != 0;
}

std::string SinkWhere(const std::string& name, const std::string& port) {
    return "sink " + name + (port.empty() ? "" : ", port " + port);
}

}  // namespace

int32_t PulseMixerService::Open(MixerHandle& handle, uint32_t mixerId) {
    if (mixerId != 0) return -PA_ERR_NOENTITY;
    if (!connection_) return -PA_ERR_CONNECTIONREFUSED;
    int32_t result = 0;
    if (connection_->Control(result) == nullptr) return result;
    handle = next_++;
    open_.insert(handle);
    return 0;
}

int32_t PulseMixerService::Read(MixerHandle handle, uint32_t line, Line& found) {
    if (!open_.contains(handle)) return -PA_ERR_INVALID;
    if (line != component::kSpeakers && line != component::kWaveOut) return -PA_ERR_NOENTITY;
    int32_t result = 0;
    found.context = connection_->Control(result);
    if (found.context == nullptr) return result;
    // The stream, where it is the session's and still plays: after a fresh connection it is gone.
    PulseStream* stream =
        found.context == &connection_->Context() ? connection_->Stream() : nullptr;
    uint32_t streamIndex = PA_INVALID_INDEX, sinkIndex = PA_INVALID_INDEX;
    if (stream != nullptr) {
        PulseContext::Lock lock(*found.context);
        if (stream->Good()) {
            streamIndex = stream->Index();
            sinkIndex = stream->SinkIndex();
        }
    }
    if (line == component::kWaveOut) {
        if (streamIndex == PA_INVALID_INDEX) return -PA_ERR_NOENTITY;
        if (const int32_t r = QueryStream(*found.context, streamIndex, found.stream); r != 0) {
            return r;
        }
        if (!found.stream.volumeWritable) return -PA_ERR_NOTSUPPORTED;
        return QuerySink(*found.context, "", found.stream.sink, found.sink);
    }
    if (sinkIndex != PA_INVALID_INDEX) return QuerySink(*found.context, "", sinkIndex, found.sink);
    std::string name;
    if (const int32_t r = QueryDefaultSinkName(*found.context, name); r != 0) return r;
    return QuerySink(*found.context, name, PA_INVALID_INDEX, found.sink);
}

int32_t PulseMixerService::GetLineInfo(MixerHandle handle, uint32_t componentType,
                                       uint32_t& lineId) {
    Line found;
    if (const int32_t result = Read(handle, componentType, found); result != 0) return result;
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
    Line found;
    if (const int32_t result = Read(handle, controlId, found); result != 0) return result;
    const pa_cvolume& volume =
        controlId == component::kSpeakers ? found.sink.volume : found.stream.volume;
    value = RawToUniform(pa_cvolume_max(&volume), 0, PA_VOLUME_NORM);
    return 0;
}

int32_t PulseMixerService::SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) {
    // A gain above 100 % is never applied: the settings' scale ends at 65,535.
    if (value > kUniformMaximum) return -PA_ERR_INVALID;
    Line found;
    if (const int32_t result = Read(handle, controlId, found); result != 0) return result;
    const auto raw = static_cast<pa_volume_t>(UniformToRaw(value, 0, PA_VOLUME_NORM));
    if (controlId == component::kSpeakers) {
        pa_cvolume volume = found.sink.volume;
        pa_cvolume_set(&volume, volume.channels, raw);
        return SetSinkVolume(*found.context, found.sink.name, volume);
    }
    pa_cvolume volume = found.stream.volume;
    pa_cvolume_set(&volume, volume.channels, raw);
    return SetStreamVolume(*found.context, found.stream.index, volume);
}

int32_t PulseMixerService::GetLineState(MixerHandle handle, uint32_t controlId, LineState& state) {
    Line found;
    if (const int32_t result = Read(handle, controlId, found); result != 0) return result;
    LineState read;
    if (controlId == component::kSpeakers) {
        read.levels = Levels(found.sink.volume);
        read.switches = {!found.sink.mute};
        read.output = found.sink.name;
        read.port = found.sink.port;
        read.where = SinkWhere(found.sink.name, found.sink.port);
    } else {
        read.levels = Levels(found.stream.volume);
        read.switches = {!found.stream.mute};
        read.output = "stream " + std::to_string(found.stream.index);
        read.where = "the stream Zel Test on sink " + found.sink.name;
    }
    state = std::move(read);
    return 0;
}

template <typename Apply>
int32_t PulseMixerService::PutBack(MixerHandle handle, uint32_t line, const LineState& state,
                                   Apply apply) {
    if (line == component::kWaveOut && !connection_->Alive()) return 0;  // gone with the stream
    Line found;
    const int32_t result = Read(handle, line, found);
    if (line == component::kWaveOut) {
        // The stream's level lives and dies with the stream: once it is gone, or another one
        // plays, there is nothing of it left to put back.
        if (result == -PA_ERR_NOENTITY ||
            (result == 0 && state.output != "stream " + std::to_string(found.stream.index))) {
            return 0;
        }
        return result != 0 ? result : apply(found.context, found.stream.volume);
    }
    if (result != 0 && found.context == nullptr) return result;
    PulseContext& context = *found.context;
    return OnPort(
        state.output, state.port,
        [&](const std::string& name, SinkState& sink) {
            return QuerySink(context, name, PA_INVALID_INDEX, sink);
        },
        [&](const std::string& name, const std::string& port) {
            return SetSinkPort(context, name, port);
        },
        [&](const SinkState& sink) { return apply(&context, sink.volume); });
}

int32_t PulseMixerService::SetLineLevels(MixerHandle handle, uint32_t controlId,
                                         const LineState& state) {
    return PutBack(handle, controlId, state, [&](PulseContext* context, const pa_cvolume& like) {
        pa_cvolume volume;
        if (!ToVolume(state.levels, like, volume)) return int32_t{-PA_ERR_INVALID};
        if (controlId == component::kSpeakers) {
            return SetSinkVolume(*context, state.output, volume);
        }
        return SetStreamVolume(*context, connection_->Stream()->Index(), volume);
    });
}

int32_t PulseMixerService::SetLineSwitches(MixerHandle handle, uint32_t controlId,
                                           const LineState& state) {
    if (state.switches.size() != 1) return -PA_ERR_INVALID;
    const bool mute = !state.switches[0];
    return PutBack(handle, controlId, state, [&](PulseContext* context, const pa_cvolume&) {
        if (controlId == component::kSpeakers) return SetSinkMute(*context, state.output, mute);
        return SetStreamMute(*context, connection_->Stream()->Index(), mute);
    });
}

int32_t PulseMixerService::SetSwitches(MixerHandle handle, uint32_t controlId, bool on) {
    Line found;
    if (const int32_t result = Read(handle, controlId, found); result != 0) return result;
    if (controlId == component::kSpeakers) return SetSinkMute(*found.context, found.sink.name, !on);
    return SetStreamMute(*found.context, found.stream.index, !on);
}

int32_t PulseMixerService::GetGain(MixerHandle handle, uint32_t controlId, uint32_t value,
                                   double& dB) {
    if (!open_.contains(handle)) return -PA_ERR_INVALID;
    if (controlId != component::kSpeakers && controlId != component::kWaveOut) {
        return -PA_ERR_NOENTITY;
    }
    if (value > kUniformMaximum) return -PA_ERR_INVALID;
    // The server's volume curve, the same for the sink and the stream.
    dB = pa_sw_volume_to_dB(static_cast<pa_volume_t>(UniformToRaw(value, 0, PA_VOLUME_NORM)));
    return 0;
}

int32_t PulseMixerService::Close(MixerHandle handle) {
    return open_.erase(handle) == 1 ? 0 : -PA_ERR_INVALID;
}

std::string PulseMixerService::Describe(int32_t result) const {
    return PulseContext::Describe(result);
}

}  // namespace zel
