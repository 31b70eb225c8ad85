// zel-stimuli: builds trials exactly as the listening test does (same settings handlers, same
// tables, same generator from its fixed start), prints each trial's order and levels and can
// write its three images, so that researchers can inspect and archive what a listener hears.
// With --play it also does the test's start-up audio work and plays each trial, so that an
// operator can calibrate the levels with a sound-level meter.

#include <CLI/CLI.hpp>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "audio/exit_signals.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "audio/platform/stderr_notice_presenter.h"
#include "calibrate.h"
#include "core/runtime_error.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kWriteError = 1;

constexpr const char* kUsage =
    "usage: zel-stimuli [--frequency 500|1000|2000|4000|8000] "
    "[--step 0.1|0.2|0.25|0.5|1.0|2.0|5.0] [--format difference|modulation] "
    "[--trials 1..32767] [--write DIR] [--play [--settings-dir DIR]] | "
    "--calibrate [--frequency HZ] [--settings-dir DIR] [--output NAME [--port PORT]] | "
    "--list-outputs";

constexpr const char* kDescription =
    "Builds listening-test trials exactly as the Zel Test program does: trial K is the K-th trial "
    "a listener hears after launching the program with these settings.\n\n"
    "For each trial one line is printed:\n"
    "  trial=K correct=C standard_level=S target_level=T standard_hz=F target_hz=G\n"
    "C is the interval (1 or 2) holding the target; S and T are the peak levels of the standard "
    "and the target tone; F and G their frequencies as played (the target's centre frequency "
    "when modulated): every frequency is moved down onto a grid of 22,050 / 16,383 = 1.35 Hz. At "
    "500 Hz a step of 0.1 % falls on the same grid point as the standard: --play refuses it, and "
    "otherwise one warning says so.\n\n"
    "With --write DIR, each trial's three images are written as DIR/trial-K-first.wav, "
    "DIR/trial-K-silence.wav and DIR/trial-K-second.wav: the whole 65,532-byte image as played, "
    "byte for byte (the header's data size says how much of it is sound; the zero tail stays). "
    "DIR is created if missing.\n\n"
    "With --play, the test's start-up audio work runs first (calibration levels from "
    "Zel_test.ini in the settings directory, sound-card check, mixer calibration), then each "
    "trial is played (first tone, silence, second tone) on the default sound output: the "
    "desktop's sound server, or ALSA where none runs (ZEL_SOUND=server or alsa forces one). The "
    "first line on stderr names it; notices follow, one line each. The mixer levels are written "
    "back at the end and on Ctrl-C "
    "(SIGINT), SIGTERM or SIGHUP.\n\n"
    "With --calibrate, the same start-up audio work runs, then a steady tone at the base frequency "
    "plays at peak 32,000, the loudest any trial has, for a sound level meter. On a terminal, Up "
    "and Down step the selected level by 1 dB, Page Up and Page Down by 6 dB, Tab selects the "
    "other "
    "(wave output first, then speakers), Enter ends and prints the [Calibration] section with the "
    "levels in use, for Zel_test.ini; q or Ctrl-C ends without it. Without a terminal the tone "
    "plays until SIGINT, SIGTERM or SIGHUP, and the section is printed then. The settings file is "
    "never written.\n\n"
    "Exit status: 0 done, 1 DIR cannot be written, a trial could not be played, the output changed "
    "or a level could not be put back, or a run-time error, 2 bad arguments (nothing is written), "
    "128+N ended by signal N.";

struct UsageError {
    std::string message;
    bool showUsage = true;
};

struct WriteError {
    std::string message;
};

struct Interrupted {
    int signal;
};

// Index of the table entry equal to the decimal text, so "1", "1.0" and "1.00" all name 1.0.
template <typename Table>
std::optional<int16_t> IndexOfValue(const std::string& text, const Table& values) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (error != std::errc{} || stop != end) return std::nullopt;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (value == static_cast<double>(values[i])) return static_cast<int16_t>(i);
    }
    return std::nullopt;
}

// Compared with the decimal captions, not the single-precision table: 0.1f is not the double 0.1.
std::optional<int16_t> StepIndex(const std::string& text) {
    static constexpr std::array<double, 7> kDecimalSteps{0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 5.0};
    return IndexOfValue(text, kDecimalSteps);
}

