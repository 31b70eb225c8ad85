// The sound output on real servers, PulseAudio and PipeWire (through pipewire-pulse), each with a
// null sink recorded at its monitor: zel-stimuli --play, the sound-server back end in this
// process, the ALSA player through the servers' ALSA plugin; and no server at all.

#include "support/sound_server.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

#include "audio/mod_zeltest.h"
#include "audio/platform/alsa_sound_player.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "fakes/fake_platform.h"
#include "support/process.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::ServerKind;
using testing::TestSoundServer;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The sound of one image: the data chunk that follows the 44-byte header.
std::vector<int16_t> SoundOf(const void* image) {
    std::vector<int16_t> samples(22050);
    std::memcpy(samples.data(), static_cast<const char*>(image) + 44, 44100);
    return samples;
}

std::vector<int16_t> SoundOf(const fs::path& image) {
    return SoundOf(testing::ReadFile(image).data());
}

// Checks that the presentations, each tone-silence-tone, arrived bit-exact, in order and gapless.
void ExpectPresentations(
    const std::vector<int16_t>& recording,
    const std::vector<std::pair<std::vector<int16_t>, std::vector<int16_t>>>& presentations) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < presentations.size(); ++i) {
        const auto& [first, second] = presentations[i];
        const std::size_t firstAt = testing::FindSamples(recording, first, from);
        ASSERT_NE(firstAt, std::string::npos) << "presentation " << i << ": first tone missing";
        const auto silence = recording.begin() + static_cast<std::ptrdiff_t>(firstAt + 22050);
        ASSERT_LE(firstAt + 3 * 22050, recording.size());
        // Exactly the one second of silence the image holds, and then the second tone.
        EXPECT_TRUE(std::all_of(silence, silence + 22050, [](int16_t s) { return s == 0; }));
        EXPECT_TRUE(std::equal(second.begin(), second.end(), silence + 22050))
            << "presentation " << i << ": the second tone is not 22,050 frames after the first";
        from = firstAt + 3 * 22050;
    }
}

// Where the tests put Zel_test.ini.
void WriteSettings(const fs::path& folder, const std::string& wave, const std::string& master) {
    std::ofstream(folder / "Zel_test.ini")
        << "[Calibration]\nWave_volume=" << wave << "\nMaster_volume=" << master << "\n";
}

// The raw volume pactl shows first for the sink, or for the program's stream.
int64_t VolumeOf(const TestSoundServer& server, const std::string& what) {
    const testing::Outcome listed =
        server.Pactl(what == "sink" ? std::vector<std::string>{"get-sink-volume", "testsink"}
                                    : std::vector<std::string>{"list", "sink-inputs"});
    const std::size_t at = listed.out.find("Volume: mono: ");
    return at == std::string::npos ? -1 : std::stoll(listed.out.substr(at + 14));
}

// Whether `kind` is installed. Where it is not, the test is skipped (a desktop keeps the one
// server it has, as the two conflict), or failed where every server is required (CI).
bool Installed(ServerKind kind) {
    std::string why;
    if (TestSoundServer::Available(kind, why)) return true;
    if (std::getenv("ZEL_TEST_ALL_SERVERS") != nullptr) {
        ADD_FAILURE() << why;
    } else {
        [&] { GTEST_SKIP() << why; }();
    }
    return false;
}

class OnServer : public ::testing::TestWithParam<ServerKind> {
  protected:
    void SetUp() override {
        if (Installed(GetParam())) server.emplace(GetParam());
    }

    testing::Environment Environment() const { return server->ClientEnvironment(); }

    std::optional<TestSoundServer> server;
    testing::TemporaryFolder folder{"zel-server-test"};
};

INSTANTIATE_TEST_SUITE_P(, OnServer,
                         ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         [](const auto& info) { return TestSoundServer::Name(info.param); });

