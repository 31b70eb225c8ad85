#pragma once

// KORMODZ: the program's notices. ShowNotice reports a problem the program can live with and
// returns; FatalStop reports the one it cannot, writes the mixer back and ends the program.

#include <functional>
#include <string>

#include "audio/platform/notice_presenter.h"

namespace zel {

// Ends the program with the given exit status. It must not return.
using ProgramEnd = std::function<void(int status)>;

// Flushes the standard streams and ends the process at once: no handler, destructor or window
// code runs after a fatal stop.
[[noreturn]] void EndProcess(int status);

class Kormodz {
  public:
    // `writeBack` puts the mixer back as it was found; `end` ends the program.
    Kormodz(NoticePresenter& presenter, std::function<void()> writeBack,
            ProgramEnd end = EndProcess)
        : presenter_(presenter), writeBack_(std::move(writeBack)), end_(std::move(end)) {}

    // Nothing assigns it: notices carry an empty title.
    std::string NoticeTitle;

    void ShowNotice(const std::string& message);
    // Shows the critical notice, then writes the mixer back, then ends the program (status 1).
    [[noreturn]] void FatalStop(const std::string& message);

  private:
    NoticePresenter& presenter_;
    std::function<void()> writeBack_;
    ProgramEnd end_;
};

}  // namespace zel
