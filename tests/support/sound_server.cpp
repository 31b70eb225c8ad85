#include "support/sound_server.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zel::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool Accepts(const fs::path& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

std::string BusAddress(const fs::path& folder) {
    return "unix:path=" + (folder / "run" / "bus").string();
}

}  // namespace

TestSoundServer::TestSoundServer(ServerKind kind, GraphRate rate)
    : kind_(kind), folder_("zel-sound") {
    const fs::path dir = folder_.Path();
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "config");
    fs::create_directories(dir / "run" / "pulse");
    fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    std::ofstream(dir / "client.conf") << "autospawn = no\n";
    try {
        if (kind == ServerKind::PulseAudio) {
            StartPulseAudio();
        } else {
            StartPipeWire(rate);
        }
    } catch (...) {
        StopServers();
        throw;
    }
}

TestSoundServer::~TestSoundServer() {
    recorder_.reset();
    StopServers();
}

bool TestSoundServer::Available(ServerKind kind, std::string& why) {
    std::vector<std::string> programs{"pactl", "parec"};
    if (kind == ServerKind::PulseAudio) {
        programs.push_back("pulseaudio");
    } else {
        programs.insert(programs.end(),
                        {"dbus-daemon", "pipewire", "wireplumber", "pipewire-pulse"});
    }
    why.clear();
    for (const auto& program : programs) {
        if (!OnPath(program)) why += (why.empty() ? "not installed: " : ", ") + program;
    }
    return why.empty();
}

const char* TestSoundServer::Name(ServerKind kind) {
    return kind == ServerKind::PulseAudio ? "PulseAudio" : "PipeWire";
}

void TestSoundServer::StartPulseAudio() {
    const fs::path dir = folder_.Path();
    const fs::path socketPath = dir / "run" / "pulse" / "native";
    {
        // norewinds: without it the first samples of every stream come back as zeros.
        std::ofstream script(dir / "server.pa");
        script << "load-module module-null-sink sink_name=testsink rate=22050 format=s16le "
                  "channels=1 channel_map=mono norewinds=1\n"
               << "load-module module-native-protocol-unix auth-anonymous=1 socket="
               << socketPath.string() << "\n"
               << "set-default-sink testsink\n";
    }
    Start("pulseaudio", {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "-F",
                         (dir / "server.pa").string(), "--enable-memfd=no"});
    WaitFor("the PulseAudio socket", [&] { return Accepts(socketPath); });
}

void TestSoundServer::StartPipeWire(GraphRate rate) {
    const fs::path run = folder_.Path() / "run";
    const fs::path config = folder_.Path() / "config";
    fs::create_directories(config / "pipewire" / "pipewire.conf.d");
    fs::create_directories(config / "wireplumber" / "main.lua.d");
    fs::create_directories(config / "wireplumber" / "bluetooth.lua.d");
    if (rate == GraphRate::Rate22050) {
        std::ofstream(config / "pipewire" / "pipewire.conf.d" / "zel-rate.conf")
            << "context.properties = { default.clock.rate = 22050 "
               "default.clock.allowed-rates = [ 22050 44100 48000 ] }\n";
    }
    // Our wireplumber must leave the machine's sound cards and cameras alone: their reservation
    // runs on the user's bus, not on ours. Bluetooth would need logind. The files sort after the
    // packaged 50-*-config.lua and before 90-enable-all.lua, which acts on these switches.
    std::ofstream(config / "wireplumber" / "main.lua.d" / "51-zel.lua")
        << "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\n"
           "libcamera_monitor.enabled = false\n";
    std::ofstream(config / "wireplumber" / "bluetooth.lua.d" / "51-zel.lua")
        << "bluez_monitor.enabled = false\n";

    Start("dbus-daemon", {"dbus-daemon", "--session", "--address=" + BusAddress(folder_.Path()),
                          "--nofork", "--nopidfile"});
    WaitFor("the D-Bus socket", [&] { return Accepts(run / "bus"); });
    Start("pipewire", {"pipewire"});
    WaitFor("the PipeWire socket", [&] { return Accepts(run / "pipewire-0"); });
    Start("wireplumber", {"wireplumber"});
    Start("pipewire-pulse", {"pipewire-pulse"});
    WaitFor("the PulseAudio socket", [&] { return Accepts(run / "pulse" / "native"); });

    const Outcome loaded = Pactl({"load-module", "module-null-sink", "sink_name=testsink",
                                  "rate=22050", "channels=1", "format=s16le"});
    if (loaded.status != 0) Fail("pactl load-module failed: " + loaded.err);
    // Repeated until wireplumber, which keeps the default, has caught up.
    WaitFor("testsink as the default sink", [&] {
        Pactl({"set-default-sink", "testsink"});
        return Pactl({"get-default-sink"}).out == "testsink\n";
    });
}

