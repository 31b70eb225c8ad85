#include "audio/platform/pulse/connection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <optional>

namespace zel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, 22050, 1};
constexpr auto kConnectLimit = std::chrono::seconds(5);
constexpr auto kRequestLimit = std::chrono::seconds(5);
// The latency asked of the server. Generous: a presentation is queued whole anyway, and a server
// running in larger blocks is less likely to miss one on a busy machine. The end of a
// presentation waits for this latency to pass.
constexpr pa_usec_t kTargetLatency = 200 * PA_USEC_PER_MSEC;
// What the stream may hold beyond that: a whole presentation is queued at once, so that no
// delay of this program between images can open a gap.
constexpr pa_usec_t kQueueLimit = 12 * PA_USEC_PER_SEC;

// Holds the threaded main loop's lock: every libpulse call outside its callbacks needs it.
class Locked {
  public:
    explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~Locked() { pa_threaded_mainloop_unlock(loop_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    pa_threaded_mainloop* loop_;
};

// Outcome of a request whose answer is success or failure, and its callbacks.
struct Ack {
    int success = 0;
};
void StreamAck(pa_stream*, int success, void* data) {
    static_cast<Ack*>(data)->success = success;
}
void ContextAck(pa_context*, int success, void* data) {
    static_cast<Ack*>(data)->success = success;
}

// A volume the server can take, or false.
bool ToServer(const ServerVolume& volume, pa_cvolume& out) {
    if (volume.empty() || volume.size() > PA_CHANNELS_MAX) return false;
    pa_cvolume_init(&out);
    out.channels = static_cast<uint8_t>(volume.size());
    std::copy(volume.begin(), volume.end(), out.values);
    return pa_cvolume_valid(&out) != 0;
}

ServerVolume FromServer(const pa_cvolume& volume) {
    return ServerVolume(volume.values, volume.values + volume.channels);
}

}  // namespace

struct PulseConnection::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::string serverName;
    std::string sinkName;
    std::size_t targetLength = 0;
    std::size_t queueLimit = 0;
    // An upper bound of what the server holds of the stream, in bytes.
    std::size_t queued = 0;
    bool presenting = false;
    int32_t underflows = 0;
    // Between presentations the stream is corked: its queue then keeps its place, so the next
    // presentation starts with its first frame (PipeWire's server would otherwise skip a few).
    bool corked = false;

    ~Impl() {
        if (loop == nullptr) return;
        {
            Locked lock(loop);
            if (stream != nullptr) {
                pa_stream_disconnect(stream);
                pa_stream_unref(stream);
            }
            if (context != nullptr) {
                pa_context_disconnect(context);
                pa_context_unref(context);
            }
        }
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    static void Wake(void* data) { pa_threaded_mainloop_signal(static_cast<Impl*>(data)->loop, 0); }

    bool ContextGood() const { return pa_context_get_state(context) == PA_CONTEXT_READY; }
    bool StreamGood() const {
        return ContextGood() && stream != nullptr && pa_stream_get_state(stream) == PA_STREAM_READY;
    }
    // The result for a failure just seen: the connection's loss above all.
    int32_t Failure() const {
        if (!ContextGood()) return -PA_ERR_CONNECTIONTERMINATED;
        if (stream != nullptr && pa_stream_get_state(stream) != PA_STREAM_READY) {
            return -PA_ERR_BADSTATE;
        }
        const int error = pa_context_errno(context);
        return error != 0 ? -error : -PA_ERR_UNKNOWN;
    }

    // With the lock held: waits until `done` holds, the connection fails or `deadline` passes.
    template <typename Done>
    bool WaitFor(Done done, Clock::time_point deadline) {
        struct Alarm {
            pa_threaded_mainloop* loop;
            bool rang = false;
        } alarm{loop};
        const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
        const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
        pa_time_event* timer = pa_context_rttime_new(
            context, pa_rtclock_now() + static_cast<pa_usec_t>(usec),
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
                auto* alarm = static_cast<Alarm*>(data);
                alarm->rang = true;
                pa_threaded_mainloop_signal(alarm->loop, 0);
            },
            &alarm);
        bool ok = false;
        while (!(ok = done()) && !alarm.rang &&
               pa_context_get_state(context) != PA_CONTEXT_FAILED &&
               pa_context_get_state(context) != PA_CONTEXT_TERMINATED) {
            pa_threaded_mainloop_wait(loop);
        }
        if (timer != nullptr) pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return ok;
    }

