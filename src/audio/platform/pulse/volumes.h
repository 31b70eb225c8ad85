#pragma once

// The levels, mutes and ports the calibration touches on the sound server: the sink's (the
// output device's) and the program's own stream's. Each call takes the lock and waits for the
// server's answer.

#include <pulse/pulseaudio.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "audio/platform/pulse/context.h"

namespace zel {

struct SinkState {
    uint32_t index = PA_INVALID_INDEX;
    std::string name;
    std::string description;
    std::string port;  // the active port; empty where the sink has none
    std::string portDescription;
    std::vector<std::pair<std::string, std::string>> ports;  // name and description of each
    pa_cvolume volume{};
    bool mute = false;
};

struct StreamState {
    uint32_t index = PA_INVALID_INDEX;
    uint32_t sink = PA_INVALID_INDEX;
    pa_cvolume volume{};
    bool mute = false;
    bool volumeWritable = false;
};

// Runs `apply` on the sink `name` with `port` active, as a sink's state is put back on the port it
// was read on: a port no longer active is made active for the moment it takes, then the one active
// now again. `query` and `setPort` reach the server (QuerySink, SetSinkPort), apart so that ports
// can be tried without a sink that has them.
int32_t OnPort(
    const std::string& name, const std::string& port,
    const std::function<int32_t(const std::string& name, SinkState&)>& query,
    const std::function<int32_t(const std::string& name, const std::string& port)>& setPort,
    const std::function<int32_t(const SinkState&)>& apply);

// The states as the server's answers give them.
SinkState ToSinkState(const pa_sink_info& info);
StreamState ToStreamState(const pa_sink_input_info& info);

// By name, or by index when the name is empty.
int32_t QuerySink(PulseContext& context, const std::string& name, uint32_t index, SinkState& state);
int32_t QueryDefaultSinkName(PulseContext& context, std::string& name);
int32_t QuerySinks(PulseContext& context, std::vector<SinkState>& sinks);
int32_t QueryStream(PulseContext& context, uint32_t index, StreamState& state);

int32_t SetSinkVolume(PulseContext& context, const std::string& sink, const pa_cvolume& volume);
int32_t SetSinkMute(PulseContext& context, const std::string& sink, bool mute);
int32_t SetSinkPort(PulseContext& context, const std::string& sink, const std::string& port);
int32_t SetStreamVolume(PulseContext& context, uint32_t stream, const pa_cvolume& volume);
int32_t SetStreamMute(PulseContext& context, uint32_t stream, bool mute);

}  // namespace zel
