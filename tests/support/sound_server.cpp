#include "support/sound_server.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace zel::testing {

namespace fs = std::filesystem;

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

}  // namespace

TestSoundServer::TestSoundServer() : folder_("zel-sound") {
    const fs::path dir = folder_.Path();
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "run" / "pulse");
    const fs::path socketPath = dir / "run" / "pulse" / "native";
    {
        // norewinds: without it the first samples of every stream come back as zeros.
        std::ofstream script(dir / "server.pa");
        script << "load-module module-null-sink sink_name=testsink rate=22050 format=s16le "
                  "channels=1 channel_map=mono norewinds=1\n"
               << "load-module module-native-protocol-unix auth-anonymous=1 socket="
               << socketPath.string() << "\n"
               << "set-default-sink testsink\n";
        std::ofstream(dir / "client.conf") << "autospawn = no\n";
    }
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "-F",
                                 (dir / "server.pa").string(), "--enable-memfd=no"},
        ClientEnvironment(), dir / "server.out", dir / "server.log");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Accepts(socketPath)) {
        if (server_->Wait(std::chrono::milliseconds(20)) ||
            std::chrono::steady_clock::now() > deadline) {
            server_->Stop();
            throw std::runtime_error("the test sound server did not start:\n" +
                                     ReadFile(dir / "server.log"));
        }
    }
}

TestSoundServer::~TestSoundServer() {
    recorder_.reset();
    if (server_) server_->Stop();
}

Environment TestSoundServer::ClientEnvironment() const {
    const fs::path dir = folder_.Path();
    return {{"HOME", (dir / "home").string()},
            {"XDG_RUNTIME_DIR", (dir / "run").string()},
            {"PULSE_SERVER", "unix:" + (dir / "run" / "pulse" / "native").string()},
            {"PULSE_CLIENTCONFIG", (dir / "client.conf").string()}};
}

void TestSoundServer::UseInThisProcess() const {
    for (const auto& [name, value] : ClientEnvironment()) setenv(name.c_str(), value.c_str(), 1);
}

void TestSoundServer::StartRecording() {
    recorder_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"parec", "--raw", "--format=s16le", "--channels=1", "--rate=22050",
                                 "-d", "testsink.monitor", "--latency-msec=10"},
        ClientEnvironment(), folder_.Path() / "recording.raw", folder_.Path() / "parec.log");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    if (recorder_->Wait(std::chrono::milliseconds(0))) {
        throw std::runtime_error("the recorder ended early:\n" +
                                 ReadFile(folder_.Path() / "parec.log"));
    }
}

std::vector<int16_t> TestSoundServer::StopRecording() {
    // Let the last sound reach the recorder first.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (recorder_) recorder_->Stop();
    recorder_.reset();
    const std::string bytes = ReadFile(folder_.Path() / "recording.raw");
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

void TestSoundServer::Kill() {
    if (server_) server_->Signal(SIGKILL);
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
