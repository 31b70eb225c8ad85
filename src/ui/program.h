#pragma once

// The program around the window: the application object with the top-level error report, the
// shell through which the test's logic shows the About box and ends the program, and the run.

#include <QApplication>
#include <functional>
#include <optional>

#include "audio/mod_zeltest.h"
#include "testrun/audio_operations.h"
#include "testrun/program_shell.h"
#include "ui/program_end.h"
#include "ui/program_launcher.h"
#include "ui/registry.h"
#include "ui/twips.h"

namespace zel::ui {

// The application: its name, icon and desktop file name for window managers and docks, and
// the last line of defence against a run-time error that escapes an event handler.
class ZelApplication final : public QApplication {
  public:
    ZelApplication(int& argc, char** argv);

    // Where escaped errors are reported; without one they are written to stderr and the
    // program ends with status 1.
    void SetErrorReport(ErrorReport* report) { report_ = report; }
    bool notify(QObject* receiver, QEvent* event) override;

  private:
    void Escaped(const std::exception& error);

    ErrorReport* report_ = nullptr;
};

class WindowShell final : public ProgramShell {
  public:
    WindowShell(Registry& registry, ProgramLauncher& launcher, ProgramEnd& end,
                AudioOperations& audio);

    void ShowNotice(const std::string& message) override;
    void ShowAboutBox() override;
    // With status 1, and a box saying why, when the write-back could not put everything back.
    void EndProgram() override;

  private:
    Registry& registry_;
    ProgramLauncher& launcher_;
    ProgramEnd& end_;
    AudioOperations& audio_;
};

// False when Qt would find no display to open (and abort): no X or Wayland display in the
// environment and no platform chosen.
bool DisplayAvailable();

// Runs `load` (the start-up audio work among it), then shows `window` and runs it until the
// program ends; returns the exit status, 1 when the write-back could not put everything back. The
// write-back also runs when the display goes away; a signal during `load` ends the program once
// it is done; after it, `watchExitSignal` hands the window `exitSignalFd`.
int RunWindow(ZelApplication& app, AudioOperations& audio, std::optional<int> exitSignalFd,
              ProgramEnd& end, ErrorReport& report, const std::function<void()>& load,
              QWidget& window, const std::function<void(int fd)>& watchExitSignal);

// The test: loads the main window (the start-up audio work included), shows it and runs it until
// the program ends. A readable `exitSignalFd` ends the program the way File > Exit does.
int RunProgram(ZelApplication& app, AudioOperations& audio, std::optional<int> exitSignalFd);

// The calibration: the start-up audio work, then the calibration window, until it is closed.
int RunCalibration(ZelApplication& app, ModZeltest& audio, SoundPlayer& player,
                   std::optional<int> exitSignalFd);

}  // namespace zel::ui
