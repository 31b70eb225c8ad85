// A sound card for the tests, as an ALSA PCM plugin: it plays in real time at the rate and channel
// count of $ZEL_TEST_CARD_RATE and $ZEL_TEST_CARD_CHANNELS, S16_LE, in periods of 1024 frames (2
// to 32 to a buffer), and appends to $ZEL_TEST_CARD_FILE what its loudspeaker gives out, frame for
// frame on the monotonic clock from open to close (zeros while it does not run). Its position
// moves at period interrupts: an underrun shows at the period boundary after the sound ran out,
// the stale end of the buffer playing until then; a drain plays every frame written, then
// silence. Non-blocking only, as the program opens it. With $ZEL_TEST_CARD_ONCE set it opens once
// at a time only, as a hw device does.

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <utility>
#include <vector>

namespace {

constexpr uint64_t kNano = 1'000'000'000;
int gOpen = 0;  // cards open in this process

int64_t Now(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * static_cast<int64_t>(kNano) + t.tv_nsec;
}

struct Card {
    snd_pcm_ioplug_t io{};
    unsigned rate = 48000, channels = 2, period = 1024;
    int file = -1, timer = -1;
    std::mutex mutex;

    int64_t origin = 0;     // monotonic time of recorded frame 0
    uint64_t recorded = 0;  // frames written to the file
    std::vector<int16_t> ring;
    snd_pcm_uframes_t availMin = 1, boundary = std::numeric_limits<snd_pcm_sframes_t>::max();

    // The stream since the last prepare, in frames from its start.
    enum class Run { kIdle, kPlaying, kUnderrun, kStopped } run = Run::kIdle;
    uint64_t start = 0;  // recorded frame at which position 0 played
    uint64_t end = 0;    // the position where it stopped, once it has
    bool draining = false;

    uint64_t Frames(int64_t nanoseconds) const {
        const auto ns = static_cast<uint64_t>(nanoseconds);
        return ns / kNano * rate + ns % kNano * rate / kNano;
    }
    int64_t TimeOf(uint64_t frame) const {
        return origin + static_cast<int64_t>(frame / rate * kNano +
                                             (frame % rate * kNano + rate - 1) / rate);
    }
    uint64_t Written() const { return io.appl_ptr; }
    uint64_t Position() const { return run == Run::kPlaying ? recorded - start : end; }
    // A card stops at the first period boundary at or past the last frame written.
    uint64_t StopPosition() const { return (Written() + period - 1) / period * period; }

