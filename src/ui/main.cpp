// zel-test: the listening test's window. This is where the program's parts are put together.

#include <cstdio>

#include "audio/apiz.h"
#include "audio/exit_signals.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
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

    // Signals are caught before the mixer is touched, so that no way out skips the write-back.
    zel::ExitSignals exitSignals;
    zel::ui::MessageBoxNotices notices;
    const zel::SoundBackend backend = zel::OpenSoundBackend();
    std::fprintf(stderr, "zel-test: playing through %s\n", backend.description.c_str());
    zel::InihProfileReader profile;
    zel::ModZeltest audio(
        zel::AudioPlatform{*backend.player, *backend.device, *backend.mixer, profile, notices},
        zel::DefaultSettingsDirectory());

    return zel::ui::RunProgram(app, audio, exitSignals.Fd());
}
