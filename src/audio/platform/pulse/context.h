#pragma once

// A connection to the desktop's sound server over the PulseAudio protocol (PulseAudio itself, or
// PipeWire through pipewire-pulse): libpulse's threaded main loop, the context, and the waits for
// the server's answers. Results are 0 or a negative PulseAudio error code (-PA_ERR_...).
//
// A server that stops answering without going away would hold every request to its limit: once
// one request has timed out, every wait fails at once (-PA_ERR_TIMEOUT) until the server answers
// again.

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

namespace zel {

using Clock = std::chrono::steady_clock;

class PulseContext {
  public:
    // Connects to the session's sound server (PULSE_SERVER, the client configuration or the
    // session's socket) and never starts one; trying again until `patience` has passed. Null
    // when none answers; `problem` says why.
    static std::unique_ptr<PulseContext> Connect(std::string& problem,
                                                 Clock::duration patience = {});
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Holds the main loop's lock: every libpulse call outside its callbacks needs it.
    class Lock {
      public:
        explicit Lock(const PulseContext& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    pa_context* Get() const { return context_; }
    // The server's name and version, e.g. "PulseAudio (on PipeWire 0.3.65) 15.0.0".
    const std::string& ServerName() const { return serverName_; }

    // The rest with the lock held.
    bool Good() const;
    // False from a request that timed out until the server answers again.
    bool Answering() const { return !unresponsive_; }
    // The result for a failure just seen: the connection's loss above all, then a server that
    // does not answer.
    int32_t Failure() const;
    // Wakes whoever waits (for libpulse callbacks).
    void Wake() const { pa_threaded_mainloop_signal(loop_, 0); }
    static void Wake(void* context) { static_cast<PulseContext*>(context)->Wake(); }

    // Waits until `done` holds, the connection fails or `deadline` passes; false unless done.
    template <typename Done>
    bool WaitFor(Done done, Clock::time_point deadline) const {
        bool ok = false;
        while (!(ok = done()) && Good() && !unresponsive_ && Clock::now() < deadline) {
            Sleep(deadline);
        }
        return ok;
    }
    // Waits, after a request timed out, until the server answers again, the connection fails or
    // `deadline` passes; true when it answers.
    bool AwaitAnswering(Clock::time_point deadline) const {
        while (unresponsive_ && Good() && Clock::now() < deadline) Sleep(deadline);
        return !unresponsive_ && Good();
    }
    // Waits for the answer to a request; false when none came in time (the request is then
    // cancelled, so its callback can no longer run, and the server counts as not answering).
    bool Await(pa_operation* operation, Clock::time_point deadline);
    // A request whose answer is success or failure: `request(callback, data)` starts it.
    template <typename Request>
    int32_t Ask(Request request, Clock::time_point deadline) {
        int success = 0;
        if (!Await(request(&success), deadline)) return Failure();
        return success ? 0 : Failure();
    }
    // The callbacks for Ask's requests.
    static void StreamAck(pa_stream*, int success, void* data) {
        *static_cast<int*>(data) = success;
    }
    static void ContextAck(pa_context*, int success, void* data) {
        *static_cast<int*>(data) = success;
    }

    // The text of a result code.
    static std::string Describe(int32_t result);

  private:
    PulseContext() = default;
    // Sleeps until woken or `deadline`.
    void Sleep(Clock::time_point deadline) const;
    void NotAnswering();

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::string serverName_;
    // A request timed out; `probe_` asks whether the server answers again.
    bool unresponsive_ = false;
    pa_operation* probe_ = nullptr;
};

}  // namespace zel
