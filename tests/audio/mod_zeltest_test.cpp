#include "audio/mod_zeltest.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <optional>

#include "audio/calibrator.h"
#include "audio/exit_signals.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/pulse/output_watch.h"
#include "audio/platform/pulse/volumes.h"
#include "audio/settings_writer.h"
#include "core/runtime_error.h"
#include "fakes/fake_platform.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

using testing::Log;
using Op = testing::FakeMixerService::Op;

const std::string kNoCard =
    "notice [] Cannot identify multimedia sound card. Demonstration will continue without option "
    "to listen to audio output.";
const std::string kNoFormat =
    "notice [] Sound card detected but does not appear to support 16-bit mono at 22.05 kHz. "
    "Demonstration will continue without option to listen to audio output.";
const std::string kNoMixer =
    "notice [] Please set sound card volume to maximum using software supplied with sound card "
    "before running Parlowen";
const std::string kCannotSet =
    "notice [] Unable to set volume. Please set sound card volume as required using software "
    "supplied with sound card before running Parlowen";

// The other sources muted (switched off where they can be), then master and wave set and switched
// on, in this order; levels are 1000 + type, the speakers start muted.
const Log kMuted{"set 4100 0", "set 4101 0", "set 4098 0", "set 4099 0",
                 "off 4099",   "set 3 0",    "set 4102 0"};
const Log kCalibrated{"set 4 4096", "on 4", "set 4104 20000", "on 4104"};
const Log kWrittenBack{"set 4100 5100", "set 4101 5101", "set 4098 5098", "set 4099 5099",
                       "on 4099",       "set 3 1003",    "set 4 1004",    "off 4",
                       "set 4104 5104", "on 4104",       "set 4102 5102"};

