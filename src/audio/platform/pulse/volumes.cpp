#include "audio/platform/pulse/volumes.h"

#include <optional>

namespace zel {

namespace {

constexpr auto kRequestLimit = std::chrono::seconds(5);

// Runs a query whose answer arrives as one info record, kept as `T` through `convert`.
template <typename T, typename Start>
int32_t Query(PulseContext& context, std::optional<T>& found, Start start) {
    PulseContext::Lock lock(context);
    if (!context.Good()) return context.Failure();
    if (!context.Await(start(), Clock::now() + kRequestLimit)) return context.Failure();
    return found ? 0 : -PA_ERR_NOENTITY;
}

template <typename Request>
int32_t Change(PulseContext& context, Request request) {
    PulseContext::Lock lock(context);
    if (!context.Good()) return context.Failure();
    return context.Ask(request, Clock::now() + kRequestLimit);
}

}  // namespace

int32_t OnPort(
    const std::string& name, const std::string& port,
    const std::function<int32_t(const std::string& name, SinkState&)>& query,
    const std::function<int32_t(const std::string& name, const std::string& port)>& setPort,
    const std::function<int32_t(const SinkState&)>& apply) {
    SinkState sink;
    if (const int32_t r = query(name, sink); r != 0) return r;
    const bool elsewhere = !port.empty() && port != sink.port;
    if (elsewhere) {
        if (const int32_t r = setPort(sink.name, port); r != 0) return r;
    }
    const int32_t applied = apply(sink);
    const int32_t back = elsewhere ? setPort(sink.name, sink.port) : 0;
    return applied != 0 ? applied : back;
}

SinkState ToSinkState(const pa_sink_info& info) {
    SinkState state;
    state.index = info.index;
    state.name = info.name != nullptr ? info.name : "";
    state.description = info.description != nullptr ? info.description : state.name;
    if (info.active_port != nullptr) {
        state.port = info.active_port->name != nullptr ? info.active_port->name : "";
        state.portDescription =
            info.active_port->description != nullptr ? info.active_port->description : state.port;
    }
    for (uint32_t i = 0; i < info.n_ports; ++i) {
        const pa_sink_port_info* port = info.ports[i];
        state.ports.emplace_back(port->name != nullptr ? port->name : "",
                                 port->description != nullptr ? port->description : "");
    }
    state.volume = info.volume;
    state.mute = info.mute != 0;
    return state;
}

StreamState ToStreamState(const pa_sink_input_info& info) {
    StreamState state;
    state.index = info.index;
    state.sink = info.sink;
    state.volume = info.volume;
    state.mute = info.mute != 0;
    state.volumeWritable = info.has_volume && info.volume_writable;
    return state;
}

int32_t QuerySink(PulseContext& context, const std::string& name, uint32_t index,
                  SinkState& state) {
    std::optional<SinkState> found;
    const auto answer = [](pa_context*, const pa_sink_info* info, int, void* data) {
        if (info != nullptr) *static_cast<std::optional<SinkState>*>(data) = ToSinkState(*info);
    };
    const int32_t result = Query(context, found, [&] {
        return name.empty()
                   ? pa_context_get_sink_info_by_index(context.Get(), index, answer, &found)
                   : pa_context_get_sink_info_by_name(context.Get(), name.c_str(), answer, &found);
    });
    if (result == 0) state = *found;
    return result;
}

int32_t QueryDefaultSinkName(PulseContext& context, std::string& name) {
    std::optional<std::string> found;
    const int32_t result = Query(context, found, [&] {
        return pa_context_get_server_info(
            context.Get(),
            [](pa_context*, const pa_server_info* info, void* data) {
                if (info != nullptr && info->default_sink_name != nullptr) {
                    *static_cast<std::optional<std::string>*>(data) = info->default_sink_name;
                }
            },
            &found);
    });
    if (result == 0) name = *found;
    return result;
}

int32_t QuerySinks(PulseContext& context, std::vector<SinkState>& sinks) {
    std::optional<std::vector<SinkState>> found = std::vector<SinkState>();
    const int32_t result = Query(context, found, [&] {
        return pa_context_get_sink_info_list(
            context.Get(),
            [](pa_context*, const pa_sink_info* info, int, void* data) {
                if (info != nullptr) {
                    (*static_cast<std::optional<std::vector<SinkState>>*>(data))
                        ->push_back(ToSinkState(*info));
                }
            },
            &found);
    });
    if (result == 0) sinks = *found;
    return result;
}

int32_t QueryStream(PulseContext& context, uint32_t index, StreamState& state) {
    std::optional<StreamState> found;
    const int32_t result = Query(context, found, [&] {
        return pa_context_get_sink_input_info(
            context.Get(), index,
            [](pa_context*, const pa_sink_input_info* info, int, void* data) {
                if (info != nullptr) {
                    *static_cast<std::optional<StreamState>*>(data) = ToStreamState(*info);
                }
            },
            &found);
    });
    if (result == 0) state = *found;
    return result;
}

int32_t SetSinkVolume(PulseContext& context, const std::string& sink, const pa_cvolume& volume) {
    return Change(context, [&](int* ack) {
        return pa_context_set_sink_volume_by_name(context.Get(), sink.c_str(), &volume,
                                                  PulseContext::ContextAck, ack);
    });
}

int32_t SetSinkMute(PulseContext& context, const std::string& sink, bool mute) {
    return Change(context, [&](int* ack) {
        return pa_context_set_sink_mute_by_name(context.Get(), sink.c_str(), mute ? 1 : 0,
                                                PulseContext::ContextAck, ack);
    });
}

int32_t SetSinkPort(PulseContext& context, const std::string& sink, const std::string& port) {
    return Change(context, [&](int* ack) {
        return pa_context_set_sink_port_by_name(context.Get(), sink.c_str(), port.c_str(),
                                                PulseContext::ContextAck, ack);
    });
}

int32_t SetStreamVolume(PulseContext& context, uint32_t stream, const pa_cvolume& volume) {
    return Change(context, [&](int* ack) {
        return pa_context_set_sink_input_volume(context.Get(), stream, &volume,
                                                PulseContext::ContextAck, ack);
    });
}

int32_t SetStreamMute(PulseContext& context, uint32_t stream, bool mute) {
    return Change(context, [&](int* ack) {
        return pa_context_set_sink_input_mute(context.Get(), stream, mute ? 1 : 0,
                                              PulseContext::ContextAck, ack);
    });
}

}  // namespace zel
