// The ALSA back end on a control device with all eight mixer lines (the test plugin, which keeps
// its levels in a file) and a PCM that plays at once; and zel-stimuli and zel-test leaving that
// mixer as they found it.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>

#include "audio/mixer_api.h"
#include "audio/platform/alsa_mixer_service.h"
#include "audio/platform/alsa_sound_player.h"
#include "support/process.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

// NAME MAX LEVEL..., a level for each channel.
constexpr const char* kMixer =
    "Master 65535 40000 41000\nPCM 255 200 210\nSynth 31 20 21\nCD 31 22 22\nLine 31 23\n"
    "Mic 31 24\nMonitor 31 25\nPhone 31 26\n";

class TestAlsa : public ::testing::Test {
  protected:
    void SetUp() override {
        // The whole ALSA configuration of this process and of the programs it starts, set before
        // libasound first reads it.
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

// Every line reads and sets the settings file's 0-65,535 scale, whatever the element's range: a
// read gives the loudest channel, a set gives every channel the nearest level. A value off that
// scale, which ALSA would clamp silently, and a missing line fail.
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
              "Master 65535 1234 1234\nPCM 255 200 210\nSynth 31 20 21\nCD 31 22 22\n"
              "Line 31 23\nMic 31 24\nMonitor 31 25\nPhone 31 16\n");
    Write("Master 65535 50\n");
    EXPECT_NE(api.GetMixerVolume(0, component::kTelephone, level, minimum, maximum, stage), 0);
    EXPECT_EQ(stage, stage::kLineInfo);
}

TEST_F(TestAlsa, ThePlayerRefusesAnImageTornInItsHeader) {
    AlsaSoundPlayer player;
    WaveHeader header;
    WaveImage image = MakeWaveImage();
    MakePulsedTone(header, image, 1000.0f, 44100, 0, MakeToneTable(), 22050);
    for (const int32_t size : {30, 65532}) {
        EXPECT_EQ(player.Queue(image.Data(), size) != 0, size == 65532) << size;
        EXPECT_EQ(player.Finish() != 0, size == 65532) << player.Problem();
    }
}

// zel-stimuli --play and zel-test, headless, on this mixer and a PCM that plays at once: however
// they end, every channel is as they found it (the balance of Master and Synth survives), and the
// status says whether something failed.
TEST_F(TestAlsa, ProgramsLeaveItAsTheyFoundItHoweverTheyEnd) {
    struct Case {
        const char* program;
        const char* trials;    // zel-stimuli --play --trials; null for zel-test
        const char* settings;  // Zel_test.ini; null: a folder in its place, which gives a notice
        const char* waitFor;   // on stderr before the signal; null: until the mixer is calibrated
        int signal;            // 0: none, the program ends by itself
        int status;
    };
    const Case cases[] = {
        {ZEL_STIMULI, "2", "", nullptr, 0, 0},
        {ZEL_STIMULI, "32767", "", nullptr, SIGINT, 128 + SIGINT},
        {ZEL_STIMULI, "32767", "", nullptr, SIGTERM, 128 + SIGTERM},
        {ZEL_STIMULI, "32767", "", nullptr, SIGHUP, 128 + SIGHUP},
        // zel-test ends at once, with status 0 unless something failed before the signal.
        {ZEL_TEST, nullptr, "", nullptr, SIGTERM, 0},
        {ZEL_TEST, nullptr, nullptr, "playing through", SIGTERM, 0},
        {ZEL_TEST, nullptr, "[Calibration]\nWave_volume=loud\n",
         "zel-test: Type mismatch in ReadCalibration", SIGTERM, 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        Write(kMixer);
        const QString dir = folder.filePath(QString::number(++n)), err = dir + "/err";
        QDir().mkpath(c.settings ? dir : dir + "/Zel_test.ini");
        if (c.settings) std::ofstream((dir + "/Zel_test.ini").toStdString()) << c.settings;
        QStringList argv{c.program, "--settings-dir", dir};
        if (c.trials)
            argv << "--play"
                 << "--trials" << c.trials;
        const auto child = testing::Start(argv, QProcess::nullDevice(), err);
        if (c.signal != 0) {
            ASSERT_TRUE(testing::WaitFor([&] {
                return c.waitFor ? testing::ReadFile(err).find(c.waitFor) != std::string::npos
                                 : Read().find("Mic 31 0\n") != std::string::npos;
            })) << "case "
                << n << ": " << testing::ReadFile(err);
            ::kill(static_cast<pid_t>(child->processId()), c.signal);
        }
        EXPECT_EQ(testing::Status(*child), c.status) << "case " << n << testing::ReadFile(err);
        EXPECT_EQ(Read(), kMixer) << "case " << n;
        if (c.trials) {
            EXPECT_EQ(testing::ReadFile(err),
                      "zel-stimuli: playing through ALSA device \"default\" (ZEL_SOUND=alsa)\n");
        }
    }
}

}  // namespace
}  // namespace zel
