// zel-test: the listening test's window. This is where the program's parts are put together.

#include <cstdio>
#include <optional>

#include "testrun/audio_operations.h"
#include "ui/message_box_notices.h"
#include "ui/program.h"

int main(int argc, char* argv[]) {
    if (!zel::ui::DisplayAvailable(argc, argv)) {
        std::fputs(
            "zel-test: no display found; start it from a desktop session, or set "
            "QT_QPA_PLATFORM=offscreen to try it headless\n",
            stderr);
        return 1;
    }
    zel::ui::ZelApplication app(argc, argv);

    // The sound: the notices of the start-up check go to message boxes. SilentAudio stands in
    // until the sound subsystem is wired here: construct it with `notices` in its place, and
    // pass its exit-signal descriptor instead of std::nullopt.
    [[maybe_unused]] zel::ui::MessageBoxNotices notices;
    zel::SilentAudio audio;
    const std::optional<int> exitSignalFd = std::nullopt;

    return zel::ui::RunProgram(app, audio, exitSignalFd);
}
