#include "audio/platform/pulse/stream.h"

#include <array>
#include <cmath>

namespace zel {

namespace {

constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, 22050, 1};
constexpr auto kOpenLimit = std::chrono::seconds(5);
// The latency asked of the server. Generous: a presentation is queued whole anyway, and a server
// running in larger blocks is less likely to miss one on a busy machine.
constexpr pa_usec_t kTargetLatency = 200 * PA_USEC_PER_MSEC;
// What the stream may hold beyond that: a whole presentation is queued at once, so that no
// delay of this program between images can open a gap.
constexpr pa_usec_t kQueueLimit = 12 * PA_USEC_PER_SEC;

// A cut starts this long after what the server has taken (a request takes well under a
// millisecond to arrive) and fades out over 5 ms, a raised cosine.
constexpr pa_usec_t kCutMargin = 5 * PA_USEC_PER_MSEC;
constexpr std::size_t kFade = 110;
constexpr std::size_t kAfterFade = 1102;  // 50 ms of silence
// How long a cut waits for the server to take a block, looking this often.
constexpr auto kCutWait = std::chrono::milliseconds(60);
constexpr auto kCutLook = std::chrono::milliseconds(1);

Clock::duration FromUsec(pa_usec_t usec) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(usec));
}

}  // namespace

std::unique_ptr<PulseStream> PulseStream::Open(PulseContext& context, const std::string& sink,
                                               int32_t& result) {
    PulseContext::Lock lock(context);
    result = context.Good() ? 0 : context.Failure();
    if (result != 0) return nullptr;
    std::unique_ptr<PulseStream> s(new PulseStream(context));
    pa_channel_map map;
    pa_channel_map_init_mono(&map);
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "Tones");
    s->stream_ = pa_stream_new_with_proplist(context.Get(), "Tones", &kSpec, &map, properties);
    pa_proplist_free(properties);
    if (s->stream_ == nullptr) {
        result = context.Failure();
        return nullptr;
    }
    pa_stream_set_state_callback(
        s->stream_, [](pa_stream*, void* c) { PulseContext::Wake(c); }, &context);
    pa_stream_set_moved_callback(
        s->stream_, [](pa_stream*, void* c) { PulseContext::Wake(c); }, &context);
    pa_stream_set_write_callback(
        s->stream_,
        [](pa_stream*, std::size_t, void* data) {
            auto* self = static_cast<PulseStream*>(data);
            if (!self->presenting_) self->FeedSilence();
            self->context_.Wake();
        },
        s.get());
    pa_stream_set_underflow_callback(
        s->stream_,
        [](pa_stream*, void* data) {
            auto* self = static_cast<PulseStream*>(data);
            if (self->watching_) ++self->underflows_;
        },
        s.get());
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(pa_usec_to_bytes(kQueueLimit, &kSpec));
    attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &kSpec));
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(-1);
    // Pinned: a trial must play on the output whose level was calibrated.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE |
                                       PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (pa_stream_connect_playback(s->stream_, sink.empty() ? nullptr : sink.c_str(), &attributes,
                                   flags, nullptr, nullptr) < 0) {
        result = context.Failure();
        return nullptr;
    }
    const bool settled = context.WaitFor(
        [&] {
            const pa_stream_state_t state = pa_stream_get_state(s->stream_);
            return state != PA_STREAM_UNCONNECTED && state != PA_STREAM_CREATING;
        },
        Clock::now() + kOpenLimit);
    if (!settled || !s->Good()) {
        const int error = pa_context_errno(context.Get());
        result = context.Good() && error != 0 ? -error : context.Failure();
        return nullptr;
    }
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(s->stream_);
    s->targetLength_ = granted->tlength;
    s->queueLimit_ = granted->maxlength;
    s->FeedSilence();
    return s;
}

