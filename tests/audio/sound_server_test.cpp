// Sound output on real servers, PulseAudio and PipeWire (through pipewire-pulse), each with a null
// sink recorded at its monitor; and with no server at all.

#include "support/sound_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <optional>

#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "fakes/fake_platform.h"

namespace zel {
namespace {

using Samples = std::vector<int16_t>;
using testing::ServerKind;
using testing::TestSoundServer;

class OnServer : public ::testing::TestWithParam<ServerKind> {
  protected:
    // Where a server is not installed its tests are skipped (a desktop keeps the one it has, as
    // the two conflict), or fail where every server is required (CI).
    void SetUp() override {
        std::string why;
        if (!TestSoundServer::Available(GetParam(), why) && std::getenv("ZEL_TEST_ALL_SERVERS"))
            FAIL() << why;
        if (!why.empty()) GTEST_SKIP() << why;
        server.emplace(GetParam());
        ASSERT_EQ(server->Pactl({"set-sink-volume", "testsink", "40000"}).status, 0);
    }
    // The raw volume pactl shows first for the sink, or for the program's stream.
    int64_t Volume(const std::string& what) const {
        const std::string listed =
            server
                ->Pactl(what == "sink" ? QStringList{"get-sink-volume", "testsink"}
                                       : QStringList{"list", "sink-inputs"})
                .out;
        const std::size_t at = listed.find("Volume: mono: ");
        return at == std::string::npos ? -1 : std::stoll(listed.substr(at + 14));
    }
    void WriteSettings(const char* wave, const char* master) const {
        std::ofstream(folder.filePath("Zel_test.ini").toStdString())
            << "[Calibration]\nWave_volume=" << wave << "\nMaster_volume=" << master << "\n";
    }
    QStringList Stimuli(const char* trials) const {
        return {ZEL_STIMULI, "--play", "--trials", trials, "--settings-dir", folder.path()};
    }