TEST_P(OnServer, TrialsArriveBitExactGaplessAndEachPresentationIsWaitedFor) {
    WriteSettings(folder.Path(), "&HFFFF", "&HFFFF");  // full scale: the samples pass unchanged
    server->StartRecording();
    const auto start = Clock::now();
    const testing::Outcome outcome =
        testing::RunProgram({ZEL_STIMULI, "--play", "--trials", "2", "--write",
                             folder.Path().string(), "--settings-dir", folder.Path().string()},
                            Environment());
    const double seconds = SecondsSince(start);
    const std::vector<int16_t> recording = server->StopRecording();
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // The back end is named, and the calibration applied without a notice.
    EXPECT_TRUE(outcome.err.starts_with("zel-stimuli: playing through the sound server ") &&
                std::count(outcome.err.begin(), outcome.err.end(), '\n') == 1)
        << outcome.err;
    EXPECT_GE(seconds, 6.0) << "a presentation ended before its sound";

    std::vector<std::pair<std::vector<int16_t>, std::vector<int16_t>>> presentations;
    for (const std::string trial : {"1", "2"}) {
        const fs::path prefix = folder.Path() / ("trial-" + trial + "-");
        presentations.emplace_back(SoundOf(fs::path(prefix.string() + "first.wav")),
                                   SoundOf(fs::path(prefix.string() + "second.wav")));
    }
    ExpectPresentations(recording, presentations);
}

TEST_P(OnServer, CalibrationSetsSinkAndStreamAndTheWriteBackRestoresBothExactly) {
    server->UseInThisProcess();
    ASSERT_EQ(server->Pactl({"set-sink-volume", "testsink", "40000"}).status, 0);
    WriteSettings(folder.Path(), "&H4000", "&H2000");
    SoundBackend backend = OpenSoundBackend();
    testing::Log log;
    testing::FakeNoticePresenter notices(log);
    InihProfileReader profile;
    ModZeltest audio({*backend.player, *backend.device, *backend.mixer, profile, notices},
                     folder.Path());
    audio.InitialiseAudio();
    EXPECT_TRUE(log.empty()) << log.front();
    EXPECT_EQ(audio.SoundAvailable(), kTrue);
    // 65,535 is 100 %: 8,192 and 16,384 land on the same raw values.
    EXPECT_EQ(VolumeOf(*server, "sink"), 8192);
    EXPECT_EQ(VolumeOf(*server, "stream"), 16384);
    audio.RestoreMixerLevels();
    EXPECT_EQ(VolumeOf(*server, "sink"), 40000);
    EXPECT_EQ(VolumeOf(*server, "stream"), 65536);
}

TEST_P(OnServer, ZelStimuliWritesTheSinkBackAtItsEndAndOnASignal) {
    ASSERT_EQ(server->Pactl({"set-sink-volume", "testsink", "40000"}).status, 0);
    const std::vector<std::string> arguments{ZEL_STIMULI, "--play",         "--trials",
                                             "1",         "--settings-dir", folder.Path().string()};
    EXPECT_EQ(testing::RunProgram(arguments, Environment()).status, 0);
    EXPECT_EQ(VolumeOf(*server, "sink"), 40000);

    std::vector<std::string> endless = arguments;
    endless[3] = "32767";
    testing::ChildProcess child(endless, Environment(), folder.Path() / "out",
                                folder.Path() / "err");
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (testing::ReadFile(folder.Path() / "out").empty()) {
        ASSERT_LT(Clock::now(), deadline) << "no trial presented";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(VolumeOf(*server, "sink"), 4096);  // the default calibration
    child.Signal(SIGTERM);
    const auto status = child.Wait(std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 128 + SIGTERM);
    EXPECT_EQ(VolumeOf(*server, "sink"), 40000);
}

// The trial cycle on a server that dies: the trial being presented is not put to the listener,
// the run ends with the counts of the trials heard, one notice says why, and nothing hangs.
TEST_P(OnServer, ServerGoneMidPresentationEndsTheRunWithoutScoringThatTrial) {
    server->UseInThisProcess();
    SoundBackend backend = OpenSoundBackend();
    testing::Log log;
    testing::FakeNoticePresenter notices(log);
    InihProfileReader profile;
    ModZeltest audio({*backend.player, *backend.device, *backend.mixer, profile, notices},
                     folder.Path());
    HeadlessWindow window;
    HeadlessShell shell;
    ProgramRandom random;
    Zelmain test(window, audio, shell, random);
    test.Form_Load();
    test.cmdStart_Click();
    ASSERT_EQ(test.State(), TrialState::AwaitingAnswer);
    ASSERT_TRUE(log.empty()) << log.front();

    std::thread killer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        server->Kill();
    });
    const auto start = Clock::now();
    test.cmdResponseA_Click();
    killer.join();
    EXPECT_LT(SecondsSince(start), 3.0 + 2.0);
    EXPECT_EQ(test.State(), TrialState::Idle);
    EXPECT_EQ(test.Settings().TrialsCompleted, 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(
        log[0].starts_with("notice [] The trial could not be played: the sound server went away") &&
        log[0].find("It was not counted; the run has ended") != std::string::npos)
        << log[0];
    // A new run fails at once instead of hanging on the dead connection.
    const auto again = Clock::now();
    test.cmdStart_Click();
    EXPECT_LT(SecondsSince(again), 1.0);
    EXPECT_EQ(test.State(), TrialState::Idle);
    EXPECT_EQ(log.size(), 2u);
}

