// The ALSA back end on the test plugin's control device (all eight lines, kept in a file) and a PCM
// that plays at once; zel-stimuli and zel-test leaving that mixer as they found it.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "audio/calibrator.h"
#include "audio/mixer_api.h"
#include "audio/platform/alsa/mixer_service.h"
#include "audio/platform/inih_profile_reader.h"
#include "fakes/fake_platform.h"
#include "support/process.h"

namespace zel {
namespace {

// NAME MAX LEVEL... [SWITCH...], a level (and switch) for each channel: Master muted.
constexpr const char* kMixer =
    "Master 65535 40000 41000 off off\nPCM 255 200 210 on on\nSynth 31 20 21\nCD 31 22 22\n"
    "Line 31 23 on\nMic 31 24 on\nMonitor 31 25\nPhone 31 26\n";

// As the default calibration leaves it.
constexpr const char* kCalibrated =
    "Master 65535 4096 4096 on on\nPCM 255 128 128 on on\nSynth 31 0 0\nCD 31 0 0\n"
    "Line 31 0 off\nMic 31 0 off\nMonitor 31 0\nPhone 31 0\n";

class TestAlsa : public ::testing::Test {
  protected:
    void SetUp() override {
        // The ALSA configuration of this process and its children, before libasound reads it.
        setenv("ALSA_CONFIG_PATH", ZEL_TEST_ALSA_CONFIG, 1);
        setenv("ZEL_TEST_MIXER_STATE", state.toLocal8Bit().constData(), 1);
        setenv("ZEL_SOUND", "alsa", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        Write(kMixer);
    }
    void Write(const std::string& text) const { std::ofstream(state.toStdString()) << text; }
    std::string Read() const { return testing::ReadFile(state); }

    QTemporaryDir folder;
    const QString state = folder.filePath("mixer");
    AlsaMixerService mixer;
    MixerApi api{mixer};
};

// Every line reads and sets the settings' 0-65,535 scale on the element's range: a read gives the
// loudest channel, a set every channel the nearest level. A value off that scale (ALSA would
// clamp it silently) and a missing line fail.
TEST_F(TestAlsa, LevelsAreOnOneScaleMappedOntoEachElementsRange) {
    int32_t level = 0, minimum = 0, maximum = 0, stage = -1;
    for (const auto& [type, expected] : {std::pair{component::kSpeakers, 41000},
                                         {component::kWaveOut, 53970},
                                         {component::kTelephone, 54965}}) {
        ASSERT_EQ(api.GetMixerVolume(0, type, level, minimum, maximum, stage), 0);
        EXPECT_EQ(level, expected) << type;
        EXPECT_EQ(maximum, 65535);
    }
    ASSERT_EQ(api.SetMixerVolume(0, component::kSpeakers, 1234, stage), 0);
    ASSERT_EQ(api.SetMixerVolume(0, component::kTelephone, 32768, stage), 0);  // 15.5002 of 31
    for (const int32_t outside : {65536, -1}) {
        EXPECT_NE(api.SetMixerVolume(0, component::kSpeakers, outside, stage), 0);
        EXPECT_EQ(stage, stage::kSetValue);
    }
    EXPECT_EQ(Read(),
              "Master 65535 1234 1234 off off\nPCM 255 200 210 on on\nSynth 31 20 21\n"
              "CD 31 22 22\nLine 31 23 on\nMic 31 24 on\nMonitor 31 25\nPhone 31 16\n");
    Write("Master 65535 50\n");
    EXPECT_NE(api.GetMixerVolume(0, component::kTelephone, level, minimum, maximum, stage), 0);
    EXPECT_EQ(stage, stage::kLineInfo);
}

// zel-stimuli --play and zel-test, headless: while they play Master and PCM are switched on and
// the other sources off; however they end, every channel is as they found it (balances too,
// Master muted again), and the status says whether something failed.
TEST_F(TestAlsa, ProgramsLeaveItAsTheyFoundItHoweverTheyEnd) {
    struct Case {
        const char* trials;    // zel-stimuli --play --trials; null: zel-test
        const char* settings;  // Zel_test.ini; null: a folder in its place, which gives a notice
        const char* waitFor;   // on stderr before the signal (or by the end); null: calibrated
        int signal;  // 0: none; kDisplayLost: X server ends; kCardGone: mixer fails, then SIGTERM
        int status;
        const char* option = nullptr;  // one more argument
    };
    constexpr int kDisplayLost = -1, kCardGone = -2;
    const Case cases[] = {
        {"2", "", nullptr, 0, 0},
        // A card the file names that is not there: nothing is touched, nothing played.
        {"2", "[Calibration]\nOutput=Headset\n",
         "zel-stimuli: Zel_test.ini was measured on the sound card Headset, which is not there "
         "now.",
         0, 1},
        {"32767", "", nullptr, SIGINT, 128 + SIGINT},
        {"32767", "", nullptr, SIGTERM, 128 + SIGTERM},
        {"32767", "", nullptr, SIGHUP, 128 + SIGHUP},
        // zel-test ends at once, with status 0 unless something failed before the signal.
        {nullptr, "", nullptr, SIGTERM, 0},
        {nullptr, nullptr, "playing through", SIGTERM, 0},
        {nullptr, "[Calibration]\nWave_volume=loud\n", "zel-test: Type mismatch in ReadCalibration",
         SIGTERM, 1},
        {nullptr, "", nullptr, kDisplayLost, 1},  // as at logout: Qt ends the process
        {nullptr, "", nullptr, kCardGone, 1},     // what cannot be put back is said
        // Options are checked before anything is touched.
        {nullptr, "", "zel-test: The following argument was not expected: --bogus; usage: zel-test",
         0, 2, "--bogus"},
        {nullptr, "", nullptr, 0, 0, "--help"},
        // The calibration window ends as the test does.
        {nullptr, "", nullptr, SIGTERM, 0, "--calibrate"},
    };
    int n = 0;
    for (const Case& c : cases) {
        Write(kMixer);
        const QString dir = folder.filePath(QString::number(++n)), err = dir + "/err";
        SCOPED_TRACE("case " + std::to_string(n));
        QDir().mkpath(c.settings ? dir : dir + "/Zel_test.ini");
        if (c.settings) std::ofstream((dir + "/Zel_test.ini").toStdString()) << c.settings;
        QStringList argv{c.trials ? ZEL_STIMULI : ZEL_TEST, "--settings-dir", dir};
        if (c.trials) argv += QStringList{"--play", "--trials", c.trials};
        if (c.option) argv << c.option;
        std::unique_ptr<testing::Child> display;
        if (c.signal == kDisplayLost) {
            display = testing::Start({"Xvfb", "-displayfd", "1", "-nolisten", "tcp"});
            ASSERT_TRUE(display->waitForReadyRead(30'000));
            argv = QStringList{"env", "QT_QPA_PLATFORM=xcb",
                               "DISPLAY=:" + display->readLine().trimmed()} +
                   argv;
        }
        const auto child = testing::Start(argv, QProcess::nullDevice(), err);
        if (c.signal != 0) {
            ASSERT_TRUE(testing::WaitFor([&] {
                return c.waitFor ? testing::Has(testing::ReadFile(err), c.waitFor)
                                 : Read() == kCalibrated;
            })) << testing::ReadFile(err)
                << Read();
            if (display) {
                display.reset();
            } else if (c.signal == kCardGone) {
                QFile::remove(state);
                QDir().mkpath(state);
                ::kill(static_cast<pid_t>(child->processId()), SIGTERM);
            } else {
                ::kill(static_cast<pid_t>(child->processId()), c.signal);
            }
        }
        const int status = testing::Status(*child);
        const std::string said = testing::ReadFile(err);
        EXPECT_EQ(status, c.status) << said;
        EXPECT_TRUE(c.signal != 0 || !c.waitFor || testing::Has(said, c.waitFor)) << said;
        if (c.signal == kCardGone) {
            EXPECT_TRUE(testing::Has(said,
                                     "zel-test: could not put back the speakers level "
                                     "(element Master on default, 41000 of 65535)"))
                << said;
            QDir(state).removeRecursively();
            continue;
        }
        EXPECT_EQ(Read(), kMixer);
    }
}

// The calibration's dB steps (PCM: 0 to 255 is -51 to 0 dB, 0.2 dB a step) go to the step nearest
// the target and stop at either end, saying so; an element without a dB scale is not stepped.
TEST_F(TestAlsa, CalibrationStepsInDecibelsOnTheElementsScale) {
    Write("Master 65535 40000 41000\nPCM 255 200 210 dB:-5100:0\n");
    testing::Log log;
    testing::FakeNoticePresenter notices(log);
    testing::FakeOutputDevice device;
    testing::FakeSoundPlayer player;
    testing::FakeOutputWatch watch;
    InihProfileReader profile;
    ModZeltest audio({player, device, mixer, profile, notices, watch}, folder.path().toStdString());
    audio.InitialiseAudio();
    Calibrator calibrator(audio, player, 1000.0f);
    EXPECT_DOUBLE_EQ(calibrator.Gain(Calibrator::Line::Wave).value(), -25.4);  // 32768: step 128
    const struct {
        double dB;
        const char* note;
        int32_t level;  // as the element reads back: step * 257
    } steps[] = {{1, "", 133 * 257},
                 {6, "", 163 * 257},
                 {-0.05, "", 162 * 257},  // less than a step still moves one
                 {30, "at the top of the range", 65535},
                 {1, "at the top of the range", 65535},
                 {-60, "at the bottom of the range", 0}};
    for (const auto& step : steps) {
        EXPECT_EQ(calibrator.Step(Calibrator::Line::Wave, step.dB), step.note) << step.dB;
        EXPECT_EQ(calibrator.Level(Calibrator::Line::Wave), step.level) << step.dB;
    }
    EXPECT_EQ(calibrator.Step(Calibrator::Line::Speakers, 1), "no dB scale on this output");
    EXPECT_EQ(calibrator.Section(),
              "[Calibration]\nWave_volume=&H0\nMaster_volume=&H1000\nOutput=card\n");
    EXPECT_EQ(Read(), "Master 65535 4096 4096\nPCM 255 0 0 dB:-5100:0\n");
}

}  // namespace
}  // namespace zel
