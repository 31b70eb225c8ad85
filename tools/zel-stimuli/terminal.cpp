#include "terminal.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string_view>

namespace zel {

std::optional<Terminal> Terminal::Open() {
    termios saved{};
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return std::nullopt;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return std::nullopt;
    return Terminal(saved);
}

Terminal::Terminal(Terminal&& other) noexcept
    : saved_(other.saved_), pending_(std::move(other.pending_)) {
    other.owner_ = false;
}

Terminal::~Terminal() {
    if (owner_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
}

std::optional<Key> Terminal::Read(int milliseconds, int fd) {
    // Keys whose sequence is known, and what they are.
    static constexpr std::pair<std::string_view, Key> kKeys[] = {
        {"\x1b[A", Key::Up},   {"\x1bOA", Key::Up},      {"\x1b[B", Key::Down},
        {"\x1bOB", Key::Down}, {"\x1b[5~", Key::PageUp}, {"\x1b[6~", Key::PageDown},
        {"\t", Key::Tab},      {"\r", Key::Enter},       {"\n", Key::Enter},
        {"q", Key::Quit},      {"Q", Key::Quit}};
    // The start of a sequence waits for the rest, a second at most.
    const auto partial = [&] {
        return std::any_of(std::begin(kKeys), std::end(kKeys), [&](const auto& known) {
            return !pending_.empty() && known.first.size() > pending_.size() &&
                   known.first.starts_with(pending_);
        });
    };
    const bool part = partial();
    if (!part) partSince_ = {};
    if (part && partSince_ == std::chrono::steady_clock::time_point{}) {
        partSince_ = std::chrono::steady_clock::now();
    }
    const bool waiting =
        part && std::chrono::steady_clock::now() - partSince_ < std::chrono::seconds(1);
    if (pending_.empty() || waiting) {
        pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {fd, POLLIN, 0}};
        if (poll(watched, 2, milliseconds) <= 0 || (watched[0].revents & POLLIN) == 0) {
            return std::nullopt;
        }
        char bytes[64];
        const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
        if (count <= 0) return std::nullopt;
        pending_.append(bytes, static_cast<std::size_t>(count));
        if (partial()) return std::nullopt;  // the rest is on its way
    }
    // Keys typed or pasted together arrive together: one at a time from what has come.
    for (const auto& [sequence, key] : kKeys) {
        if (pending_.starts_with(sequence)) {
            pending_.erase(0, sequence.size());
            return key;
        }
    }
    // Anything else: a byte, or a whole escape sequence of a key not used here.
    const std::size_t end = pending_[0] == '\x1b' ? pending_.find_first_of("~ABCDHFPQRS", 1) : 0;
    pending_.erase(0, end == std::string::npos ? pending_.size() : end + 1);
    return Key::Other;
}

}  // namespace zel
