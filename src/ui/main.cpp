// zel-test: the listening test's window. This is where the program's parts are put together.

#include <cstdio>
#include <filesystem>
#include <optional>

#include "audio/apiz.h"
#include "audio/exit_signals.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "ui/message_box_notices.h"
#include "ui/program.h"

namespace {

// The folder given with --settings-dir (to try a calibration without touching the system's
// settings file), the system configuration directory without it, or nothing when the option
// lacks its folder.
std::optional<std::filesystem::path> SettingsDirectory(const QStringList& arguments) {
    const QString option = QStringLiteral("--settings-dir");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i].startsWith(option + '=')) {
            return arguments[i].mid(option.size() + 1).toStdString();
        }
        if (arguments[i] != option) continue;
        if (i + 1 == arguments.size()) return std::nullopt;
        return arguments[i + 1].toStdString();
    }
    return zel::DefaultSettingsDirectory();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!zel::ui::DisplayAvailable(argc, argv)) {
        std::fputs(
            "zel-test: no display found; start it from a desktop session, or set "
            "QT_QPA_PLATFORM=offscreen to try it headless\n",
            stderr);
        return 1;
    }
    zel::ui::ZelApplication app(argc, argv);
    const auto settingsDirectory = SettingsDirectory(app.arguments());
    if (!settingsDirectory) {
        std::fputs(
            "zel-test: --settings-dir needs a folder; usage: zel-test [--settings-dir DIR]\n",
            stderr);
        return 2;
    }

    // Signals are caught before the mixer is touched, so that no way out skips the write-back.
    zel::ExitSignals exitSignals;
    zel::ui::MessageBoxNotices notices;
    const zel::SoundBackend backend = zel::OpenSoundBackend();
    zel::InihProfileReader profile;
    zel::ModZeltest audio(zel::AudioPlatform{*backend.player, *backend.device, *backend.mixer,
                                             profile, notices, *backend.watch},
                          *settingsDirectory);
    // A signal during a presentation cuts its sound short at once; the window then ends.
    audio.StopOn([&exitSignals] { return exitSignals.Pending(); });

    return zel::ui::RunProgram(app, audio, exitSignals.Fd());
}
