#include "audio/platform/pulse/output_device.h"

#include <pulse/def.h>

#include "audio/platform/pulse/volumes.h"

namespace zel {

namespace {

OutputInfo ToOutput(const SinkState& sink, const std::string& defaultSink) {
    OutputInfo output;
    output.name = sink.name;
    output.description = sink.description;
    for (const auto& [name, description] : sink.ports) output.ports.push_back({name, description});
    output.activePort = sink.port;
    output.isDefault = sink.name == defaultSink;
    return output;
}

std::string PortWords(const SinkState& sink, const std::string& port) {
    for (const auto& [name, description] : sink.ports) {
        if (name == port) return description.empty() ? name : description;
    }
    return port;
}

}  // namespace

int32_t PulseOutputDevice::GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) {
    if (deviceId != 0) return -PA_ERR_NOENTITY;
    if (!connection_) return -PA_ERR_CONNECTIONREFUSED;
    const int32_t opened = connection_->OpenStream();
    if (opened != 0 && !connection_->Alive()) return opened;
    caps.dwFormats = opened == 0 ? kWaveFormat2M16 : 0;
    return 0;
}

int32_t PulseOutputDevice::Choose(const std::string& name, const std::string& port,
                                  OutputMismatch& mismatch) {
    if (!connection_) return -PA_ERR_CONNECTIONREFUSED;
    SinkState sink;
    if (const int32_t result = QuerySink(connection_->Context(), name, PA_INVALID_INDEX, sink);
        result != 0) {
        mismatch.what = name;
        mismatch.missing = true;
        return result;
    }
    if (!port.empty() && port != sink.port) {
        mismatch.what = sink.description;
        mismatch.port = PortWords(sink, port);
        mismatch.activePort = sink.port.empty() ? std::string() : sink.portDescription;
        for (const auto& [portName, description] : sink.ports) {
            mismatch.hasPort = mismatch.hasPort || portName == port;
            mismatch.ports.push_back(portName + " (" + description + ")");
        }
        return -PA_ERR_NOENTITY;
    }
    connection_->Target(name);
    return 0;
}

int32_t PulseOutputDevice::List(std::vector<OutputInfo>& outputs) {
    if (!connection_) return -PA_ERR_CONNECTIONREFUSED;
    std::vector<SinkState> sinks;
    std::string defaultSink;
    if (const int32_t result = QuerySinks(connection_->Context(), sinks); result != 0) {
        return result;
    }
    QueryDefaultSinkName(connection_->Context(), defaultSink);
    outputs.clear();
    for (const SinkState& sink : sinks) outputs.push_back(ToOutput(sink, defaultSink));
    return 0;
}

int32_t PulseOutputDevice::InUse(OutputInfo& output) {
    if (!connection_) return -PA_ERR_CONNECTIONREFUSED;
    PulseContext& context = connection_->Context();
    uint32_t index = PA_INVALID_INDEX;
    if (PulseStream* stream = connection_->Stream()) {
        PulseContext::Lock lock(context);
        if (stream->Good()) index = stream->SinkIndex();
    }
    std::string defaultSink;
    QueryDefaultSinkName(context, defaultSink);
    SinkState sink;
    const int32_t result = index != PA_INVALID_INDEX
                               ? QuerySink(context, "", index, sink)
                               : QuerySink(context, defaultSink, PA_INVALID_INDEX, sink);
    if (result == 0) output = ToOutput(sink, defaultSink);
    return result;
}

std::string PulseOutputDevice::Describe() {
    if (!connection_) return "the sound server, but none answered (" + problem_ + ")";
    OutputInfo output;
    const std::string server = "the sound server " + connection_->ServerName();
    if (InUse(output) != 0) return server;
    std::string port;
    for (const OutputInfo::Port& p : output.ports) {
        if (p.name == output.activePort) port = ", port " + p.description;
    }
    return server + ", output " + output.description + port + " (" + output.name + ")";
}

}  // namespace zel