void TestSoundServer::Start(const std::string& name, const std::vector<std::string>& argv) {
    // Nothing may lead a server to the user's session bus, display or configuration. Without
    // our dbus-daemon (PulseAudio) the bus address leads nowhere.
    const fs::path dir = folder_.Path();
    Environment environment = ClientEnvironment();
    environment["DBUS_SESSION_BUS_ADDRESS"] = BusAddress(dir);
    environment["WIREPLUMBER_CONFIG_DIR"] = "";
    environment["DISPLAY"] = "";
    environment["WAYLAND_DISPLAY"] = "";
    servers_.push_back(
        {name, std::make_unique<ChildProcess>(argv, environment, dir / (name + ".out"),
                                              dir / (name + ".log"))});
}

void TestSoundServer::WaitFor(const std::string& what, const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!ready()) {
        for (const auto& server : servers_) {
            if (const auto status = server.process->Wait(0ms)) {
                Fail(server.name + " ended with status " + std::to_string(*status) +
                     " while waiting for " + what);
            }
        }
        if (std::chrono::steady_clock::now() > deadline) Fail("timed out waiting for " + what);
        std::this_thread::sleep_for(20ms);
    }
}

void TestSoundServer::Fail(const std::string& what) const {
    std::string message = std::string("the test ") + Name() + " server did not start: " + what;
    for (const auto& server : servers_) {
        message +=
            "\n--- " + server.name + " ---\n" + ReadFile(folder_.Path() / (server.name + ".log"));
    }
    throw std::runtime_error(message);
}

void TestSoundServer::StopServers() {
    while (!servers_.empty()) {
        servers_.back().process->Stop();
        servers_.pop_back();
    }
}

Environment TestSoundServer::ClientEnvironment() const {
    const fs::path dir = folder_.Path();
    const fs::path run = dir / "run";
    return {{"HOME", (dir / "home").string()},
            {"XDG_RUNTIME_DIR", run.string()},
            {"XDG_CONFIG_HOME", (dir / "config").string()},
            {"XDG_STATE_HOME", ""},
            {"XDG_DATA_HOME", ""},
            {"XDG_CACHE_HOME", ""},
            {"PIPEWIRE_RUNTIME_DIR", run.string()},
            {"PIPEWIRE_REMOTE", ""},
            {"PIPEWIRE_CONFIG_DIR", ""},
            {"PULSE_RUNTIME_PATH", ""},
            {"PULSE_SERVER", "unix:" + (run / "pulse" / "native").string()},
            {"PULSE_CLIENTCONFIG", (dir / "client.conf").string()}};
}

void TestSoundServer::UseInThisProcess() const {
    for (const auto& [name, value] : ClientEnvironment()) {
        if (value.empty()) {
            unsetenv(name.c_str());
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
}

Outcome TestSoundServer::Pactl(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, ClientEnvironment(), 20s);
}

void TestSoundServer::StartRecording() {
    // A recorder that asked for little latency would make PipeWire run the whole graph in small
    // blocks, which the program alone does not ask for.
    recorder_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"parec", "--raw", "--format=s16le", "--channels=1", "--rate=22050",
                                 "-d", "testsink.monitor", "--latency-msec=100"},
        ClientEnvironment(), folder_.Path() / "recording.raw", folder_.Path() / "parec.log");
    std::this_thread::sleep_for(3s);
    if (const auto status = recorder_->Wait(0ms)) {
        throw std::runtime_error("the recorder ended early, with status " +
                                 std::to_string(*status) + ":\n" +
                                 ReadFile(folder_.Path() / "parec.log"));
    }
}

std::vector<int16_t> TestSoundServer::StopRecording() {
    // Let the last sound reach the recorder first.
    std::this_thread::sleep_for(500ms);
    if (recorder_) recorder_->Stop();
    recorder_.reset();
    const std::string bytes = ReadFile(folder_.Path() / "recording.raw");
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

void TestSoundServer::Kill() {
    if (servers_.empty()) return;
    ChildProcess& owner = *servers_.back().process;
    owner.Signal(SIGKILL);
    owner.Wait(10s);
}

std::size_t FindSamples(const std::vector<int16_t>& whole, const std::vector<int16_t>& part,
                        std::size_t from) {
    if (from > whole.size()) return std::string::npos;
    const auto found = std::search(whole.begin() + static_cast<std::ptrdiff_t>(from), whole.end(),
                                   part.begin(), part.end());
    return found == whole.end() ? std::string::npos
                                : static_cast<std::size_t>(found - whole.begin());
}

}  // namespace zel::testing
