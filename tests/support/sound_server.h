#pragma once

// A private PulseAudio server for tests and the benchmark: a null sink at 22,050 Hz, mono,
// 16-bit, whose monitor can be recorded, in its own temporary folder; stopped by its PID.

#include <cstdint>
#include <memory>
#include <vector>

#include "support/process.h"

namespace zel::testing {

class TestSoundServer {
  public:
    // Starts the server and waits until it takes clients; throws std::runtime_error (with the
    // server's log) when it does not within 10 s.
    TestSoundServer();
    ~TestSoundServer();

    // What a client needs to find this server and nothing else: HOME, XDG_RUNTIME_DIR,
    // PULSE_SERVER, and a client configuration that never starts a server of its own.
    Environment ClientEnvironment() const;
    // Puts ClientEnvironment() into this process's environment.
    void UseInThisProcess() const;

    // Starts recording the sink's monitor and waits 3 s: a recorder gets the start of a sound
    // only when it has been attached well before.
    void StartRecording();
    // Stops the recorder and returns every sample it got.
    std::vector<int16_t> StopRecording();

    // Ends the server at once, as a crash would.
    void Kill();
    const std::filesystem::path& Folder() const { return folder_.Path(); }

  private:
    TemporaryFolder folder_;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> recorder_;
};

// Where `part` occurs in `whole` from `from` on, or npos.
std::size_t FindSamples(const std::vector<int16_t>& whole, const std::vector<int16_t>& part,
                        std::size_t from = 0);

}  // namespace zel::testing
