// The ALSA mixer backend and the start-up calibration on a control device with all eight lines
// (a test plugin keeping its values in a file), and zel-stimuli --play writing the mixer back.

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string_view>
#include <thread>

#include "audio/mixer_api.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/alsa_mixer_service.h"
#include "audio/platform/alsa_output_device.h"
#include "audio/platform/alsa_sound_player.h"
#include "audio/platform/inih_profile_reader.h"
#include "fakes/fake_platform.h"
#include "support/process.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFullMixer =
    "Master 0 65535 2 40000 41000\n"
    "PCM 0 255 2 200 210\n"
    "Synth 0 31 2 20 21\n"
    "CD 0 31 2 22 22\n"
    "Line 0 31 1 23\n"
    "Mic 0 31 1 24\n"
    "Monitor 0 31 1 25\n"
    "Phone 0 31 1 26\n";

class TestMixer : public ::testing::Test {
  protected:
    void SetUp() override {
        // The whole ALSA configuration of this process, set before libasound first reads it.
        setenv("ALSA_CONFIG_PATH", ZEL_TEST_ALSA_CONFIG, 1);
        setenv("ZEL_TEST_MIXER_STATE", State().c_str(), 1);
        Write(kFullMixer);
    }

    fs::path State() const { return folder.Path() / "mixer"; }
    void Write(const std::string& text) const { std::ofstream(State()) << text; }
    std::string Read() const { return testing::ReadFile(State()); }

    testing::TemporaryFolder folder{"zel-mixer"};
    AlsaMixerService mixer;
    MixerApi api{mixer};
};

// Every line reads and sets the settings file's 0-65,535 scale, whatever the element's range:
// a read gives the loudest channel, a set gives all channels the nearest raw level.
TEST_F(TestMixer, LevelsAreOnOneScaleMappedOntoEachElementsRange) {
    const std::pair<uint32_t, int32_t> read[] = {{component::kSpeakers, 41000},
                                                 {component::kWaveOut, 53970},
                                                 {component::kTelephone, 54965}};
    for (const auto& [type, expected] : read) {
        int32_t level = 0, minimum = 0, maximum = 0, stage = -1;
        ASSERT_EQ(api.GetMixerVolume(0, type, level, minimum, maximum, stage), 0);
        EXPECT_EQ(level, expected) << type;
        EXPECT_EQ(maximum, 65535);
    }
    int32_t stage = -1;
    ASSERT_EQ(api.SetMixerVolume(0, component::kSpeakers, 1234, stage), 0);
    ASSERT_EQ(api.SetMixerVolume(0, component::kTelephone, 32768, stage), 0);  // 15.5002 of 31
    EXPECT_NE(Read().find("Master 0 65535 2 1234 1234\n"), std::string::npos) << Read();
    EXPECT_NE(Read().find("Phone 0 31 1 16\n"), std::string::npos) << Read();
}

TEST_F(TestMixer, MissingLineLineWithoutVolumeAndOutOfRangeValueFail) {
    Write("Master 0 100 1 50\nPCM switch 1\n");
    int32_t level = 0, minimum = 0, maximum = 0, stage = -1;
    EXPECT_NE(api.GetMixerVolume(0, component::kTelephone, level, minimum, maximum, stage), 0);
    EXPECT_EQ(stage, stage::kLineInfo);
    EXPECT_NE(api.GetMixerVolume(0, component::kWaveOut, level, minimum, maximum, stage), 0);
    EXPECT_EQ(stage, stage::kVolumeControl);
    // ALSA itself would clamp these silently and report success.
    for (const int32_t outside : {65536, -1}) {
        EXPECT_NE(api.SetMixerVolume(0, component::kSpeakers, outside, stage), 0);
        EXPECT_EQ(stage, stage::kSetValue);
    }
    EXPECT_EQ(Read(), "Master 0 100 1 50\nPCM switch 1\n");
}

TEST_F(TestMixer, StartUpCalibratesAndTheWriteBackRestoresEveryLineExactly) {
    std::ofstream(folder.Path() / "Zel_test.ini") << "[Calibration]\nWave_volume=20000\n";
    testing::Log log;
    testing::FakeNoticePresenter notices(log);
    AlsaOutputDevice device;
    AlsaSoundPlayer player;
    InihProfileReader profile;
    ModZeltest audio({player, device, mixer, profile, notices}, folder.Path());
    audio.InitialiseAudio();
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_EQ(audio.SoundAvailable(), kTrue);
    EXPECT_EQ(Read(),
              "Master 0 65535 2 4096 4096\nPCM 0 255 2 78 78\nSynth 0 31 2 0 0\n"
              "CD 0 31 2 0 0\nLine 0 31 1 0\nMic 0 31 1 0\nMonitor 0 31 1 0\nPhone 0 31 1 0\n");
    audio.RestoreMixerLevels();
    // Every channel comes back as it was: the balance of Master and Synth survives.
    EXPECT_EQ(Read(), kFullMixer);
}