PulseStream::~PulseStream() {
    if (stream_ == nullptr) return;
    PulseContext::Lock lock(context_);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

bool PulseStream::Good() const {
    return context_.Good() && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseStream::FeedSilence() {
    static constexpr std::array<uint8_t, 4096> kZeros{};
    if (!Good()) return;
    std::size_t size = pa_stream_writable_size(stream_);
    if (size == static_cast<std::size_t>(-1)) return;
    size -= size % sizeof(int16_t);
    while (size > 0) {
        const std::size_t chunk = std::min(size, kZeros.size());
        if (pa_stream_write(stream_, kZeros.data(), chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        written_ += chunk;
        size -= chunk;
    }
}

Clock::duration PulseStream::Latency() const {
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) != 0 || negative) return {};
    return FromUsec(latency);
}

Clock::duration PulseStream::Untaken() const {
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (timing == nullptr || timing->read_index < 0) return {};
    timeval now{};
    pa_gettimeofday(&now);
    const uint64_t taken = static_cast<uint64_t>(timing->read_index) +
                           pa_usec_to_bytes(pa_timeval_diff(&now, &timing->timestamp), &kSpec);
    return taken >= written_ ? Clock::duration{}
                             : FromUsec(pa_bytes_to_usec(written_ - taken, &kSpec));
}

int32_t PulseStream::Write(const int16_t* samples, std::size_t count, Clock::time_point deadline) {
    PulseContext::Lock lock(context_);
    if (!Good()) return context_.Failure();
    if (!presenting_) {
        presenting_ = true;
        watching_ = true;
        underflows_ = 0;
        sound_.clear();
        soundStart_ = written_;
    }
    sound_.insert(sound_.end(), samples, samples + count);
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
    std::size_t left = count * sizeof(int16_t);
    while (left > 0) {
        const std::size_t writable = pa_stream_writable_size(stream_);
        if (writable == static_cast<std::size_t>(-1)) return context_.Failure();
        // The server asks for more only when it holds less than the target: then its queue is
        // known again.
        if (writable > 0) queued_ = targetLength_ > writable ? targetLength_ - writable : 0;
        std::size_t room = queueLimit_ > queued_ ? queueLimit_ - queued_ : 0;
        room -= room % sizeof(int16_t);
        if (room == 0) {
            if (!context_.WaitFor([&] { return !Good() || pa_stream_writable_size(stream_) > 0; },
                                  deadline)) {
                return Good() ? -PA_ERR_TIMEOUT : context_.Failure();
            }
            if (!Good()) return context_.Failure();
            continue;
        }
        const std::size_t chunk = std::min(left, room);
        if (pa_stream_write(stream_, bytes, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            return context_.Failure();
        }
        written_ += chunk;
        queued_ += chunk;
        bytes += chunk;
        left -= chunk;
    }
    return 0;
}

bool PulseStream::Played(uint64_t& bytes) const {
    pa_usec_t usec = 0;
    if (pa_stream_get_time(stream_, &usec) != 0) return false;
    bytes = pa_usec_to_bytes(usec, &kSpec);
    return true;
}

int32_t PulseStream::ReadIndex(Clock::time_point deadline, uint64_t& bytes) {
    const int32_t result = context_.Ask(
        [&](int* ack) {
            return pa_stream_update_timing_info(stream_, PulseContext::StreamAck, ack);
        },
        deadline);
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (result != 0 || timing == nullptr) return result != 0 ? result : -PA_ERR_NODATA;
    bytes = static_cast<uint64_t>(std::max<int64_t>(timing->read_index, 0));
    return 0;
}

int32_t PulseStream::Cut(Clock::time_point deadline, uint64_t& faded) {
    // The server takes the stream's sound a block at a time (a sink's period, PipeWire's
    // quantum): written just after it has taken one, the fade is in place long before it takes
    // the next, and none of it is lost to a block taken meanwhile. One that takes none for a while
    // (a sink that rewinds, reading far ahead) is written to at once.
    uint64_t before = 0, from = 0, played = 0;
    if (const int32_t result = ReadIndex(deadline, before); result != 0) return result;
    auto asked = Clock::now();
    const auto limit = asked + kCutWait;
    for (;;) {
        asked = Clock::now();
        if (const int32_t result = ReadIndex(deadline, from); result != 0) return result;
        if (from != before || asked >= limit) break;
        context_.WaitFor([] { return false; }, std::min(Clock::now() + kCutLook, limit));
    }
    // PipeWire's interpolated position can run ahead of what it reports having taken.
    if (Played(played)) from = std::max(from, played);
    const auto late = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked);
    from += pa_usec_to_bytes(kCutMargin + static_cast<pa_usec_t>(late.count()), &kSpec);
    from -= from % sizeof(int16_t);
    from = std::max(from, soundStart_);
    const uint64_t first = (from - soundStart_) / sizeof(int16_t);
    faded = from + kFade * sizeof(int16_t);
    if (first >= sound_.size()) return 0;  // it has all been taken
    std::vector<int16_t> tail(kFade + kAfterFade, 0);
    for (std::size_t i = 0; i < kFade && first + i < sound_.size(); ++i) {
        const double gain = 0.5 * (1 + std::cos(M_PI * (static_cast<double>(i) + 0.5) / kFade));
        tail[i] = static_cast<int16_t>(std::lrint(sound_[first + i] * gain));
    }
    const std::size_t bytes = tail.size() * sizeof(int16_t);
    if (pa_stream_write(stream_, tail.data(), bytes, nullptr, static_cast<int64_t>(from),
                        PA_SEEK_ABSOLUTE) < 0) {
        return context_.Failure();
    }
    written_ = from + bytes;
    return 0;
}

int32_t PulseStream::EndPresentation(Clock::time_point deadline, const std::function<bool()>& stop,
                                     bool& cut) {
    PulseContext::Lock lock(context_);
    presenting_ = false;
    cut = false;
    uint64_t end = written_;
    // Silence follows at once, so that the stream never runs dry after the last frame.
    FeedSilence();
    int32_t result = 0;
    for (bool confirmed = false; !confirmed;) {
        if (!Good() || !context_.Answering()) {
            result = context_.Failure();
            break;
        }
        if (!cut && stop && stop()) {
            cut = true;
            if ((result = Cut(deadline, end)) != 0) break;
            FeedSilence();
        }
        uint64_t played = 0;
        // Cut or not, done once the end has played: a stream that goes earlier can take what the
        // output still holds of it along, the fade's start among it.
        if (Played(played) && played >= end) {
            // The interpolated position said so; the server's own word settles it.
            result = context_.Ask(
                [&](int* ack) {
                    return pa_stream_update_timing_info(stream_, PulseContext::StreamAck, ack);
                },
                deadline);
            if (result != 0) break;
            confirmed = Played(played) && played >= end;
        }
        if (confirmed) break;
        if (Clock::now() >= deadline) {
            result = -PA_ERR_TIMEOUT;
            break;
        }
        // Until the end is due, or a few milliseconds at a time, for `stop`; woken by the
        // server's events, which may answer it.
        const auto left =
            played < end ? FromUsec(pa_bytes_to_usec(end - played, &kSpec)) : Clock::duration{};
        const auto nap = std::clamp<Clock::duration>(left, std::chrono::milliseconds(2),
                                                     std::chrono::milliseconds(10));
        context_.WaitFor([&] { return !cut && stop && stop(); },
                         std::min(Clock::now() + nap, deadline));
    }
    watching_ = false;
    sound_.clear();
    return result;
}

int32_t PulseStream::Underflows() const {
    PulseContext::Lock lock(context_);
    return underflows_;
}

}  // namespace zel