struct Options {
    int16_t frequencyIndex = 1;
    int16_t stepIndex = 6;
    int16_t testFormat = zel::kFrequencyDifference;
    int16_t trials = 1;
    std::optional<std::filesystem::path> writeDir;
    bool play = false;
    std::filesystem::path settingsDir;
};

Options Interpret(const std::string& frequency, const std::string& step, const std::string& format,
                  const std::string& trials, const std::string& writeDir, bool play,
                  const std::string& settingsDir) {
    Options options;
    options.play = play;
    options.settingsDir = settingsDir;
    if (const auto index = IndexOfValue(frequency, zel::kBaseFrequencies)) {
        options.frequencyIndex = *index;
    } else {
        throw UsageError{"--frequency must be one of 500, 1000, 2000, 4000, 8000 (Hz), not '" +
                         frequency + "'"};
    }
    if (const auto index = StepIndex(step)) {
        options.stepIndex = *index;
    } else {
        throw UsageError{
            "--step must be one of 0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 5.0 (per cent), not '" + step +
            "'"};
    }
    if (format == "difference") {
        options.testFormat = zel::kFrequencyDifference;
    } else if (format == "modulation") {
        options.testFormat = zel::kFrequencyModulation;
    } else {
        throw UsageError{"--format must be difference or modulation, not '" + format + "'"};
    }
    int count = 0;
    const char* end = trials.data() + trials.size();
    const auto [stop, error] = std::from_chars(trials.data(), end, count);
    if (error != std::errc{} || stop != end || count < 1 || count > INT16_MAX) {
        throw UsageError{"--trials must be a whole number from 1 to 32767, not '" + trials + "'"};
    }
    options.trials = static_cast<int16_t>(count);
    if (!writeDir.empty()) options.writeDir = writeDir;
    return options;
}

// Takes the images as the trial cycle plays them (first, silence, second) and writes each one.
class ImageWriter final : public zel::AudioOperations {
  public:
    explicit ImageWriter(std::optional<std::filesystem::path> dir) : dir_(std::move(dir)) {}

    void BeginTrial(int trial) {
        trial_ = trial;
        played_ = 0;
    }

    void InitialiseAudio() override {}
    std::vector<std::string> RestoreMixerLevels() override { return {}; }

    int32_t PlayWaveImage(const zel::WaveImage& image) override {
        static constexpr std::array<const char*, 3> kNames{"first", "silence", "second"};
        if (dir_) {
            const auto name = "trial-" + std::to_string(trial_) + "-" + kNames.at(played_) + ".wav";
            Write(*dir_ / name, image);
        }
        ++played_;
        return 0;
    }
    zel::PresentationEnd EndPresentation() override { return zel::PresentationEnd::Silent; }

  private:
    static void Write(const std::filesystem::path& path, const zel::WaveImage& image) {
        errno = 0;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        bool ok = file != nullptr &&
                  std::fwrite(image.Data(), 1, image.ByteSize(), file) == image.ByteSize();
        int reason = errno;
        if (file != nullptr && std::fclose(file) != 0) {
            ok = false;
            if (reason == 0) reason = errno;
        }
        if (!ok) {
            throw WriteError{"cannot write " + path.string() + ": " +
                             std::strerror(reason != 0 ? reason : EIO)};
        }
    }

    std::optional<std::filesystem::path> dir_;
    int trial_ = 0;
    std::size_t played_ = 0;
};

// What the trial cycle's sound calls do in the tool: write each image when asked, play it when
// asked, and end the run after a presentation that a signal to end cut short.
class ToolAudio final : public zel::AudioOperations {
  public:
    ToolAudio(ImageWriter& writer, zel::ModZeltest* sound, zel::ExitSignals* signals)
        : writer_(writer), sound_(sound), signals_(signals) {
        // A signal cuts the sound short at once; the run ends once the presentation has.
        if (sound_ != nullptr) sound_->StopOn([signals] { return signals->Pending(); });
    }

    void InitialiseAudio() override {
        if (sound_ == nullptr) return;
        sound_->InitialiseAudio();
        StopIfSignalled();
    }
    int32_t PlayWaveImage(const zel::WaveImage& image) override {
        writer_.PlayWaveImage(image);
        return sound_ != nullptr ? sound_->PlayWaveImage(image) : 0;
    }
    zel::PresentationEnd EndPresentation() override {
        if (sound_ == nullptr) return zel::PresentationEnd::Silent;
        ended_ = sound_->EndPresentation();
        StopIfSignalled();
        return ended_;
    }
    // Whether the last presentation was heard, where playing was asked for.
    bool Heard() const { return sound_ == nullptr || ended_ == zel::PresentationEnd::Played; }
    std::vector<std::string> RestoreMixerLevels() override {
        return sound_ != nullptr ? sound_->RestoreMixerLevels() : std::vector<std::string>{};
    }