// zel-stimuli --play on this mixer and a PCM that plays at once: the levels are calibrated while
// it runs and written back however it ends.
class StimuliOnTestMixer : public TestMixer {
  protected:
    static constexpr const char* kAnnounced =
        "zel-stimuli: playing through ALSA device \"default\" (ZEL_SOUND=alsa)\n";

    testing::Environment Environment() const {
        return {{"ALSA_CONFIG_PATH", ZEL_TEST_ALSA_CONFIG},
                {"ZEL_TEST_MIXER_STATE", State().string()},
                {"ZEL_SOUND", "alsa"}};
    }
    std::vector<std::string> Arguments(const std::string& trials) const {
        return {ZEL_STIMULI, "--play",         "--trials",
                trials,      "--settings-dir", folder.Path().string()};
    }
};

TEST_F(StimuliOnTestMixer, WritesTheMixerBackAtTheEnd) {
    const testing::Outcome outcome = testing::RunProgram(Arguments("2"), Environment());
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, kAnnounced);
    EXPECT_EQ(Read(), kFullMixer);
}

TEST_F(StimuliOnTestMixer, WritesTheMixerBackOnEachEndingSignal) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        Write(kFullMixer);
        const fs::path out = folder.Path() / ("out-" + std::to_string(signal));
        const fs::path err = folder.Path() / ("err-" + std::to_string(signal));
        testing::ChildProcess child(Arguments("32767"), Environment(), out, err);
        // Wait until trials are being presented, so the mixer has been calibrated.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (testing::ReadFile(out).find("trial=2 ") == std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no trials presented";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_NE(Read().find("Mic 0 31 1 0\n"), std::string::npos) << Read();
        child.Signal(signal);
        const auto status = child.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(status.has_value()) << "did not end on signal " << signal;
        EXPECT_EQ(*status, 128 + signal);
        EXPECT_EQ(Read(), kFullMixer) << "signal " << signal;
        EXPECT_EQ(testing::ReadFile(err), kAnnounced);
    }
}

// zel-test, headless, on this mixer: however a signal finds it (running, in a start-up notice, in
// the report of a bad settings value), it leaves the mixer as it found it, and ends with status 0
// only where nothing failed.
TEST_F(StimuliOnTestMixer, ZelTestEndsOnASignalWithTheMixerAsItWasFound) {
    struct Case {
        const char* when;
        const char* settings;  // null: the settings file is a folder, which gives a notice
        const char* waitFor;   // in stderr, or in the mixer when it starts with "mixer: "
        int status;
    };
    const Case cases[] = {
        {"running", "", "mixer: Mic 0 31 1 0\n", 0},
        {"in a start-up notice", nullptr, "playing through", 0},
        {"in the report of a bad value", "[Calibration]\nWave_volume=loud\n",
         "zel-test: Type mismatch in ReadCalibration", 1},
    };
    for (const Case& c : cases) {
        Write(kFullMixer);
        const fs::path settings = folder.Path() / c.when;
        fs::create_directories(settings);
        if (c.settings) {
            std::ofstream(settings / "Zel_test.ini") << c.settings;
        } else {
            fs::create_directory(settings / "Zel_test.ini");
        }
        testing::Environment environment = Environment();
        environment["QT_QPA_PLATFORM"] = "offscreen";
        const fs::path err = settings / "err";
        testing::ChildProcess child({ZEL_TEST, "--settings-dir", settings.string()}, environment,
                                    settings / "out", err);
        const std::string_view wanted = c.waitFor;
        const bool inMixer = wanted.starts_with("mixer: ");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while ((inMixer ? Read() : testing::ReadFile(err)).find(wanted.substr(inMixer ? 7 : 0)) ==
               std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << c.when;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        child.Signal(SIGTERM);
        const auto status = child.Wait(std::chrono::seconds(10));
        ASSERT_TRUE(status.has_value()) << c.when << ": did not end";
        EXPECT_EQ(*status, c.status) << c.when << "\n" << testing::ReadFile(err);
        EXPECT_EQ(Read(), kFullMixer) << c.when;
    }
}

}  // namespace
}  // namespace zel
