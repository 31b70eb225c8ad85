#pragma once

// What the trial cycle asks of the program around the window.

#include <string>

namespace zel {

class ProgramShell {
  public:
    virtual ~ProgramShell() = default;

    // Tells the user something the trial cycle cannot go on with; returns when it has been read.
    virtual void ShowNotice(const std::string& message) = 0;
    // Shows the About box modally; returns when it has been closed.
    virtual void ShowAboutBox() = 0;
    // Ends the program at once: no further handler of the window may run.
    virtual void EndProgram() = 0;
};

}  // namespace zel
