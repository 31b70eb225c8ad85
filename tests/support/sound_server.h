#pragma once

// A private sound server for tests and the benchmark: PulseAudio, or PipeWire with its
// PulseAudio front end, each with a null sink at 22,050 Hz, mono, 16-bit, whose monitor can be
// recorded, in its own temporary folder. Clients reach either one the same way.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace zel::testing {

enum class ServerKind { PulseAudio, PipeWire };
// PipeWire only: the graph's clock. Rate22050 makes 22,050 Hz streams arrive bit-exact; Default
// is PipeWire's own 48 kHz graph, where the server resamples.
enum class GraphRate { Rate22050, Default };

class TestSoundServer {
  public:
    // Starts the server and waits until it takes clients and plays into the null sink by
    // default; throws std::runtime_error (with the servers' logs) when it does not within 20 s.
    explicit TestSoundServer(ServerKind kind = ServerKind::PulseAudio,
                             GraphRate rate = GraphRate::Rate22050);
    // Stops every process it started, newest first.
    ~TestSoundServer();

    // Whether this machine has the programs for `kind`; `why` says what is missing.
    static bool Available(ServerKind kind, std::string& why);
    // The server's name for messages ("PulseAudio", "PipeWire").
    static const char* Name(ServerKind kind);
    const char* Name() const { return Name(kind_); }

    // What a client needs to find this server and nothing else: private HOME, runtime and
    // configuration folders, PULSE_SERVER, and a client configuration that never starts a
    // server of its own. An empty value means the variable is removed.
    Environment ClientEnvironment() const;
    // Puts ClientEnvironment() into this process's environment.
    void UseInThisProcess() const;
    // Runs pactl against this server.
    Outcome Pactl(const std::vector<std::string>& args) const;

    // Starts recording the sink's monitor and waits 3 s: a recorder gets the start of a sound
    // only when it has been attached well before.
    void StartRecording();
    // Stops the recorder and returns every sample it got.
    std::vector<int16_t> StopRecording();

    // Ends the process that owns the clients' socket at once, as a crash would, and waits until
    // it is gone.
    void Kill();
    const std::filesystem::path& Folder() const { return folder_.Path(); }

  private:
    struct Server {
        std::string name;
        std::unique_ptr<ChildProcess> process;
    };
    void StartPulseAudio();
    void StartPipeWire(GraphRate rate);
    void Start(const std::string& name, const std::vector<std::string>& argv);
    // Polls `ready` until it holds; fails when a server ends or 20 s pass.
    void WaitFor(const std::string& what, const std::function<bool()>& ready);
    [[noreturn]] void Fail(const std::string& what) const;
    void StopServers();

    ServerKind kind_;
    TemporaryFolder folder_;
    std::vector<Server> servers_;  // In start order; the last one owns the clients' socket.
    std::unique_ptr<ChildProcess> recorder_;
};

// Where `part` occurs in `whole` from `from` on, or npos.
std::size_t FindSamples(const std::vector<int16_t>& whole, const std::vector<int16_t>& part,
                        std::size_t from = 0);

}  // namespace zel::testing