    // Brings the file up to now: what the card played since the last call, or zeros.
    void Advance() {
        const uint64_t now = Frames(Now(CLOCK_MONOTONIC) - origin);
        std::vector<int16_t> out;
        out.reserve((now - recorded) * channels);
        if (run == Run::kPlaying) {
            const uint64_t stop = StopPosition();
            for (; recorded < now && recorded - start < stop; ++recorded) {
                const uint64_t position = recorded - start;
                if (draining && position >= Written()) {
                    out.insert(out.end(), channels, 0);
                } else {
                    const auto frame = ring.begin() + position % io.buffer_size * channels;
                    out.insert(out.end(), frame, frame + channels);
                }
            }
            if (recorded - start >= stop) {
                run = draining ? Run::kStopped : Run::kUnderrun;
                end = recorded - start;
            }
        }
        out.resize(out.size() + (now - recorded) * channels, 0);
        recorded = now;
        for (size_t done = 0; done < out.size() * 2;) {
            const ssize_t n = write(file, reinterpret_cast<const char*>(out.data()) + done,
                                    out.size() * 2 - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }

    bool Ready() const {
        switch (run) {
            case Run::kPlaying:
                return !draining &&
                       Position() / period * period + io.buffer_size - Written() >= availMin;
            case Run::kIdle:
                return io.buffer_size - Written() >= availMin;
            default:
                return true;
        }
    }

    // The poll descriptor is readable while the writer may go on, and otherwise becomes so at
    // the next period boundary, when the position moves.
    void Arm() {
        itimerspec when{};
        if (Ready()) {
            when.it_value.tv_nsec = 1;  // long past: at once
        } else if (run == Run::kPlaying) {
            const int64_t t = TimeOf(start + (Position() / period + 1) * period);
            when.it_value = {static_cast<time_t>(t / static_cast<int64_t>(kNano)),
                             static_cast<long>(t % static_cast<int64_t>(kNano))};
        }
        timerfd_settime(timer, TFD_TIMER_ABSTIME, &when, nullptr);
    }

    void Begin() {
        start = recorded;
        run = Run::kPlaying;
    }
};

Card& Of(snd_pcm_ioplug_t* io) {
    return *static_cast<Card*>(io->private_data);
}

// Every callback first brings the file up to now and ends by rearming the poll descriptor.
template <typename F>
auto Locked(snd_pcm_ioplug_t* io, F body) {
    Card& card = Of(io);
    std::lock_guard lock(card.mutex);
    card.Advance();
    const auto result = body(card);
    card.Arm();
    return result;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = [](snd_pcm_ioplug_t* io) {
        return Locked(io, [](Card& card) {
            // The kernel refuses to start a playback with nothing to play.
            if (card.Written() == 0) return -EPIPE;
            card.Begin();
            return 0;
        });
    };
    c.stop = [](snd_pcm_ioplug_t* io) {
        return Locked(io, [](Card& card) {
            card.end = card.Position();
            card.run = Card::Run::kStopped;
            return 0;
        });
    };
    c.prepare = [](snd_pcm_ioplug_t* io) {
        return Locked(io, [](Card& card) {
            card.run = Card::Run::kIdle;
            card.end = 0;
            card.draining = false;
            return 0;
        });
    };
    c.pointer = [](snd_pcm_ioplug_t* io) {
        return Locked(io, [](Card& card) -> snd_pcm_sframes_t {
            if (card.run == Card::Run::kUnderrun) return -EPIPE;
            const uint64_t position = card.run == Card::Run::kPlaying
                                          ? card.Position() / card.period * card.period
                                          : card.Position();
            return static_cast<snd_pcm_sframes_t>(position % card.boundary);
        });
    };
    c.transfer = [](snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                    snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
        return Locked(io, [&](Card& card) -> snd_pcm_sframes_t {
            if (card.run == Card::Run::kUnderrun) {
                snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
                return -EPIPE;
            }
            for (snd_pcm_uframes_t i = 0; i < size; ++i) {
                const uint64_t slot = (card.Written() + i) % io->buffer_size * card.channels;
                for (unsigned ch = 0; ch < card.channels; ++ch) {
                    const snd_pcm_channel_area_t& a = areas[ch];
                    std::memcpy(
                        &card.ring[slot + ch],
                        static_cast<const char*>(a.addr) + (a.first + (offset + i) * a.step) / 8,
                        sizeof(int16_t));
                }
            }
            return static_cast<snd_pcm_sframes_t>(size);
        });
    };
    c.hw_params = [](snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
        return Locked(io, [&](Card& card) {
            card.ring.assign(io->buffer_size * card.channels, 0);
            return 0;
        });
    };
    c.sw_params = [](snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
        return Locked(io, [&](Card& card) {
            snd_pcm_sw_params_get_avail_min(params, &card.availMin);
            snd_pcm_sw_params_get_boundary(params, &card.boundary);
            return 0;
        });
    };
    // Like the kernel's: from prepared it starts the card only if there is sound to play; it is
    // done when the position passes the last frame, at a period boundary. libasound's own would
    // start an empty card and block.
    c.drain = [](snd_pcm_ioplug_t* io) {
        return Locked(io, [](Card& card) {
            if (card.run == Card::Run::kIdle && card.Written() > 0) card.Begin();
            card.draining = true;
            return card.run == Card::Run::kPlaying ? -EAGAIN : 0;
        });
    };
    c.poll_revents = [](snd_pcm_ioplug_t* io, pollfd*, unsigned, unsigned short* revents) {
        return Locked(io, [&](Card& card) {
            uint64_t ticks = 0;
            (void)!read(card.timer, &ticks, sizeof ticks);
            *revents = card.Ready() ? POLLOUT : 0;
            if (card.run == Card::Run::kUnderrun) {
                snd_pcm_ioplug_set_state(io, SND_PCM_STATE_XRUN);
                *revents |= POLLERR;
            }
            return 0;
        });
    };
    c.close = [](snd_pcm_ioplug_t* io) {
        Card* card = &Of(io);
        card->mutex.lock();
        card->Advance();
        close(card->file);
        close(card->timer);
        card->mutex.unlock();
        delete card;
        --gOpen;
        return 0;
    };
    return c;
}();

unsigned FromEnvironment(const char* name, unsigned otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr ? static_cast<unsigned>(std::atoi(value)) : otherwise;
}

// Creates the PCM; on failure the card is gone.
int Open(Card& card, const char* name, snd_pcm_stream_t stream, int mode) {
    if (gOpen > 0 && std::getenv("ZEL_TEST_CARD_ONCE") != nullptr) {
        delete &card;
        return -EBUSY;
    }
    const char* path = std::getenv("ZEL_TEST_CARD_FILE");
    card.rate = FromEnvironment("ZEL_TEST_CARD_RATE", card.rate);
    card.channels = FromEnvironment("ZEL_TEST_CARD_CHANNELS", card.channels);
    card.file = open(path ? path : "/dev/null", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    card.timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    card.origin = Now(CLOCK_MONOTONIC);

    snd_pcm_ioplug_t& io = card.io;
    io.version = SND_PCM_IOPLUG_VERSION;
    io.name = "Zel test card";
    // Positions wrap at the boundary, not at the buffer's end: a caller that looks less often
    // than once a buffer (a non-blocking drain) still sees how far the card went.
    io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA | SND_PCM_IOPLUG_FLAG_MONOTONIC;
    io.poll_fd = card.timer;
    io.poll_events = POLLIN;
    io.callback = &kCallbacks;
    io.private_data = &card;
    if (const int error = stream != SND_PCM_STREAM_PLAYBACK ? -EINVAL
                          : card.file < 0 || card.timer < 0
                              ? -errno
                              : snd_pcm_ioplug_create(&io, name, stream, mode);
        error < 0) {
        close(card.file);
        close(card.timer);
        delete &card;
        return error;
    }
    ++gOpen;  // until closed

    const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
    const unsigned format[] = {SND_PCM_FORMAT_S16_LE};
    const unsigned periodBytes = card.period * card.channels * 2;
    const std::pair<int, std::pair<unsigned, unsigned>> ranges[] = {
        {SND_PCM_IOPLUG_HW_CHANNELS, {card.channels, card.channels}},
        {SND_PCM_IOPLUG_HW_RATE, {card.rate, card.rate}},
        {SND_PCM_IOPLUG_HW_PERIOD_BYTES, {periodBytes, periodBytes}},
        {SND_PCM_IOPLUG_HW_PERIODS, {2, 32}}};
    int error = std::min(snd_pcm_ioplug_set_param_list(&io, SND_PCM_IOPLUG_HW_ACCESS, 2, access),
                         snd_pcm_ioplug_set_param_list(&io, SND_PCM_IOPLUG_HW_FORMAT, 1, format));
    for (const auto& [param, range] : ranges)
        error =
            std::min(error, snd_pcm_ioplug_set_param_minmax(&io, param, range.first, range.second));
    if (error < 0) snd_pcm_ioplug_delete(&io);  // closes, which frees the card
    return error;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(zelcard) {
    (void)root, (void)conf;
    auto* card = new Card;
    if (const int error = Open(*card, name, stream, mode); error < 0) return error;
    *pcmp = card->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(zelcard)
}
