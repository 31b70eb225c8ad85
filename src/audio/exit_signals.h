#pragma once

// Turns SIGINT, SIGTERM and SIGHUP into a readable file descriptor, so that the program ends
// through its ordinary exit path (mixer write-back included) instead of dying inside a handler.
// The handler only writes the signal's number into a pipe; all real work happens when the
// program looks. One instance at a time; it restores the previous handlers when destroyed.

namespace zel {

class ExitSignals {
  public:
    // Throws std::system_error when the pipe or a handler cannot be set up, std::logic_error
    // when another instance is alive.
    ExitSignals();
    ~ExitSignals();
    ExitSignals(const ExitSignals&) = delete;
    ExitSignals& operator=(const ExitSignals&) = delete;

    // Becomes readable when a signal has arrived (for an event loop to watch).
    int Fd() const { return readFd_; }
    // True when a signal has arrived that Take has not consumed; never blocks.
    bool Pending() const;
    // The first signal that arrived since the last Take, 0 when none; never blocks.
    int Take();

  private:
    int readFd_ = -1;
    int writeFd_ = -1;
};

}  // namespace zel
