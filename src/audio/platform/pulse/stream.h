#pragma once

// The program's one playback stream on the sound server: 22,050 Hz, mono, 16-bit, pinned to the
// output it was opened on (PA_STREAM_DONT_MOVE), kept for the session and kept playing: between
// presentations it is fed silence, so that the output never suspends and the first tone of a
// trial starts as cleanly as the second. A presentation is appended whole after that silence.

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/platform/pulse/context.h"

namespace zel {

class PulseStream {
  public:
    // Opens the stream on the sink named (empty: where the server places it) and waits until it
    // plays; null when the server refuses it, `result` says why.
    static std::unique_ptr<PulseStream> Open(PulseContext& context, const std::string& sink,
                                             int32_t& result);
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // With the lock held.
    bool Good() const;
    pa_stream* Get() const { return stream_; }
    uint32_t Index() const { return pa_stream_get_index(stream_); }
    uint32_t SinkIndex() const { return pa_stream_get_device_index(stream_); }
    const char* SinkName() const { return pa_stream_get_device_name(stream_); }
    // How long until what is written now is heard (the silence queued and the output's latency).
    Clock::duration Latency() const;
    // How much of what is written the server has not yet taken, as the last timing report and the
    // time since say.
    Clock::duration Untaken() const;

    // Take the lock. Appends samples after everything written, the first call of a presentation
    // after the silence queued, and returns once the server has them all (at the latest at
    // `deadline`).
    int32_t Write(const int16_t* samples, std::size_t count, Clock::time_point deadline);
    // Waits until the presentation's last frame has been played at the output, the output's
    // latency included, however long (at the latest at `deadline`); silence follows it. Once
    // `stop` answers true (it is asked at least every 10 ms, with the lock held), what the server
    // has not yet taken of the presentation is overwritten with a short fade-out and silence, and
    // the wait ends when the server has taken the fade; `cut` then says so.
    int32_t EndPresentation(Clock::time_point deadline, const std::function<bool()>& stop,
                            bool& cut);
    // Times the stream ran dry during the last presentation.
    int32_t Underflows() const;

  private:
    explicit PulseStream(PulseContext& context) : context_(context) {}
    void FeedSilence();
    // The playing position at the output, in bytes of the stream; false without timing yet.
    bool Played(uint64_t& bytes) const;
    // Asks the server where it reads now.
    int32_t ReadIndex(Clock::time_point deadline, uint64_t& bytes);
    // Overwrites the presentation from a few milliseconds after what the server has taken with a
    // fade-out and silence; `faded` is where the fade ends.
    int32_t Cut(Clock::time_point deadline, uint64_t& faded);

    PulseContext& context_;
    pa_stream* stream_ = nullptr;
    std::size_t queueLimit_ = 0;
    std::size_t targetLength_ = 0;
    // Everything written since the stream was opened, silence included: the server's write
    // index, as nothing is ever dropped or skipped.
    uint64_t written_ = 0;
    // An upper bound of what the server holds of the stream, in bytes.
    std::size_t queued_ = 0;
    bool presenting_ = false;
    bool watching_ = false;
    // The presentation's sound, and where it starts in the stream: what a cut fades out.
    std::vector<int16_t> sound_;
    uint64_t soundStart_ = 0;
    int32_t underflows_ = 0;
};

}  // namespace zel
