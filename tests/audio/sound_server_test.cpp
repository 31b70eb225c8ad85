// Sound output on real servers, PulseAudio and PipeWire (through pipewire-pulse), each with a null
// sink recorded at its monitor; and with no server at all.

#include "support/sound_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <optional>
#include <thread>

#include "audio/mod_zeltest.h"
#include "audio/platform/alsa_sound_player.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "fakes/fake_platform.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"

namespace zel {
namespace {

using Samples = std::vector<int16_t>;
using testing::ServerKind;
using testing::TestSoundServer;

// The sound of a wave image: the 22,050 frames after its 44-byte header.
Samples SoundOf(const void* image) {
    Samples samples(22050);
    std::memcpy(samples.data(), static_cast<const char*>(image) + 44, 44100);
    return samples;
}

// Each presentation's two tones arrived in order and bit-exact, the second exactly 44,100 frames
// after the first, with nothing but zeros between.
void ExpectPresentations(const Samples& recording, const std::vector<Samples>& tones) {
    for (std::size_t i = 0, from = 0; i < tones.size(); i += 2, from += 3 * 22050) {
        from = testing::FindSamples(recording, tones[i], from);
        ASSERT_NE(from, std::string::npos) << "presentation " << i / 2 << ": first tone missing";
        ASSERT_LE(from + 3 * 22050, recording.size());
        const auto silence = recording.begin() + static_cast<std::ptrdiff_t>(from + 22050);
        EXPECT_TRUE(std::all_of(silence, silence + 22050, [](int16_t s) { return s == 0; }));
        EXPECT_TRUE(std::equal(tones[i + 1].begin(), tones[i + 1].end(), silence + 22050))
            << "presentation " << i / 2 << ": the second tone is not where it belongs";
    }
}

// Where a server is not installed its tests are skipped (a desktop keeps the one it has, as the
// two conflict), or fail where every server is required (CI).
bool Installed(ServerKind kind) {
    std::string why;
    if (TestSoundServer::Available(kind, why)) return true;
    [&] {
        if (std::getenv("ZEL_TEST_ALL_SERVERS") != nullptr) FAIL() << why;
        GTEST_SKIP() << why;
    }();
    return false;
}

class OnServer : public ::testing::TestWithParam<ServerKind> {
  protected:
    void SetUp() override {
        if (!Installed(GetParam())) return;
        server.emplace(GetParam());
        ASSERT_EQ(server->Pactl({"set-sink-volume", "testsink", "40000"}).status, 0);
    }
    // The raw volume pactl shows first for the sink, or for the program's stream.
    int64_t Volume(const char* what) const {
        const std::string listed =
            server
                ->Pactl(what == std::string("sink") ? QStringList{"get-sink-volume", "testsink"}
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

TEST_P(OnServer, ZelStimuliPlaysBitExactGaplessWaitsForEachTrialAndWritesTheSinkBack) {
    WriteSettings("&HFFFF", "&HFFFF");  // full scale: the samples pass unchanged
    server->StartRecording();
    QElapsedTimer timer;
    timer.start();
    const testing::Outcome run = testing::Run(Stimuli("2") << "--write" << folder.path());
    EXPECT_GE(timer.elapsed(), 6000) << "a presentation ended before its sound";
    const Samples recording = server->StopRecording();
    ASSERT_EQ(run.status, 0) << run.err;
    // The back end named, and the calibration applied without a notice.
    EXPECT_TRUE(run.err.starts_with("zel-stimuli: playing through the sound server ") &&
                std::count(run.err.begin(), run.err.end(), '\n') == 1)
        << run.err;
    EXPECT_EQ(Volume("sink"), 40000);
    std::vector<Samples> tones;
    for (const char* image : {"1-first", "1-second", "2-first", "2-second"}) {
        const QString path = folder.filePath(QString("trial-%1.wav").arg(image));
        tones.push_back(SoundOf(testing::ReadFile(path).data()));
    }
    ExpectPresentations(recording, tones);
}

TEST_P(OnServer, ZelStimuliWritesTheSinkBackOnASignal) {
    const auto child = testing::Start(Stimuli("32767"));
    ASSERT_TRUE(child->waitForReadyRead(30'000)) << "no trial presented";
    EXPECT_EQ(Volume("sink"), 4096);  // the default calibration
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 128 + SIGTERM);
    EXPECT_EQ(Volume("sink"), 40000);
}

// The audio work in this process, as zel-test does it: the calibration set on sink and stream and
// written back exactly; then the server dies mid-trial: the trial is not scored, the run ends with
// the counts so far, one notice says why, and nothing waits on the dead connection.
TEST_P(OnServer, CalibratesWritesBackAndEndsTheRunWhenTheServerDies) {
    WriteSettings("&H4000", "&H2000");
    SoundBackend backend = OpenSoundBackend();
    testing::Log log;
    testing::FakeNoticePresenter notices(log);
    InihProfileReader profile;
    ModZeltest audio({*backend.player, *backend.device, *backend.mixer, profile, notices},
                     folder.path().toStdString());
    HeadlessWindow window;
    HeadlessShell shell;
    ProgramRandom random;
    Zelmain test(window, audio, shell, random);
    test.Form_Load();
    ASSERT_TRUE(log.empty()) << log.front();
    // 65,535 is 100 %: 8,192 and 16,384 land on the same raw values.
    EXPECT_EQ(Volume("sink"), 8192);
    EXPECT_EQ(Volume("stream"), 16384);
    audio.RestoreMixerLevels();
    EXPECT_EQ(Volume("sink"), 40000);
    EXPECT_EQ(Volume("stream"), 65536);

    test.cmdStart_Click();
    ASSERT_EQ(test.State(), TrialState::AwaitingAnswer);
    std::thread killer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // within the presentation
        server->Kill();
    });
    QElapsedTimer timer;
    timer.start();
    test.cmdResponseA_Click();
    killer.join();
    EXPECT_LT(timer.elapsed(), 10'000);
    EXPECT_EQ(test.State(), TrialState::Idle);
    EXPECT_EQ(test.Settings().TrialsCompleted, 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].starts_with("notice [] The trial could not be played: the sound server "
                                   "went away") &&
                log[0].find("It was not counted; the run has ended") != std::string::npos)
        << log[0];
    timer.start();
    test.cmdStart_Click();
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(test.State(), TrialState::Idle);
    EXPECT_EQ(log.size(), 2u);
}

// The ALSA player is for machines without a sound server; PulseAudio's ALSA plugin lets it play
// into a real one here. (Through that plugin PipeWire's server holds back an image's last few
// frames until more come; the ALSA player meets PipeWire only through pipewire-alsa.)
TEST(AlsaPlayerOnPulseAudio, PlaysPresentationsBitExactAndGaplessAndRefusesABadImage) {
    if (!Installed(ServerKind::PulseAudio)) return;
    TestSoundServer server;
    AlsaSoundPlayer player("pulse");
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 0.0f, 22050);
    WaveHeader header;
    WaveImage tone = MakeWaveImage(), silence = MakeWaveImage();
    MakePulsedTone(header, tone, 1000.0f, 44100, 20000, tables.StandardTable, 22050);
    MakePulsedTone(header, silence, 1000.0f, 44100, 0, tables.StandardTable, 22050);
    server.StartRecording();
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer timer;
        timer.start();
        for (const WaveImage* image : {&tone, &silence, &tone}) {
            ASSERT_NE(player.Queue(image->Data(), 65532), 0);
        }
        ASSERT_NE(player.Finish(), 0) << player.Problem();
        EXPECT_GE(timer.elapsed(), 2900) << "the presentation ended before its sound";
    }
    const Samples sound = SoundOf(tone.Data());
    ExpectPresentations(server.StopRecording(), {sound, sound, sound, sound});
    // Not a wave image, an empty one, a torn one: failed, nothing else.
    const std::string text = "RIFF this is not a wave image at all";
    EXPECT_EQ(player.Queue(text.data(), static_cast<int32_t>(text.size())), 0);
    EXPECT_EQ(player.Queue(tone.Data(), 0), 0);
    EXPECT_EQ(player.Queue(tone.Data(), 30), 0);
    EXPECT_EQ(player.Finish(), 0);
}

TEST(NoSoundServer, OneNoticeSilentTrialsAndTheAlsaBackEndNamed) {
    const QTemporaryDir folder;
    const QString none = folder.filePath("none");
    QElapsedTimer timer;
    timer.start();
    const testing::Outcome run = testing::Run(
        {"env", "-u", "ZEL_SOUND", "HOME=" + folder.path(), "XDG_RUNTIME_DIR=" + folder.path(),
         "PULSE_SERVER=unix:" + none, "ALSA_CONFIG_PATH=" + none, ZEL_STIMULI, "--play", "--trials",
         "3", "--settings-dir", folder.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.starts_with("zel-stimuli: playing through ALSA device \"default\" (no "
                                    "sound server answered: ") &&
                run.err.ends_with(")\nzel-stimuli: Cannot identify multimedia sound card. "
                                  "Demonstration will continue without option to listen to "
                                  "audio output.\n") &&
                std::count(run.err.begin(), run.err.end(), '\n') == 2)
        << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 3);
    EXPECT_LT(timer.elapsed(), 6000) << "silent trials take no time";
}

}  // namespace
}  // namespace zel