    std::optional<TestSoundServer> server;
    QTemporaryDir folder;
};

INSTANTIATE_TEST_SUITE_P(, OnServer,
                         ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         [](const auto& info) { return TestSoundServer::Name(info.param); });

// Through the server's own protocol and, on PulseAudio, through the ALSA player and PulseAudio's
// ALSA plugin, whose mixer has no lines to calibrate. (Through that plugin PipeWire's server holds
// back an image's last few frames until more come; the ALSA player meets it only through
// pipewire-alsa.)
TEST_P(OnServer, ZelStimuliPlaysBitExactGaplessWaitsForEachTrialAndWritesTheSinkBack) {
    WriteSettings("&HFFFF", "&HFFFF");  // full scale: the samples pass unchanged
    const QString alsaConfig = folder.filePath("alsa.conf");
    std::ofstream(alsaConfig.toStdString()) << "pcm.default.type pulse\nctl.default.type pulse\n";
    for (const QString sound : {"server", "alsa"}) {
        if (sound == "alsa" && GetParam() == ServerKind::PipeWire) break;
        if (sound == "alsa") server->Pactl({"set-sink-volume", "testsink", "65536"});
        server->StartRecording();
        QElapsedTimer timer;
        timer.start();
        const testing::Outcome run = testing::Run(
            QStringList{"env", "ZEL_SOUND=" + sound, "ALSA_CONFIG_PATH=" + alsaConfig} +
            Stimuli("2") + QStringList{"--write", folder.path()});
        EXPECT_GE(timer.elapsed(), 6000) << "a presentation ended before its sound";
        const Samples recording = server->StopRecording();
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.err.starts_with(sound == "alsa"
                                            ? "zel-stimuli: playing through ALSA"
                                            : "zel-stimuli: playing through the sound server "))
            << run.err;
        if (sound == "server") {  // the calibration applied without a notice, and written back
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(Volume("sink"), 40000);
        }
        // Each trial's two tones arrived in order and bit-exact, the second exactly 44,100 frames
        // after the first, with nothing but zeros between.
        const auto samplesOf = [&](const QString& image) {
            Samples samples(22050);  // after the 44-byte header
            std::memcpy(samples.data(), testing::ReadFile(folder.filePath(image)).data() + 44,
                        44100);
            return samples;
        };
        for (std::size_t at = 0, trial = 1; trial <= 2; ++trial) {
            const QString prefix = QString("trial-%1-").arg(trial);
            at = testing::FindSamples(recording, samplesOf(prefix + "first.wav"), at);
            ASSERT_NE(at, std::string::npos) << "trial " << trial << " missing";
            ASSERT_LE(at + 3 * 22050, recording.size());
            const auto silence = recording.begin() + static_cast<std::ptrdiff_t>(at + 22050);
            EXPECT_TRUE(std::all_of(silence, silence + 22050, [](int16_t s) { return s == 0; }));
            const Samples second = samplesOf(prefix + "second.wav");
            EXPECT_TRUE(std::equal(second.begin(), second.end(), silence + 22050))
                << "trial " << trial << ": the second tone is not where it belongs";
        }
    }
}

TEST_P(OnServer, ZelStimuliWritesTheSinkBackOnASignal) {
    const auto child = testing::Start(Stimuli("32767"));
    ASSERT_TRUE(child->waitForReadyRead(30'000)) << "no trial presented";
    EXPECT_EQ(Volume("sink"), 4096);  // the default calibration
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 128 + SIGTERM);
    EXPECT_EQ(Volume("sink"), 40000);
}

// The server dies while trial 2 plays: that trial is neither printed nor counted, the run ends at
// once with status 1 and one notice says why.
TEST_P(OnServer, ZelStimuliEndsTheRunWhenTheServerDies) {
    const auto child = testing::Start(Stimuli("32767"));
    ASSERT_TRUE(child->waitForReadyRead(30'000)) << "no trial presented";
    QThread::msleep(400);  // into trial 2's sound, unless the machine is slow: either will do
    QElapsedTimer timer;
    timer.start();
    server->Kill();
    EXPECT_EQ(testing::Status(*child), 1);
    EXPECT_LT(timer.elapsed(), 10'000) << "it waited on the dead server";
    EXPECT_EQ(child->readAllStandardOutput().count('\n'), 1);
    const std::string err = child->readAllStandardError().toStdString();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_NE(err.find("\nzel-stimuli: The trial could not be played: the sound server went away"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("It was not counted; the run has ended"), std::string::npos) << err;
}

// In zel-test's own process, where the stream outlives a presentation, the calibration is set on
// sink and stream and written back exactly.
TEST_P(OnServer, CalibrationSetsSinkAndStreamAndTheWriteBackRestoresBoth) {
    WriteSettings("&H4000", "&H2000");
    SoundBackend backend = OpenSoundBackend();
    testing::Log log;
    testing::FakeNoticePresenter notices(log);
    InihProfileReader profile;
    ModZeltest audio({*backend.player, *backend.device, *backend.mixer, profile, notices},
                     folder.path().toStdString());
    audio.InitialiseAudio();
    EXPECT_TRUE(log.empty()) << log.front();
    // 65,535 is 100 %: 8,192 and 16,384 land on the same raw values.
    EXPECT_EQ(Volume("sink"), 8192);
    EXPECT_EQ(Volume("stream"), 16384);
    audio.RestoreMixerLevels();
    EXPECT_EQ(Volume("sink"), 40000);
    EXPECT_EQ(Volume("stream"), 65536);
}

TEST(NoSoundServer, OneNoticeSilentTrialsAndTheAlsaBackEndNamed) {
    const QTemporaryDir home;
    QElapsedTimer timer;
    timer.start();
    const testing::Outcome run = testing::Run(
        {"env", "-u", "ZEL_SOUND", "HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path(),
         "PULSE_SERVER=unix:/nonexistent", "ALSA_CONFIG_PATH=/nonexistent", ZEL_STIMULI, "--play",
         "--trials", "3", "--settings-dir", home.path()});
    EXPECT_LT(timer.elapsed(), 6000) << "silent trials take no time";
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_TRUE(
        run.err.starts_with("zel-stimuli: playing through ALSA device \"default\" (no "
                            "sound server answered: "))
        << run.err;
    EXPECT_NE(run.err.find(")\nzel-stimuli: Cannot identify multimedia sound card."),
              std::string::npos);
}

}  // namespace
}  // namespace zel
