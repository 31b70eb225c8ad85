#pragma once

// The program's session with the desktop's sound server, shared by the sound server's player,
// capability query, mixer service and watch: the connection and the program's one playback
// stream, created by the capability check at start-up and kept for the session, so that its
// volume can be calibrated before the first trial and every trial plays through it.
//
// A connection that has failed is not made again for playing: a new stream would carry the
// server's default volume, not the calibrated one. The write-back alone connects afresh, so that
// it reaches the server that is there at exit.

#include <memory>
#include <string>

#include "audio/platform/pulse/context.h"
#include "audio/platform/pulse/stream.h"

namespace zel {

class PulseConnection {
  public:
    // Null when no server answers; `problem` says why.
    static std::unique_ptr<PulseConnection> Connect(std::string& problem);

    const std::string& ServerName() const { return context_->ServerName(); }
    PulseContext& Context() { return *context_; }
    bool Alive() const;

    // The sink the stream is to play on, by name; empty, the server's choice. A stream open
    // elsewhere is closed, to be opened again there.
    void Target(const std::string& sink);
    // Opens the stream unless it is open and playing: 0 when the server accepted it.
    int32_t OpenStream();
    // The stream, or null before it was first opened; it may have failed since.
    PulseStream* Stream() { return stream_.get(); }

    // A context for the mixer: the session's own while it is alive, otherwise one made afresh
    // (tried once: a server may be restarting); null when none answers. A server that has stopped
    // answering (a busy machine, a debugger, a suspended virtual machine) more often comes back
    // than dies: it is waited for, up to 5 s in all each time it stops, so that the write-back
    // at exit reaches it.
    PulseContext* Control(int32_t& result);

  private:
    explicit PulseConnection(std::unique_ptr<PulseContext> context)
        : context_(std::move(context)) {}

    std::unique_ptr<PulseContext> context_;
    std::unique_ptr<PulseStream> stream_;
    std::string target_;
    std::unique_ptr<PulseContext> fresh_;
    bool freshTried_ = false;
    Clock::time_point patience_{};  // until when a server in trouble is waited for
};

}  // namespace zel