  private:
    void StopIfSignalled() {
        if (signals_ != nullptr && signals_->Pending()) throw Interrupted{signals_->Take()};
    }

    ImageWriter& writer_;
    zel::ModZeltest* sound_;
    zel::ExitSignals* signals_;
    zel::PresentationEnd ended_ = zel::PresentationEnd::Silent;
};

void PrepareDirectory(const std::filesystem::path& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) throw WriteError{"cannot create directory " + dir.string() + ": " + error.message()};
    if (!std::filesystem::is_directory(dir)) {
        throw WriteError{"cannot write to " + dir.string() + ": not a directory"};
    }
}

bool Present(zel::Zelmain& test, ImageWriter& writer, const ToolAudio& audio,
             const Options& options);

int Run(const Options& options) {
    if (options.writeDir) PrepareDirectory(*options.writeDir);

    // Signals are caught before the mixer is touched, so that no way out skips the write-back.
    std::optional<zel::ExitSignals> signals;
    zel::SoundBackend backend;
    zel::InihProfileReader profile;
    zel::StderrNoticePresenter notices("zel-stimuli");
    std::optional<zel::ModZeltest> sound;
    if (options.play) {
        signals.emplace();
        backend = zel::OpenSoundBackend();
        sound.emplace(zel::AudioPlatform{*backend.player, *backend.device, *backend.mixer, profile,
                                         notices, *backend.watch},
                      options.settingsDir);
    }

    zel::HeadlessWindow window;
    zel::HeadlessShell shell;
    zel::ProgramRandom random;
    ImageWriter writer(options.writeDir);
    ToolAudio audio(writer, sound ? &*sound : nullptr, signals ? &*signals : nullptr);
    zel::Zelmain test(window, audio, shell, random);
    // Whatever the way out, a level left changed (the write-back has said which) makes it a
    // failure.
    int status = 0;
    try {
        status = Present(test, writer, audio, options) ? 0 : 1;
    } catch (const Interrupted& interrupted) {
        std::cout.flush();
        status = 128 + interrupted.signal;
    } catch (...) {
        // Every such end has status 1 already.
        audio.RestoreMixerLevels();
        throw;
    }
    return audio.RestoreMixerLevels().empty() ? status : 1;
}