Log operator+(Log first, const Log& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The audio work on fakes of the card and the real reader; the program's end throws its status.
struct Rig {
    explicit Rig(const std::optional<std::string>& settings = std::nullopt)
        : audio(
              {player, device, mixer, profile, notices, watch}, folder.path().toStdString(),
              [this](int status) { throw ended = status; },
              [this](const std::string& line) {
                  // The output and the levels in use, apart.
                  const bool told = line.starts_with("playing through") ||
                                    line.starts_with("levels from") || line.starts_with("no ") ||
                                    line.starts_with("default levels");
                  (told ? said : log).push_back("stderr " + line);
              }) {
        if (settings) std::ofstream(SettingsPath(), std::ios::binary) << *settings;
    }
    std::string SettingsPath() const { return folder.filePath(kSettingsFileName).toStdString(); }

    QTemporaryDir folder;
    Log log, said;  // notices, mixer changes and write-back problems; the output line
    testing::FakeNoticePresenter notices{log};
    testing::FakeOutputDevice device;
    testing::FakeSoundPlayer player;
    testing::FakeMixerService mixer{log};
    testing::FakeOutputWatch watch;
    InihProfileReader profile;
    int ended = 0;  // the status the program was ended with
    ModZeltest audio;
};

TEST(ModZeltest, StartUpSetsTheMixerFoundAndWritesBackOnlyWhatItRead) {
    using component::kMicrophone, component::kSpeakers, component::kWaveOut;
    struct Row {
        const char* what;
        std::optional<uint32_t> formats;  // none: no device
        std::map<std::pair<Op, uint32_t>, int32_t> failures;
        Log startUp, writeBack;
        std::map<std::pair<Op, uint32_t>, int32_t> putBackFailures = {};
    };
    // clang-format off
    const Row rows[] = {
        {"working card", kWaveFormat2M16, {}, kMuted + kCalibrated, kWrittenBack},
        {"no device", std::nullopt, {}, {kNoCard}, {}},
        {"missing format", 0x20 | 0x80, {}, Log{kNoFormat} + kMuted + kCalibrated, kWrittenBack},
        {"speakers unreadable", kWaveFormat2M16, {{{Op::Get, kSpeakers}, 1}}, {kNoMixer}, {}},
        {"wave output unreadable", kWaveFormat2M16, {{{Op::Get, kWaveOut}, 1}}, {kNoMixer}, {}},
        {"wave output cannot be set", kWaveFormat2M16, {{{Op::Set, kWaveOut}, 3}},
         kMuted + Log{"set 4 4096", "on 4", "on 4104", kCannotSet}, kWrittenBack},
        {"both sets fail", kWaveFormat2M16, {{{Op::Set, kSpeakers}, 3}, {{Op::Set, kWaveOut}, 3}},
         kMuted + Log{"on 4", "on 4104", kCannotSet}, kWrittenBack},
        {"speakers cannot be switched on", kWaveFormat2M16, {{{Op::Switch, kSpeakers}, 3}},
         kMuted + Log{"set 4 4096", "set 4104 20000", "on 4104", kCannotSet}, kWrittenBack},
        {"mixer cannot be opened", kWaveFormat2M16, {{{Op::Open, 0}, 1}}, {kNoMixer}, {}},
        // A level never read could not be put back; a failing close hides no failing read.
        {"lines missing or unreadable", kWaveFormat2M16,
         {{{Op::Line, component::kTelephone}, 1}, {{Op::Line, component::kLine}, 1},
          {{Op::Get, kMicrophone}, 1}, {{Op::Close, kMicrophone}, 8}},
         Log{"set 4100 0", "set 4101 0", "set 3 0"} + kCalibrated,
         {"set 4100 5100", "set 4101 5101", "set 3 1003", "set 4 1004", "off 4", "set 4104 5104",
          "on 4104"}},
        {"close fails after the read", kWaveFormat2M16, {{{Op::Close, kMicrophone}, 8}},
         kMuted + kCalibrated, kWrittenBack},
        // Each level or switch that cannot be put back is said; the others still go back.
        {"speakers cannot be put back", kWaveFormat2M16, {}, kMuted + kCalibrated,
         {"set 4100 5100", "set 4101 5101", "set 4098 5098", "set 4099 5099", "on 4099",
          "set 3 1003",
          "stderr could not put back the speakers level (line 4, 1004 of 65535): error 3",
          "stderr could not put back the speakers mute (line 4, muted): error 5",
          "set 4104 5104", "on 4104", "set 4102 5102"},
         {{{Op::Set, kSpeakers}, 3}, {{Op::Switch, kSpeakers}, 5}}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig("[Calibration]\nWave_volume=20000\n");
        rig.device.formats = row.formats;
        rig.mixer.failures = row.failures;
        rig.audio.InitialiseAudio();
        EXPECT_EQ(rig.log, row.startUp);
        const bool sound = row.formats == kWaveFormat2M16;
        EXPECT_EQ(rig.audio.PlayWaveImage(MakeWaveImage()), sound ? 1 : 0);
        EXPECT_EQ(rig.audio.EndPresentation(),
                  sound ? PresentationEnd::Played : PresentationEnd::Silent);
        // What was read goes back, only once (every way out calls it), telling what failed.
        rig.log.clear();
        rig.mixer.failures = row.putBackFailures;
        const std::vector<std::string> told = rig.audio.RestoreMixerLevels();
        EXPECT_EQ(rig.audio.RestoreMixerLevels(), told);
        EXPECT_EQ(rig.log, row.writeBack);
        EXPECT_EQ(told.size(), row.putBackFailures.size());
        EXPECT_TRUE(rig.mixer.open.empty()) << "closed on every path";
    }
}

// What is not read, or read twice, is said on stderr with its line; the first value counts.
TEST(ModZeltest, SettingsFileIsReadAsTheProfileServiceReadsIt) {
    struct Row {
        const char* what;
        std::optional<std::string> file;
        int32_t wave, master;
        const char* output = "";
        Log told = {};  // after "stderr FILE: "
    };
    const Row rows[] = {
        {"no file: the defaults", std::nullopt, 32768, 4096},
        // Blanks around a value are not part of it, blanks inside are.
        {"names", "[Calibration]\nOutput = \t USB  sink\t \nOutput_port=x\n", 32768, 4096,
         "USB  sink"},
        {"names in any case, in their section",
         "[Other]\nWave_volume=1\n[calibration]\nWAVE_VOLUME = 20000\n",
         20000,
         4096,
         "",
         {"the section [Other] (line 2) is not one the program reads"}},
        {"the first match wins, after a byte-order mark",
         "\xEF\xBB\xBF[Calibration]\nMaster_volume=&HFFFF\n[CALIBRATION]\nmaster_volume=2\n",
         32768,
         65535,
         "",
         {"master_volume is given twice: &HFFFF (line 2) is used, 2 (line 4) is "
          "ignored"}},
        {"indented sections and keys are not continuations",
         "[Other]\nx=1\n  [Calibration]\nWave_volume=&h3\n\tMaster_volume=&H2000\n",
         3,
         8192,
         "",
         {"the section [Other] (line 2) is not one the program reads"}},
        {"a value is cut at 127 characters",
         "[Calibration]\nWave_volume=" + std::string(126, '0') + "7junk\n", 7, 4096},
        // The reader's line limit falls right before "Master_volume".
        {"a long line's tail is not a line",
         "[Calibration]\nOutput_por=" + std::string(188, 'x') + "Master_volume=7\n",
         32768,
         4096,
         "",
         {"the key Output_por (line 2) is not one the program reads; did you mean "
          "Output_port?"}},
        {"misspelt",
         "[Calibraton]\nWave_volume=1\nMaster_volume=2\n[Calibration]\nVolume=3\n",
         32768,
         4096,
         "",
         {"the section [Calibraton] (line 2) is not one the program reads; did you mean "
          "[Calibration]?",
          "the key Volume (line 5) is not one the program reads"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig(row.file);
        rig.audio.InitialiseAudio();
        EXPECT_EQ(rig.audio.WaveVolumeSetting(), row.wave);
        EXPECT_EQ(rig.audio.MasterVolumeSetting(), row.master);
        EXPECT_EQ(rig.audio.Output(), row.output);
        Log told;
        for (const std::string& line : row.told)
            told.push_back("stderr " + rig.SettingsPath() + ": " + line);
        EXPECT_EQ(Log(rig.log.begin(), rig.log.begin() + std::ssize(told)), told);
        EXPECT_TRUE(*row.output || rig.log.at(told.size()) == "set 4100 0") << "a notice";
    }
    // One that cannot be read is told once, before the card, and the defaults are used.
    Rig rig;
    std::filesystem::create_directory(rig.SettingsPath());
    rig.audio.InitialiseAudio();
    EXPECT_EQ(rig.log, (Log{"notice [] Cannot read the settings file " + rig.SettingsPath() +
                            " (Is a directory). The built-in calibration levels are used."} +
                        kMuted + Log{"set 4 4096", "on 4", "set 4104 32768", "on 4104"}));
    // After the output, where the levels come from: whether they were measured at all.
    const std::pair<std::optional<std::string>, std::string> levels[] = {
        {std::nullopt, "no settings file PATH: default levels, not calibrated for any headphones"},
        {"[Calibration]\nOutput=usb\n",
         "no levels in PATH: default levels, not calibrated for any headphones"},
        {"[Calibration]\nMaster_volume=1\n",
         "levels from PATH, measured on an output it does not name"},
        {"[Calibration]\nWave_volume=1\nOutput=usb\nOutput_port=jack\n",
         "levels from PATH, measured on usb, port jack"},
        {"", "default levels (PATH cannot be read), not calibrated for any headphones"},
    };
    for (const auto& [file, told] : levels) {
        Rig other(file);
        if (file && file->empty()) {  // a folder in its place
            std::filesystem::remove(other.SettingsPath());
            std::filesystem::create_directory(other.SettingsPath());
        }
        other.audio.InitialiseAudio();
        std::string expected = told;
        expected.replace(expected.find("PATH"), 4, other.SettingsPath());
        EXPECT_EQ(other.said.at(1), "stderr " + expected);
    }
}

TEST(ModZeltest, BadSettingStopsBeforeTheCardIsExaminedNamingFileKeyAndText) {
    // A number off the settings' scale is as bad as none: no line could be set as it says.
    const std::pair<std::string, ErrorKind> rows[] = {
        {"", ErrorKind::TypeMismatch},        {"twenty", ErrorKind::TypeMismatch},
        {"1.5", ErrorKind::TypeMismatch},     {"2147483648", ErrorKind::Overflow},
        {"-2147483649", ErrorKind::Overflow}, {"&H100000000", ErrorKind::Overflow},
        {"65536", ErrorKind::Overflow},       {"-5", ErrorKind::Overflow},
        {"&HFFFFFFFF", ErrorKind::Overflow},
    };
    for (const auto& [value, kind] : rows) {
        SCOPED_TRACE(value);
        // The master value is bad as well: the wave value is read first.
        Rig rig("[Calibration]\nMaster_volume=x\nWave_volume=" + value + "\n");
        try {
            rig.audio.InitialiseAudio();
            ADD_FAILURE() << "accepted";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Kind(), kind);
            const std::string named = rig.SettingsPath() + ", key Wave_volume: \"" + value + "\"";
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
            EXPECT_EQ(std::string(error.what())
                          .ends_with("outside the levels 0 to 65535 (&H0 to "
                                     "&HFFFF)"),
                      value == "65536" || value == "-5" || value == "&HFFFFFFFF");
        }
        EXPECT_TRUE(rig.log.empty());
    }
}

TEST(ModZeltest, PlaysAnExactCopyAndTellsOrStopsOnWhatItCannotPlay) {
    Rig rig;
    rig.audio.InitialiseAudio();
    WaveImage image(1, 32767);
    for (int32_t i = 1; i <= image.Upper(); ++i) image.At(i, "test") = static_cast<int16_t>(i * 7);
    EXPECT_EQ(rig.audio.PlayWaveImage(image), 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(image.Data());
    EXPECT_EQ(rig.player.played.at(0), std::vector<uint8_t>(bytes, bytes + 65534));
    // Played from element 1: an image without it is a subscript error.
    EXPECT_THROW(rig.audio.PlayWaveImage(WaveImage(2, 100)), RuntimeError);

    rig.log.clear();
    rig.player.problem = "the sound server went away";
    EXPECT_EQ(rig.audio.EndPresentation(), PresentationEnd::Failed);
    EXPECT_EQ(rig.log, Log{"notice [] The trial could not be played: the sound server went away. "
                           "It was not counted; the run has ended with the counts so far."});

    rig.log.clear();
    EXPECT_THROW(rig.audio.PlayWaveImage(WaveImage(1, 32768)), int);
    EXPECT_EQ(rig.ended, 1);
    EXPECT_EQ(rig.log,
              Log{"critical Attempt to play more than 64k waveform from memory"} + kWrittenBack);
    EXPECT_EQ(rig.player.played.size(), 1u);
}

// A change seen before a presentation plays nothing, one during it fails it; each says why, and
// the next presentation calibrates again on the port now in use, saving its level first. At the
// end each port gets back its own level.
TEST(ModZeltest, ATrialCountsOnlyIfItPlayedWhollyInTheCalibratedState) {
    const std::string kChange = "The sound output changed from Speakers to Headphones.";
    const std::string kEnded = "; the run has ended with the counts so far. Start goes on";
    const Log kNotPlayed{"notice [] " + kChange + " The next trial was not played" + kEnded +
                         " and sets the levels again."};
    const Log kTold{"notice [] " + kChange + " The trial was not counted" + kEnded +
                    " and sets the levels again."};
    const auto present = [](Rig& rig) {
        for (int image = 0; image < 3; ++image) rig.audio.PlayWaveImage(MakeWaveImage());
        return rig.audio.EndPresentation();
    };
    Rig rig("[Calibration]\nWave_volume=20000\n");
    rig.mixer.port = "speakers";
    rig.audio.StartGoesOn();
    rig.audio.InitialiseAudio();
    EXPECT_EQ(rig.watch.arms, 1);
    EXPECT_EQ(present(rig), PresentationEnd::Played);

    // Headphones plugged in between trials: their port has its own level and switch.
    rig.mixer.port = "headphones";
    rig.mixer.ports["headphones"] = 50000;
    rig.mixer.portSwitches["headphones"] = true;
    rig.watch.change = kChange;
    rig.log.clear();
    EXPECT_EQ(present(rig), PresentationEnd::Failed);
    EXPECT_EQ(rig.player.played.size(), 3u) << "nothing queued";
    EXPECT_EQ(rig.log, kNotPlayed);

    rig.log.clear();
    EXPECT_EQ(present(rig), PresentationEnd::Played);
    EXPECT_EQ(rig.watch.arms, 2);
    EXPECT_EQ(rig.log, kMuted + kCalibrated) << "calibrated again";
    EXPECT_EQ(rig.player.played.size(), 6u);

    // Changed while it played: its sound is cut short.
    rig.player.onFinish = [&] { rig.watch.change = kChange; };
    rig.log.clear();
    EXPECT_EQ(present(rig), PresentationEnd::Failed);
    EXPECT_EQ(rig.player.played.size(), 9u);
    EXPECT_EQ(rig.player.cuts, 1);
    EXPECT_EQ(rig.log, kTold);

    // Other programs heard while it played: named, whatever the level did.
    rig.player.onFinish = [&] {
        EXPECT_TRUE(rig.watch.listening);
        rig.watch.heard = {"Chime", "pactl"};
    };
    rig.log.clear();
    EXPECT_EQ(present(rig), PresentationEnd::Failed);
    EXPECT_FALSE(rig.watch.listening);
    EXPECT_EQ(rig.log, kMuted + kCalibrated +
                           Log{"notice [] Other programs, Chime and pactl, played sound on the "
                               "sound output during the trial. The trial was not counted" +
                               kEnded + "."});

    rig.log.clear();
    rig.audio.RestoreMixerLevels();
    EXPECT_EQ(rig.log, (Log{"set 4100 5100", "set 4101 5101", "set 4098 5098", "set 4099 5099",
                            "on 4099", "set 3 1003", "set 4 1004 on speakers", "off 4 on speakers",
                            "set 4 50000", "on 4", "set 4104 5104", "on 4104", "set 4102 5102"}));

    // The program ending (a signal): cut short, nothing told.
    rig.player.onFinish = {};
    rig.audio.StopOn([] { return true; });
    rig.log.clear();
    EXPECT_EQ(present(rig), PresentationEnd::Failed);
    EXPECT_EQ(rig.player.cuts, 3);
    EXPECT_TRUE(rig.log.empty());

    // A watch that cannot hold the calibrated state lets no trial count, until it can.
    Rig unwatched;
    unwatched.watch.armFailure = 7;
    unwatched.audio.InitialiseAudio();
    unwatched.log.clear();
    EXPECT_EQ(present(unwatched), PresentationEnd::Failed);
    EXPECT_EQ(unwatched.log,
              Log{"notice [] The program cannot watch the sound output (error 7), so no trial "
                  "can be known to play as calibrated. The next trial was not played; the run "
                  "has ended with the counts so far."});
    EXPECT_TRUE(unwatched.player.played.empty());
    unwatched.watch.armFailure = 0;
    EXPECT_EQ(present(unwatched), PresentationEnd::Played);
}

// The output the settings (or the command line) name is the one used; one that is not there, or
// on another port, is no sound card: one notice, nothing touched; it is looked for again at the
// next presentation. The first line says which output is in use.
TEST(ModZeltest, PlaysOnTheOutputNamedOrOnNone) {
    const std::string kOff = "notice [] Zel_test.ini was measured on ";
    struct Row {
        const char* file;
        std::optional<std::pair<const char*, const char*>> given;  // output and port
        Log startUp;
        const char* said;
    };
    const Row rows[] = {
        {"Output=usb\nOutput_port=headphones", {}, kMuted + kCalibrated, "the fake usb"},
        {"output = usb", {}, kMuted + kCalibrated, "the fake usb"},  // as the other keys are read
        {"Output=", {}, kMuted + kCalibrated, "the fake card"},      // empty: the default
        {"Output=usb\nOutput_port=speakers",
         {},
         {kOff + "usb (speakers), but its output is now headphones. Switch it back (plug in the "
                 "headphones it was measured on), or calibrate again."},
         "nothing (Zel_test.ini names usb, port speakers)"},
        {"Output=usb\nOutput_port=hdmi",
         {},
         {kOff + "usb, port hdmi, which it does not have (its ports are speakers and headphones). "
                 "Calibrate again."},
         "nothing (Zel_test.ini names usb, port hdmi)"},
        {"Output=gone",
         {},
         {kOff + "gone, which is not there now. Connect it, or calibrate again."},
         "nothing (Zel_test.ini names gone)"},
        {"Output=gone", std::pair{"usb", ""}, kMuted + kCalibrated, "the fake usb"},
        {"",
         std::pair{"nosuch", ""},
         {"notice [] No output named nosuch; zel-stimuli --list-outputs lists them."},
         "nothing (--output names nosuch)"},
        {"",
         std::pair{"usb", "hdmi"},
         {"notice [] usb has no port hdmi; its ports are speakers and headphones."},
         "nothing (--output names usb, port hdmi)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        Rig rig("[Calibration]\nWave_volume=20000\n" + std::string(row.file) + "\n");
        rig.device.outputs["usb"] = "headphones";
        if (row.given) rig.audio.UseOutput(row.given->first, row.given->second);
        rig.audio.InitialiseAudio();
        EXPECT_EQ(rig.log, row.startUp);
        EXPECT_EQ(rig.said.at(0), "stderr playing through " + std::string(row.said));
        EXPECT_EQ(rig.audio.SoundAvailable(), row.startUp.size() > 1 ? kTrue : kFalse);
    }
    // Connected after start-up: found at the next presentation, calibrated and played on.
    Rig later("[Calibration]\nWave_volume=20000\nOutput=usb\n");
    later.audio.InitialiseAudio();
    later.audio.PlayWaveImage(MakeWaveImage());
    EXPECT_EQ(later.audio.EndPresentation(), PresentationEnd::Silent);
    later.device.outputs["usb"] = "";
    later.log.clear();
    later.audio.PlayWaveImage(MakeWaveImage());
    EXPECT_EQ(later.audio.EndPresentation(), PresentationEnd::Played);
    EXPECT_EQ(later.log, kMuted + kCalibrated);
    EXPECT_EQ(later.said.back(), "stderr playing through the fake usb");

    // Its port switched during the session: the next start plays nothing there.
    Rig rig("[Calibration]\nOutput=usb\nOutput_port=headphones\n");
    rig.device.outputs["usb"] = "headphones";
    rig.audio.InitialiseAudio();
    rig.device.outputs["usb"] = "speakers";
    rig.watch.change = "Changed.";
    for (const std::string& told :
         {std::string("Changed."), kOff.substr(10) + "usb (headphones), but its output is now "
                                                     "speakers. Switch it back (plug in the "
                                                     "headphones it was measured on), or "
                                                     "calibrate again."}) {
        rig.log.clear();
        rig.audio.PlayWaveImage(MakeWaveImage());
        EXPECT_EQ(rig.audio.EndPresentation(), PresentationEnd::Failed);
        EXPECT_EQ(rig.log, Log{"notice [] " + told +
                               " The next trial was not played; the run has ended with the counts "
                               "so far."});
    }
    EXPECT_TRUE(rig.player.played.empty());
}

// The calibration tone is kept a little ahead of what the output has taken, however much the
// output holds (a network or Bluetooth output holds a second or more); a change cuts it short,
// fading, and says why.
TEST(Calibrator, KeepsTheToneAheadOfTheOutputAndCutsItShortOnAChange) {
    Rig rig;
    rig.player.holds = std::chrono::seconds(2);
    rig.audio.InitialiseAudio();
    Calibrator calibrator(rig.audio, rig.player, 1000.0f);
    EXPECT_TRUE(calibrator.Start());
    EXPECT_GE(rig.player.played.size(), 46u) << "2.3 s in blocks of 50 ms";
    rig.watch.change = "Changed.";
    EXPECT_FALSE(calibrator.Continue());
    EXPECT_EQ(rig.player.cuts, 1);
    EXPECT_EQ(calibrator.Stopped(), "Changed. The calibration tone has stopped.");
}

// A calibration saved into a settings file: its keys in place, everything else kept as it was.
TEST(SettingsWriter, TheSectionGoesInEverythingElseStays) {
    const std::string section = "[Calibration]\nWave_volume=&H9000\nMaster_volume=&HCB6\n";
    const std::pair<std::string, std::string> rows[] = {
        {"", section},
        {"; lab 3\n[Other]\nx=1", "; lab 3\n[Other]\nx=1\n\n" + section},
        {"[calibration]\n; by the meter\nwave_volume : 1\nOutput=usb\nx=2\n\n[Other]\n"
         "Master_volume=3\n",
         "[calibration]\n; by the meter\nWave_volume=&H9000\nx=2\nMaster_volume=&HCB6\n\n[Other]\n"
         "Master_volume=3\n"},
        {"\xEF\xBB\xBF[Calibration]\r\nMaster_volume=1\r\nMaster_volume=2\r\n",
         "\xEF\xBB\xBF[Calibration]\r\nMaster_volume=&HCB6\r\nMaster_volume=2\r\n"
         "Wave_volume=&H9000\r\n"},
    };
    for (const auto& [text, merged] : rows) EXPECT_EQ(MergeCalibration(text, section), merged);
}

// On a sound server: a sink's state goes back onto the port it was read on, which is made active
// for the moment it takes when another is active now (headphones plugged in since); and what the
// watch sees differ is said in words.
TEST(SoundServer, StatesGoBackPortByPortAndChangesAreNamed) {
    Log calls;
    SinkState desk;
    desk.name = "desk";
    desk.port = "headphones";
    const auto putBack = [&](const std::string& port, int32_t setting) {
        calls.clear();
        return OnPort(
            "desk", port,
            [&](const std::string& name, SinkState& sink) {
                sink = desk;
                return name == "desk" ? 0 : -5;
            },
            [&](const std::string&, const std::string& to) {
                calls.push_back("port " + to);
                return 0;
            },
            [&](const SinkState&) {
                calls.push_back("set");
                return setting;
            });
    };
    EXPECT_EQ(putBack("speakers", 0), 0);
    EXPECT_EQ(calls, (Log{"port speakers", "set", "port headphones"}));
    EXPECT_EQ(putBack("speakers", -3), -3) << "the set's failure, the port back all the same";
    EXPECT_EQ(calls, (Log{"port speakers", "set", "port headphones"}));
    EXPECT_EQ(putBack("headphones", 0), 0);
    EXPECT_EQ(calls, Log{"set"});

    WatchedState was;
    was.sink.description = "Built-in Audio";
    was.sink.port = "analog-output-speaker";
    was.sink.portDescription = "Speakers";
    was.sink.volume.channels = was.stream.volume.channels = 1;
    const std::pair<std::function<void(WatchedState&)>, std::string> rows[] = {
        {[](WatchedState&) {}, ""},
        {[](WatchedState& now) {
             now.sink.port = "analog-output-headphones";
             now.sink.portDescription = "Headphones";
         },
         "The sound output changed from Speakers to Headphones."},
        {[](WatchedState& now) { now.sink.mute = true; },
         "The sound output was muted by another program."},
        {[](WatchedState& now) { now.stream.volume.values[0] = 1; },
         "The level of the program's own sound (Zel Test in the sound settings) was changed by "
         "another program."},
        {[](WatchedState& now) {
             now.stream.sink = 7;
             now.movedTo = "HDMI";
         },
         "The sound output changed from Built-in Audio to HDMI."},
        {[](WatchedState& now) { now.streamGone = true; },
         "The sound output Built-in Audio went away."},
    };
    for (const auto& [change, said] : rows) {
        WatchedState now = was;
        change(now);
        EXPECT_EQ(Difference(was, now), said);
    }
}

// The first signal is the one reported; the handlers found are back afterwards.
TEST(ExitSignals, TheFirstSignalIsTakenAndTheHandlersGoBack) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    {
        ExitSignals exits;
        raise(SIGHUP);
        raise(SIGTERM);
        EXPECT_TRUE(exits.Pending());
        EXPECT_EQ(exits.Take(), SIGHUP);
        EXPECT_FALSE(exits.Pending());
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

// After a fatal stop no exit handler adds to what it said.
TEST(Kormodz, AFatalStopEndsAtOnce) {
    EXPECT_EXIT(
        {
            std::atexit([] { std::fputs("more", stderr); });
            std::fputs("notice", stderr);
            EndProcess(1);
        },
        ::testing::ExitedWithCode(1), "^notice$");
}

}  // namespace
}  // namespace zel