// The ALSA player is for machines without a sound server; PulseAudio's ALSA plugin lets it play
// into a real one here. (Through that plugin PipeWire's server holds back an image's last few
// frames until more come; the ALSA player meets PipeWire only through pipewire-alsa.)
TEST(AlsaPlayerOnPulseAudio, PlaysPresentationsBitExactAndGapless) {
    if (!Installed(ServerKind::PulseAudio)) return;
    TestSoundServer server(ServerKind::PulseAudio);
    server.UseInThisProcess();
    AlsaSoundPlayer player("pulse");
    WaveHeader header;
    const ToneTable table = MakeToneTable();
    WaveImage tone = MakeWaveImage();
    WaveImage silence = MakeWaveImage();
    MakePulsedTone(header, tone, 1000.0f, 44100, 20000, table, 22050);
    MakePulsedTone(header, silence, 1000.0f, 44100, 0, table, 22050);
    server.StartRecording();
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        for (const WaveImage* image : {&tone, &silence, &tone}) {
            ASSERT_NE(player.Queue(image->Data(), 65532), 0);
        }
        ASSERT_NE(player.Finish(), 0) << player.Problem();
        EXPECT_GE(SecondsSince(start), 2.9) << "the presentation ended before its sound";
    }
    const std::vector<int16_t> recording = server.StopRecording();
    ExpectPresentations(recording, {{SoundOf(tone.Data()), SoundOf(tone.Data())},
                                    {SoundOf(tone.Data()), SoundOf(tone.Data())}});
    // Not a wave image, an empty one, a torn one and another format: failed, nothing else.
    const std::string text = "RIFF this is not a wave image at all";
    EXPECT_EQ(player.Queue(text.data(), static_cast<int32_t>(text.size())), 0);
    EXPECT_EQ(player.Queue(tone.Data(), 0), 0);
    EXPECT_EQ(player.Queue(tone.Data(), 30), 0);
    EXPECT_EQ(player.Finish(), 0);
}

TEST(NoSoundServer, OneNoticeSilentTrialsAndNothingFromLibasound) {
    testing::TemporaryFolder folder("zel-noserver");
    fs::create_directories(folder.Path() / "run");
    std::ofstream(folder.Path() / "client.conf") << "autospawn = no\n";
    const auto start = Clock::now();
    const testing::Outcome outcome = testing::RunProgram(
        {ZEL_STIMULI, "--play", "--trials", "3", "--settings-dir", folder.Path().string()},
        {{"HOME", folder.Path().string()},
         {"XDG_RUNTIME_DIR", (folder.Path() / "run").string()},
         {"PULSE_SERVER", "unix:" + (folder.Path() / "run" / "none").string()},
         {"PULSE_CLIENTCONFIG", (folder.Path() / "client.conf").string()},
         {"ALSA_CONFIG_PATH", (folder.Path() / "no-alsa.conf").string()}});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.err.starts_with(
                    "zel-stimuli: playing through ALSA device \"default\" (no sound server "
                    "answered: ") &&
                outcome.err.ends_with(")\nzel-stimuli: Cannot identify multimedia sound card. "
                                      "Demonstration will continue without option to listen to "
                                      "audio output.\n") &&
                std::count(outcome.err.begin(), outcome.err.end(), '\n') == 2)
        << outcome.err;
    EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 3);
    EXPECT_LT(SecondsSince(start), 2.0) << "silent trials take no time";
}

}  // namespace
}  // namespace zel