    // With the lock held: waits for the answer to a request; false when none came in time (the
    // request is then cancelled, so its callback can no longer run).
    bool Await(pa_operation* operation, Clock::time_point deadline) {
        if (operation == nullptr) return false;
        pa_operation_set_state_callback(
            operation, [](pa_operation*, void* data) { Wake(data); }, this);
        const bool done = WaitFor(
            [&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, deadline);
        const bool answered = done && pa_operation_get_state(operation) == PA_OPERATION_DONE;
        if (!answered) pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return answered;
    }

    // With the lock held: a request whose answer is success or failure.
    template <typename Request>
    int32_t Ask(Request request, Clock::time_point deadline) {
        Ack ack;
        if (!Await(request(&ack), deadline)) return StreamGood() ? -PA_ERR_TIMEOUT : Failure();
        return ack.success ? 0 : Failure();
    }

    int32_t Cork(bool cork) {
        const int32_t result =
            Ask([&](Ack* ack) { return pa_stream_cork(stream, cork ? 1 : 0, StreamAck, ack); },
                Clock::now() + kRequestLimit);
        if (result == 0) corked = cork;
        return result;
    }

    int32_t ResolveSink() {
        if (!sinkName.empty()) return 0;
        if (StreamGood()) {
            if (const char* name = pa_stream_get_device_name(stream)) sinkName = name;
        }
        if (sinkName.empty()) {
            pa_operation* request = pa_context_get_server_info(
                context,
                [](pa_context*, const pa_server_info* info, void* data) {
                    if (info != nullptr && info->default_sink_name != nullptr) {
                        *static_cast<std::string*>(data) = info->default_sink_name;
                    }
                },
                &sinkName);
            if (!Await(request, Clock::now() + kRequestLimit)) return Failure();
        }
        return sinkName.empty() ? -PA_ERR_NOENTITY : 0;
    }
};

PulseConnection::PulseConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PulseConnection::~PulseConnection() = default;

std::unique_ptr<PulseConnection> PulseConnection::Connect(std::string& problem) {
    auto impl = std::make_unique<Impl>();
    impl->loop = pa_threaded_mainloop_new();
    if (impl->loop == nullptr) {
        problem = "cannot start libpulse's main loop";
        return nullptr;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Zel Test");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "org.zeltest.ZelTest");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "org.zeltest.ZelTest");
    impl->context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(impl->loop),
                                                 "Zel Test", properties);
    pa_proplist_free(properties);
    if (impl->context == nullptr) {
        problem = "cannot create a libpulse context";
        return nullptr;
    }
    pa_context_set_state_callback(
        impl->context, [](pa_context*, void* data) { Impl::Wake(data); }, impl.get());
    if (pa_context_connect(impl->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        problem = pa_strerror(pa_context_errno(impl->context));
        return nullptr;
    }
    if (pa_threaded_mainloop_start(impl->loop) < 0) {
        problem = "cannot start libpulse's main loop";
        return nullptr;
    }
    {
        Locked lock(impl->loop);
        Impl& c = *impl;
        if (!c.WaitFor([&] { return c.ContextGood(); }, Clock::now() + kConnectLimit)) {
            const int error = pa_context_errno(c.context);
            problem = error != 0 ? pa_strerror(error) : "no answer";
            return nullptr;
        }
        pa_operation* request = pa_context_get_server_info(
            c.context,
            [](pa_context*, const pa_server_info* info, void* data) {
                if (info == nullptr) return;
                const std::string name = info->server_name ? info->server_name : "";
                *static_cast<std::string*>(data) =
                    (name == "pulseaudio" ? "PulseAudio" : name) + " " +
                    (info->server_version ? info->server_version : "");
            },
            &c.serverName);
        if (!c.Await(request, Clock::now() + kRequestLimit)) {
            problem = "the sound server does not answer";
            return nullptr;
        }
    }
    return std::unique_ptr<PulseConnection>(new PulseConnection(std::move(impl)));
}

const std::string& PulseConnection::ServerName() const {
    return impl_->serverName;
}

bool PulseConnection::Alive() const {
    Locked lock(impl_->loop);
    return impl_->ContextGood();
}

int32_t PulseConnection::OpenStream() {
    Impl& c = *impl_;
    Locked lock(c.loop);
    if (c.stream != nullptr) return c.StreamGood() ? 0 : c.Failure();
    if (!c.ContextGood()) return c.Failure();
    pa_channel_map map;
    pa_channel_map_init_mono(&map);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "Tones");
    c.stream = pa_stream_new_with_proplist(c.context, "Tones", &kSpec, &map, properties);
    pa_proplist_free(properties);
    if (c.stream == nullptr) return c.Failure();
    pa_stream_set_state_callback(
        c.stream, [](pa_stream*, void* data) { Impl::Wake(data); }, &c);
    pa_stream_set_write_callback(
        c.stream, [](pa_stream*, std::size_t, void* data) { Impl::Wake(data); }, &c);
    pa_stream_set_underflow_callback(
        c.stream,
        [](pa_stream*, void* data) {
            auto* impl = static_cast<Impl*>(data);
            if (impl->presenting) ++impl->underflows;
        },
        &c);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(pa_usec_to_bytes(kQueueLimit, &kSpec));
    attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &kSpec));
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    if (pa_stream_connect_playback(
            c.stream, nullptr, &attributes,
            static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED),
            nullptr, nullptr) < 0) {
        return c.Failure();
    }
    c.corked = true;
    const bool settled = c.WaitFor(
        [&] {
            const pa_stream_state_t state = pa_stream_get_state(c.stream);
            return state != PA_STREAM_UNCONNECTED && state != PA_STREAM_CREATING;
        },
        Clock::now() + kRequestLimit);
    if (!settled || !c.StreamGood()) {
        const int error = pa_context_errno(c.context);
        return c.ContextGood() && error != 0 ? -error : c.Failure();
    }
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(c.stream);
    c.targetLength = granted->tlength;
    c.queueLimit = granted->maxlength;
    return 0;
}

