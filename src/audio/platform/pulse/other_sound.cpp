#include "audio/platform/pulse/other_sound.h"

#include <algorithm>
#include <cstring>

#include "audio/platform/output_watch.h"

namespace zel {

namespace {

constexpr pa_sample_spec kPeaks{PA_SAMPLE_FLOAT32LE, 25, 1};
// PipeWire delivers a stream's peaks up to about 100 ms after the sound has played (PulseAudio
// before): what was played until Stop is read within this.
constexpr auto kTail = std::chrono::milliseconds(150);
constexpr auto kNow = std::chrono::milliseconds(500);

// The name the desktop's sound settings show for the program.
std::string NameOf(const pa_sink_input_info& info) {
    for (const char* key : {PA_PROP_APPLICATION_NAME, PA_PROP_APPLICATION_PROCESS_BINARY}) {
        const char* name = pa_proplist_gets(info.proplist, key);
        if (name != nullptr && *name != '\0') return name;
    }
    return "an unnamed program (sink input " + std::to_string(info.index) + ")";
}

}  // namespace

PulseOtherSound::~PulseOtherSound() {
    for (auto& [input, monitor] : monitors_) Detach(*monitor);
    listening_ = false;
    context_.WaitFor([&] { return pending_ <= 0; }, Clock::now() + std::chrono::seconds(1));
}

void PulseOtherSound::Start(uint32_t sink, uint32_t own) {
    Stop();
    heard_.clear();
    sink_ = sink;
    own_ = own;
    listening_ = true;
    Query(pa_context_get_sink_input_info_list(
        context_.Get(),
        [](pa_context*, const pa_sink_input_info* info, int eol, void* data) {
            auto* self = static_cast<PulseOtherSound*>(data);
            if (info != nullptr) self->Seen(*info);
            if (eol != 0) --self->pending_;
        },
        this));
}

void PulseOtherSound::Stop() {
    if (!listening_) return;
    const bool flowing = std::any_of(monitors_.begin(), monitors_.end(),
                                     [](const auto& entry) { return entry.second->read; });
    if (flowing) context_.WaitFor([] { return false; }, Clock::now() + kTail);
    listening_ = false;
    for (auto& [input, monitor] : monitors_) Detach(*monitor);
    monitors_.clear();
}

void PulseOtherSound::Query(pa_operation* operation) {
    if (operation == nullptr) return;
    ++pending_;
    pa_operation_unref(operation);
}

void PulseOtherSound::OnEvent(pa_subscription_event_type_t kind, uint32_t index) {
    if (!listening_ || index == own_) return;
    if (kind != PA_SUBSCRIPTION_EVENT_REMOVE) {
        Query(pa_context_get_sink_input_info(
            context_.Get(), index,
            [](pa_context*, const pa_sink_input_info* info, int eol, void* data) {
                auto* self = static_cast<PulseOtherSound*>(data);
                if (info != nullptr && self->listening_) self->Seen(*info);
                if (eol != 0) --self->pending_;
            },
            this));
        return;
    }
    const auto found = monitors_.find(index);
    if (found == monitors_.end()) return;
    // Gone before its level could be read (an event sound of a moment): it may have sounded.
    if (found->second->running && !found->second->read) Hear(found->second->name);
    Detach(*found->second);
    monitors_.erase(found);
}

void PulseOtherSound::Seen(const pa_sink_input_info& info) {
    if (info.index == own_) return;
    const auto found = monitors_.find(info.index);
    if (info.sink != sink_) {
        // Moved away (PipeWire announces a stream before it has a sink).
        if (found != monitors_.end()) {
            Detach(*found->second);
            monitors_.erase(found);
        }
        return;
    }
    Monitor* monitor = found != monitors_.end() ? found->second.get() : nullptr;
    if (monitor == nullptr) {
        monitor = monitors_.emplace(info.index, std::make_unique<Monitor>()).first->second.get();
        monitor->owner = this;
        Attach(*monitor, info.index);
    }
    monitor->name = NameOf(info);
    monitor->running = monitor->running || info.corked == 0;
}

void PulseOtherSound::Attach(Monitor& monitor, uint32_t input) {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "Peak level of another program's sound");
    monitor.stream =
        pa_stream_new_with_proplist(context_.Get(), "Peak level", &kPeaks, nullptr, properties);
    pa_proplist_free(properties);
    if (monitor.stream == nullptr) return;
    pa_stream_set_monitor_stream(monitor.stream, input);
    pa_stream_set_read_callback(monitor.stream, OnPeaks, &monitor);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xFF, sizeof attributes);
    attributes.fragsize = sizeof(float);  // each reading as it comes
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_PEAK_DETECT | PA_STREAM_DONT_MOVE |
                                                      PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_record(monitor.stream, nullptr, &attributes, flags) < 0) {
        Detach(monitor);
    }
}

void PulseOtherSound::Detach(Monitor& monitor) {
    if (monitor.stream == nullptr) return;
    pa_stream_set_read_callback(monitor.stream, nullptr, nullptr);
    pa_stream_disconnect(monitor.stream);
    pa_stream_unref(monitor.stream);
    monitor.stream = nullptr;
}

void PulseOtherSound::OnPeaks(pa_stream* stream, std::size_t, void* data) {
    auto& monitor = *static_cast<Monitor*>(data);
    const void* bytes = nullptr;
    std::size_t size = 0;
    while (pa_stream_peek(stream, &bytes, &size) == 0 && size > 0) {
        if (bytes != nullptr) {
            monitor.read = true;
            const auto* peaks = static_cast<const float*>(bytes);
            const float* loudest = std::max_element(peaks, peaks + size / sizeof(float));
            if (loudest != peaks + size / sizeof(float) && *loudest >= kOtherSoundPeak) {
                monitor.loud = Clock::now();
                if (monitor.owner->listening_) monitor.owner->Hear(monitor.name);
            }
        }
        pa_stream_drop(stream);
    }
}

void PulseOtherSound::Hear(const std::string& name) {
    if (std::find(heard_.begin(), heard_.end(), name) == heard_.end()) heard_.push_back(name);
    context_.Wake();
}

std::vector<std::string> PulseOtherSound::Sounding() const {
    std::vector<std::string> names;
    const auto since = Clock::now() - kNow;
    for (const auto& [input, monitor] : monitors_) {
        if (monitor->loud > since &&
            std::find(names.begin(), names.end(), monitor->name) == names.end()) {
            names.push_back(monitor->name);
        }
    }
    return names;
}

}  // namespace zel
