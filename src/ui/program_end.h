#pragma once

// How the window ends the program, and what it does with a run-time error that escapes one of
// its handlers.

#include <QString>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "testrun/audio_operations.h"

namespace zel::ui {

// Ends the program through the event loop, which then returns the status. The first request
// ends it, and from then on the window runs none of its handlers; only a failure (a non-zero
// status) asked for later still replaces a status of 0.
class ProgramEnd {
  public:
    using Quit = std::function<void(int status)>;
    // By default the application's event loops are told to return the status.
    ProgramEnd();
    explicit ProgramEnd(Quit quit) : quit_(std::move(quit)) {}

    void End(int status);
    bool Requested() const { return requested_; }
    int Status() const { return status_; }
    // The end was asked for by a signal: nobody may be waiting at the screen, so no box opens.
    void Signalled() { signalled_ = true; }
    bool BySignal() const { return signalled_; }

  private:
    Quit quit_;
    bool requested_ = false;
    bool signalled_ = false;
    int status_ = 0;
};

// The program's own report of a run-time error: a critical box that names the error and where it
// arose, the same line on the log, the mixer written back, and the end with status 1. Every
// handler of the window runs through Run, so nothing escapes into the toolkit; the application's
// notify catches whatever else does.
class ErrorReport {
  public:
    ErrorReport(AudioOperations& audio, ProgramEnd& end, std::ostream& log);

    // Runs one handler: nothing once the program is ending; false when it did not run to its end.
    bool Run(const std::function<void()>& handler);
    void Report(const std::exception& error);
    ProgramEnd& End() { return end_; }

  private:
    AudioOperations& audio_;
    ProgramEnd& end_;
    std::ostream& log_;
    bool reporting_ = false;
};

// The title of the program's own boxes.
QString ApplicationTitle();

// Tells the user in a box what the write-back could not put back (each line is on stderr too).
void ShowWriteBackProblems(const std::vector<std::string>& problems);

}  // namespace zel::ui
