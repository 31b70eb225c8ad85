// zel-test: the listening test's window. This is where the program's parts are put together.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "audio/apiz.h"
#include "audio/exit_signals.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "ui/message_box_notices.h"
#include "ui/program.h"

namespace {

constexpr const char* kUsage =
    "usage: zel-test [--calibrate] [--settings-dir DIR] [--help] [--version]";

struct Options {
    // The folder of the settings file: the system configuration directory unless another is
    // given, to try a calibration without touching the system's settings file.
    std::filesystem::path settingsDirectory = zel::DefaultSettingsDirectory();
    bool calibrate = false;
};

// The options, or the status to end with at once (help, version, a bad option): all before the
// settings file is read or the mixer touched.
std::optional<Options> Parse(int argc, char** argv, int& status) {
    CLI::App app{
        "The Zel Test listening test: whether a listener can hear a small change of pitch in a "
        "pure tone. See zel-test(1).",
        "zel-test"};
    Options options;
    std::string directory = options.settingsDirectory.string();
    app.add_option("--settings-dir", directory, "Where Zel_test.ini is looked for")
        ->option_text("DIR")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();
    app.add_flag("--calibrate", options.calibrate,
                 "Open the calibration window instead of the test: the loudest tone, the two "
                 "levels stepped in dB, and the settings file's section");
    app.set_version_flag("--version", std::string("zel-test ") + ZEL_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        status = 0;
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        status = 0;
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        std::cerr << "zel-test: " << error.what() << "; " << kUsage << '\n';
        status = 2;
        return std::nullopt;
    }
    options.settingsDirectory = directory;
    return options;
}

}  // namespace

int main(int argc, char* argv[]) {
    int status = 0;
    const std::optional<Options> options = Parse(argc, argv, status);
    if (!options) return status;
    if (!zel::ui::DisplayAvailable()) {
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
    zel::InihProfileReader profile;
    zel::ModZeltest audio(zel::AudioPlatform{*backend.player, *backend.device, *backend.mixer,
                                             profile, notices, *backend.watch},
                          options->settingsDirectory);
    // A signal during a presentation cuts its sound short at once; the window then ends.
    audio.StopOn([&exitSignals] { return exitSignals.Pending(); });
    if (!options->calibrate) audio.StartGoesOn();

    return options->calibrate
               ? zel::ui::RunCalibration(app, audio, *backend.player, exitSignals.Fd())
               : zel::ui::RunProgram(app, audio, exitSignals.Fd());
}