// False when a trial could not be played (the notice has said why, or the one about the sound
// card at start-up): the run ends there, that trial not printed.
bool Present(zel::Zelmain& test, ImageWriter& writer, const ToolAudio& audio,
             const Options& options) {
    // The operator's path: load, choose the settings, Start; every answer presents the next trial.
    test.Form_Load();
    if (!options.play) test.AllowIdenticalTones();
    test.optFrequency_Click(options.frequencyIndex);
    test.optFrequencyDifference_Click(options.stepIndex);
    test.optTestFormat_Click(options.testFormat);
    for (int trial = 1; trial <= options.trials; ++trial) {
        writer.BeginTrial(trial);
        if (trial == 1) {
            test.cmdStart_Click();
        } else {
            test.cmdResponseA_Click();
        }
        if (test.State() != zel::TrialState::AwaitingAnswer || !audio.Heard()) return false;
        // The frequencies the tables play, not the ones asked for: the tables' grid moves each
        // down by up to 1.35 Hz.
        const zel::TrialSettings& settings = test.Settings();
        char played[64];
        std::snprintf(played, sizeof played, " standard_hz=%.3f target_hz=%.3f",
                      zel::PlayedFrequency(settings.BaseFrequency, settings.SampleRate),
                      zel::PlayedFrequency(settings.TargetFrequency, settings.SampleRate));
        std::cout << "trial=" << trial << " correct=" << test.CorrectInterval()
                  << " standard_level=" << test.StandardLevel()
                  << " target_level=" << test.TargetLevel() << played << std::endl;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "zel-stimuli"};
    std::string frequency = "1000";
    std::string step = "5.0";
    std::string format = "difference";
    std::string trials = "1";
    std::string writeDir;
    app.add_option("--frequency", frequency,
                   "Base frequency in Hz: 500, 1000, 2000, 4000, 8000 (default 1000)")
        ->option_text("HZ");
    app.add_option("--step", step,
                   "Step in per cent: 0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 5.0 (default 5.0)")
        ->option_text("PERCENT");
    app.add_option("--format", format,
                   "Test format: difference (the target is higher by the step) or modulation (the "
                   "target is modulated at 5 Hz by the step); default difference")
        ->option_text("difference|modulation");
    app.add_option("--trials", trials, "Number of trials, 1 to 32767 (default 1)")
        ->option_text("N");
    app.add_option("--write", writeDir, "Write each trial's three images into DIR")
        ->option_text("DIR");
    bool play = false;
    app.add_flag("--play", play,
                 "Run the start-up audio work and play each trial on the default sound output");
    bool calibrate = false;
    app.add_flag("--calibrate", calibrate,
                 "Run the start-up audio work and play a steady tone at the test's loudest level, "
                 "for a sound level meter; on a terminal, step the levels with the arrow keys");
    std::string output, port;
    app.add_option("--output", output,
                   "With --calibrate: the output to calibrate (a name --list-outputs gives) "
                   "instead of the one Zel_test.ini names or the default")
        ->option_text("NAME");
    app.add_option("--port", port, "With --output: the port that output must have active")
        ->option_text("PORT");
    bool list = false;
    app.add_flag("--list-outputs", list,
                 "List the outputs: name, description, the default marked, ports (* active)");
    std::string settingsDir = zel::DefaultSettingsDirectory().string();
    app.add_option("--settings-dir", settingsDir,
                   "Where Zel_test.ini is looked for (with --play or --calibrate)")
        ->option_text("DIR")
        ->check(CLI::ExistingDirectory)
        ->capture_default_str();

    try {
        app.parse(argc, argv);
        const Options options =
            Interpret(frequency, step, format, trials, writeDir, play, settingsDir);
        if (list) {
            if (argc > 2) throw UsageError{"--list-outputs takes no other option"};
            return zel::ListOutputs();
        }
        if (!calibrate && (!output.empty() || !port.empty())) {
            throw UsageError{"--output and --port go with --calibrate"};
        }
        if (!play && !calibrate && app.count("--settings-dir") > 0) {
            throw UsageError{"--settings-dir goes with --play or --calibrate"};
        }
        if (!port.empty() && output.empty()) throw UsageError{"--port goes with --output"};
        if (!calibrate) {
            zel::TrialSettings chosen;
            chosen.BaseFrequency =
                zel::kBaseFrequencies.at(static_cast<std::size_t>(options.frequencyIndex));
            chosen.StepPercent = zel::kStepPercents.at(static_cast<std::size_t>(options.stepIndex));
            chosen.TestFormat = options.testFormat;
            chosen.SampleRate = 22050;
            // Tones that are the same are not played to a listener; written or printed, they are
            // said to be the same.
            if (const std::string same = zel::IdenticalTones(chosen); !same.empty()) {
                if (play) throw UsageError{same, false};
                std::cerr << "zel-stimuli: " << same << '\n';
            }
            return Run(options);
        }
        if (play || options.writeDir || app.count("--trials") > 0 || app.count("--step") > 0 ||
            app.count("--format") > 0) {
            throw UsageError{
                "--calibrate plays one steady tone: it takes only --frequency, "
                "--settings-dir, --output and --port"};
        }
        return zel::Calibrate(
            zel::kBaseFrequencies.at(static_cast<std::size_t>(options.frequencyIndex)),
            options.settingsDir, output, port);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& error) {
        std::cerr << "zel-stimuli: " << error.what() << "; " << kUsage << '\n';
        return kUsageError;
    } catch (const UsageError& error) {
        std::cerr << "zel-stimuli: " << error.message
                  << (error.showUsage ? std::string("; ") + kUsage : std::string()) << '\n';
        return kUsageError;
    } catch (const WriteError& error) {
        std::cerr << "zel-stimuli: " << error.message << '\n';
        return kWriteError;
    } catch (const zel::RuntimeError& error) {
        std::cerr << "zel-stimuli: " << error.what() << '\n';
        return 1;
    } catch (const std::exception& error) {
        // Setting up the signal handling can fail; the mixer is untouched by then.
        std::cerr << "zel-stimuli: " << error.what() << '\n';
        return 1;
    }
}
