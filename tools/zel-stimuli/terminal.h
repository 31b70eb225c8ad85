#pragma once

// The keys of an interactive terminal, one at a time: standard input in raw mode (no echo, no
// line editing; Ctrl-C still signals) for as long as the object lives.

#include <termios.h>

#include <chrono>
#include <optional>
#include <string>

namespace zel {

enum class Key { Up, Down, PageUp, PageDown, Tab, Enter, Quit, Other };

class Terminal {
  public:
    // Nothing when standard input is not a terminal.
    static std::optional<Terminal> Open();
    ~Terminal();
    Terminal(Terminal&& other) noexcept;
    Terminal& operator=(Terminal&&) = delete;

    // The next key, waiting at most `milliseconds` or until `fd` becomes readable; nothing when
    // neither came.
    std::optional<Key> Read(int milliseconds, int fd);

  private:
    explicit Terminal(const termios& saved) : saved_(saved) {}

    termios saved_;
    bool owner_ = true;
    std::string pending_;  // read, not yet taken
    // When the start of a key's sequence came without its end (a slow link splits them).
    std::chrono::steady_clock::time_point partSince_{};
};

}  // namespace zel
