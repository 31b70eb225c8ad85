#include "audio/exit_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>

namespace zel {

namespace {

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};

// Read by the handler: only async-signal-safe state.
volatile sig_atomic_t gWriteFd = -1;
std::array<struct sigaction, kSignals.size()> gPrevious{};

extern "C" void OnExitSignal(int signal) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // A full pipe already says that a signal is waiting; nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t written = write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

ExitSignals::ExitSignals() {
    if (gWriteFd != -1) throw std::logic_error("ExitSignals: another instance is alive");
    std::array<int, 2> fds{};
    if (pipe2(fds.data(), O_CLOEXEC | O_NONBLOCK) != 0) Fail("cannot create the signal pipe");
    readFd_ = fds[0];
    writeFd_ = fds[1];
    gWriteFd = writeFd_;

    struct sigaction action {};
    action.sa_handler = OnExitSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep libraries that do not expect EINTR working.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (sigaction(kSignals[i], &action, &gPrevious[i]) != 0) {
            const int error = errno;
            for (std::size_t j = 0; j < i; ++j) sigaction(kSignals[j], &gPrevious[j], nullptr);
            gWriteFd = -1;
            close(readFd_);
            close(writeFd_);
            errno = error;
            Fail("cannot install a signal handler");
        }
    }
}

ExitSignals::~ExitSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], &gPrevious[i], nullptr);
    }
    gWriteFd = -1;
    close(readFd_);
    close(writeFd_);
}

bool ExitSignals::Pending() const {
    struct pollfd entry {
        readFd_, POLLIN, 0
    };
    return poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN) != 0;
}

int ExitSignals::Take() {
    int first = 0;
    unsigned char byte = 0;
    while (read(readFd_, &byte, 1) == 1) {
        if (first == 0) first = byte;
    }
    return first;
}

}  // namespace zel