int32_t PulseConnection::Write(const int16_t* samples, std::size_t count,
                               Clock::time_point deadline) {
    Impl& c = *impl_;
    Locked lock(c.loop);
    if (!c.StreamGood()) return c.Failure();
    if (!c.presenting) {
        c.presenting = true;
        c.underflows = 0;
        // Whatever is left of an earlier presentation that failed is not part of this one.
        const int32_t flushed =
            c.Ask([&](Ack* ack) { return pa_stream_flush(c.stream, StreamAck, ack); }, deadline);
        if (flushed != 0) return flushed;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
    std::size_t left = count * sizeof(int16_t);
    while (left > 0) {
        const std::size_t writable = pa_stream_writable_size(c.stream);
        if (writable == static_cast<std::size_t>(-1)) return c.Failure();
        // The server asks for more only when it holds less than the target: then its queue is
        // known again.
        if (writable > 0) c.queued = c.targetLength > writable ? c.targetLength - writable : 0;
        std::size_t room = c.queueLimit > c.queued ? c.queueLimit - c.queued : 0;
        room -= room % sizeof(int16_t);
        if (room == 0) {
            if (!c.WaitFor([&] { return !c.StreamGood() || pa_stream_writable_size(c.stream) > 0; },
                           deadline)) {
                return c.StreamGood() ? -PA_ERR_TIMEOUT : c.Failure();
            }
            if (!c.StreamGood()) return c.Failure();
            continue;
        }
        const std::size_t chunk = std::min(left, room);
        if (pa_stream_write(c.stream, bytes, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return c.Failure();
        }
        c.queued += chunk;
        bytes += chunk;
        left -= chunk;
    }
    // Playing starts once a whole image is queued.
    return c.corked ? c.Cork(false) : 0;
}

int32_t PulseConnection::Drain(Clock::time_point deadline) {
    Impl& c = *impl_;
    Locked lock(c.loop);
    // The stream runs dry at the end of every presentation: that is no underflow.
    c.presenting = false;
    if (!c.StreamGood()) return c.Failure();
    // Still corked: nothing was written since the last presentation, nothing is playing.
    if (c.corked) return 0;
    const int32_t drained =
        c.Ask([&](Ack* ack) { return pa_stream_drain(c.stream, StreamAck, ack); }, deadline);
    c.queued = 0;
    if (drained != 0) return drained;
    // The server answers a drain once it has taken the last frame; the sound card may still hold
    // up to its latency of sound.
    pa_usec_t latency = 0;
    int negative = 0;
    const int32_t timed = c.Ask(
        [&](Ack* ack) { return pa_stream_update_timing_info(c.stream, StreamAck, ack); }, deadline);
    if (timed != 0) return timed;
    if (pa_stream_get_latency(c.stream, &latency, &negative) == 0 && negative == 0) {
        const auto played =
            Clock::now() + std::chrono::microseconds(std::min(latency, kTargetLatency));
        c.WaitFor([] { return false; }, std::min(played, deadline));
        if (!c.StreamGood()) return c.Failure();
    }
    return c.Cork(true);
}

int32_t PulseConnection::Underflows() const {
    Locked lock(impl_->loop);
    return impl_->underflows;
}

int32_t PulseConnection::GetSinkVolume(ServerVolume& volume) {
    Impl& c = *impl_;
    Locked lock(c.loop);
    if (!c.ContextGood()) return c.Failure();
    if (const int32_t result = c.ResolveSink(); result != 0) return result;
    std::optional<pa_cvolume> found;
    pa_operation* request = pa_context_get_sink_info_by_name(
        c.context, c.sinkName.c_str(),
        [](pa_context*, const pa_sink_info* info, int, void* data) {
            if (info != nullptr) *static_cast<std::optional<pa_cvolume>*>(data) = info->volume;
        },
        &found);
    if (!c.Await(request, Clock::now() + kRequestLimit)) return c.Failure();
    if (!found) return -PA_ERR_NOENTITY;
    volume = FromServer(*found);
    return 0;
}

int32_t PulseConnection::SetSinkVolume(const ServerVolume& volume) {
    Impl& c = *impl_;
    Locked lock(c.loop);
    pa_cvolume wanted;
    if (!ToServer(volume, wanted)) return -PA_ERR_INVALID;
    if (!c.ContextGood()) return c.Failure();
    if (const int32_t result = c.ResolveSink(); result != 0) return result;
    return c.Ask(
        [&](Ack* ack) {
            return pa_context_set_sink_volume_by_name(c.context, c.sinkName.c_str(), &wanted,
                                                      ContextAck, ack);
        },
        Clock::now() + kRequestLimit);
}

int32_t PulseConnection::GetStreamVolume(ServerVolume& volume) {
    Impl& c = *impl_;
    Locked lock(c.loop);
    if (!c.StreamGood()) return c.stream == nullptr ? -PA_ERR_NOENTITY : c.Failure();
    struct Reply {
        bool found = false;
        bool writable = false;
        pa_cvolume volume{};
    } reply;
    pa_operation* request = pa_context_get_sink_input_info(
        c.context, pa_stream_get_index(c.stream),
        [](pa_context*, const pa_sink_input_info* info, int, void* data) {
            if (info == nullptr) return;
            auto* reply = static_cast<Reply*>(data);
            reply->found = true;
            reply->writable = info->has_volume && info->volume_writable;
            reply->volume = info->volume;
        },
        &reply);
    if (!c.Await(request, Clock::now() + kRequestLimit)) return c.Failure();
    if (!reply.found) return -PA_ERR_NOENTITY;
    if (!reply.writable) return -PA_ERR_NOTSUPPORTED;
    volume = FromServer(reply.volume);
    return 0;
}

int32_t PulseConnection::SetStreamVolume(const ServerVolume& volume) {
    Impl& c = *impl_;
    Locked lock(c.loop);
    pa_cvolume wanted;
    if (!ToServer(volume, wanted)) return -PA_ERR_INVALID;
    if (!c.StreamGood()) return c.stream == nullptr ? -PA_ERR_NOENTITY : c.Failure();
    return c.Ask(
        [&](Ack* ack) {
            return pa_context_set_sink_input_volume(c.context, pa_stream_get_index(c.stream),
                                                    &wanted, ContextAck, ack);
        },
        Clock::now() + kRequestLimit);
}

std::string PulseConnection::Describe(int32_t result) {
    if (result == 0) return "success";
    const char* text = pa_strerror(result < 0 ? -result : result);
    return text != nullptr ? text : "unknown error " + std::to_string(result);
}

}  // namespace zel
