#pragma once

// A private sound server for tests and the benchmark: PulseAudio, or PipeWire with pipewire-pulse,
// wireplumber and a D-Bus of its own, with a null sink "testsink" at 22,050 Hz, mono, 16-bit,
// whose monitor can be recorded. Clients reach it, and nothing else, the same way for both.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/process.h"

namespace zel::testing {

enum class ServerKind { PulseAudio, PipeWire };
// PipeWire's graph clock: at 22,050 Hz streams arrive bit-exact; by default (48 kHz) it resamples.
enum class GraphRate { Rate22050, Default };

class TestSoundServer {
  public:
    // Starts the server in a folder of its own and points this process's environment (and so its
    // children's) at it; throws, with the logs, when it takes no clients within 30 s.
    explicit TestSoundServer(ServerKind kind = ServerKind::PulseAudio,
                             GraphRate rate = GraphRate::Rate22050) {
        const std::string dir = Folder().string(), run = dir + "/run",
                          socket = run + "/pulse/native";
        for (const char* sub :
             {"/home", "/run/pulse", "/config/pipewire/pipewire.conf.d",
              "/config/wireplumber/main.lua.d", "/config/wireplumber/bluetooth.lua.d"})
            std::filesystem::create_directories(dir + sub);
        std::ofstream(dir + "/client.conf") << "autospawn = no\n";
        // Nothing may lead to the user's servers, bus, display, files or settings.
        for (const char* name :
             {"XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "PIPEWIRE_RUNTIME_DIR",
              "PIPEWIRE_REMOTE", "PIPEWIRE_CONFIG_DIR", "WIREPLUMBER_CONFIG_DIR",
              "PULSE_RUNTIME_PATH", "DISPLAY", "WAYLAND_DISPLAY"})
            unsetenv(name);
        setenv("HOME", (dir + "/home").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        setenv("PULSE_CLIENTCONFIG", (dir + "/client.conf").c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + run + "/bus").c_str(), 1);

        if (kind == ServerKind::PulseAudio) {
            // The sink is the server's own, there again after a restart with the level
            // device-restore stored, as on a desktop. Without norewinds PulseAudio gives back the
            // first samples of every stream as zeros.
            servers_ = {{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                         "--enable-memfd=no",
                         "--load=module-native-protocol-unix auth-anonymous=1 socket=" +
                             QString::fromStdString(socket),
                         "--load=module-device-restore",
                         "--load=module-null-sink sink_name=testsink rate=22050 channels=1 "
                         "format=s16le norewinds=1"}};
        } else {
            if (rate == GraphRate::Rate22050)
                std::ofstream(dir + "/config/pipewire/pipewire.conf.d/zel-rate.conf")
                    << "context.properties = { default.clock.rate = 22050 "
                       "default.clock.allowed-rates = [ 22050 44100 48000 ] }\n";
            // Defined in the configuration, so that it is there again after a restart.
            std::ofstream(dir + "/config/pipewire/pipewire.conf.d/zel-sink.conf")
                << "context.objects = [ { factory = adapter args = {\n"
                   "  factory.name = support.null-audio-sink node.name = testsink\n"
                   "  media.class = Audio/Sink audio.rate = 22050 audio.channels = 1\n"
                   "  audio.position = [ MONO ] } } ]\n";
            // Our wireplumber leaves the machine's cards, cameras and Bluetooth alone. The files
            // sort between the packaged 50-*-config.lua and 90-enable-all.lua, which reads them.
            std::ofstream(dir + "/config/wireplumber/main.lua.d/51-zel.lua")
                << "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
                   "libcamera_monitor.enabled = false\n";
            std::ofstream(dir + "/config/wireplumber/bluetooth.lua.d/51-zel.lua")
                << "bluez_monitor.enabled = false\n";
            Start({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                   "--address=" + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")});
            WaitFor("the D-Bus socket", [&] { return Accepts(run + "/bus"); });
            servers_ = {{"pipewire"}, {"wireplumber"}, {"pipewire-pulse"}};
        }
        StartServers();
        // Repeated until wireplumber, which keeps the default, has caught up.
        WaitFor("testsink as the default sink", [&] {
            Pactl({"set-default-sink", "testsink"});
            return Pactl({"get-default-sink"}).out == "testsink\n";
        });
    }

    // Ends the servers as a restart does (the session's bus stays) and starts them again.
    void Restart() {
        for (std::size_t i = 0; i < servers_.size(); ++i) {
            children_.back()->terminate();
            children_.back()->waitForFinished();
            children_.pop_back();
        }
        StartServers();
    }

    // Whether this machine has the programs for `kind`; `why` says which are missing.
    static bool Available(ServerKind kind, std::string& why) {
        why.clear();
        for (const QString& program :
             QString(kind == ServerKind::PulseAudio
                         ? "pactl parec pulseaudio"
                         : "pactl parec dbus-daemon pipewire wireplumber pipewire-pulse")
                 .split(' '))
            if (QStandardPaths::findExecutable(program).isEmpty())
                why += (why.empty() ? "not installed: " : ", ") + program.toStdString();
        return why.empty();
    }
    Outcome Pactl(const QStringList& args) const { return Run(QStringList{"pactl"} + args); }
    std::filesystem::path Folder() const { return folder_.path().toStdString(); }

    // Records a sink's monitor; returns once the recorder's stream runs.
    void StartRecording(const QString& sink = "testsink") {
        // Little latency here would make PipeWire run the whole graph in small blocks.
        recorder_ = testing::Start({"parec", "--raw", "--format=s16le", "--channels=1",
                                    "--rate=22050", "-d", sink + ".monitor", "--latency-msec=100"},
                                   Recording(), folder_.filePath("parec.log"));
        WaitFor("the recorder", [&] { return QFileInfo(Recording()).size() >= 22050; });
    }
    // Every sample recorded, up to half a second after this call: the last sound has arrived.
    std::vector<int16_t> StopRecording() {
        const qint64 before = QFileInfo(Recording()).size();
        WaitFor("the end of the recording",
                [&] { return QFileInfo(Recording()).size() >= before + 22050; });
        recorder_.reset();
        const std::string bytes = ReadFile(Recording());
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }

    // The servers' processes (not the bus), for measuring what they cost.
    std::vector<qint64> ServerPids() const {
        std::vector<qint64> pids;
        for (std::size_t i = children_.size() - servers_.size(); i < children_.size(); ++i)
            pids.push_back(children_[i]->processId());
        return pids;
    }

    // Signals the server that owns the clients' socket: SIGKILL as a crash; SIGSTOP, and it stops
    // answering without going away.
    void Signal(int signal) const { ::kill(static_cast<pid_t>(owner_->processId()), signal); }

  private:
    static bool Accepts(const std::string& path) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return ok;
    }
    void Start(const QStringList& argv) {
        const QString log = folder_.filePath(argv.first() + ".log");
        owner_ = children_.emplace_back(testing::Start(argv, log, log)).get();
    }
    // The servers last, so that a restart ends just them (each with SIGTERM, as systemd does).
    void StartServers() {
        const std::string run = Folder().string() + "/run";
        for (const QStringList& argv : servers_) {
            Start(argv);
            if (argv.first() == "pipewire")
                WaitFor("the PipeWire socket", [&] { return Accepts(run + "/pipewire-0"); });
        }
        WaitFor("the PulseAudio socket", [&] { return Accepts(run + "/pulse/native"); });
        WaitFor("testsink", [&] { return Has(Pactl({"list", "short", "sinks"}).out, "testsink"); });
    }
    QString Recording() const { return folder_.filePath("recording.raw"); }
    // Polls `ready`; throws, with the servers' logs, when it does not hold within 30 s.
    void WaitFor(const std::string& what, const std::function<bool()>& ready) const {
        if (testing::WaitFor(ready)) return;
        std::string message = "the test sound server: timed out waiting for " + what;
        for (const QString& log : QDir(folder_.path()).entryList({"*.log"}))
            message += "\n--- " + log.toStdString() + " ---\n" + ReadFile(folder_.filePath(log));
        throw std::runtime_error(message);
    }

    QTemporaryDir folder_;
    std::vector<QStringList> servers_;              // how each server is started
    std::vector<std::unique_ptr<Child>> children_;  // the bus, the servers in start order
    Child* owner_ = nullptr;                        // the server that owns the clients' socket
    std::unique_ptr<Child> recorder_;
};

// Where `part` occurs in `whole` from `from` on, or npos.
inline std::size_t FindSamples(const std::vector<int16_t>& whole, const std::vector<int16_t>& part,
                               std::size_t from = 0) {
    if (from > whole.size()) return std::string::npos;
    const auto found = std::search(whole.begin() + static_cast<std::ptrdiff_t>(from), whole.end(),
                                   part.begin(), part.end());
    return found == whole.end() ? std::string::npos
                                : static_cast<std::size_t>(found - whole.begin());
}

}  // namespace zel::testing
