// The ALSA backends and zel-stimuli --play against a real sound server (a private PulseAudio with
// a null sink, recorded at its monitor), and without any server at all.

#include "support/sound_server.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "audio/mixer_api.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/alsa_mixer_service.h"
#include "audio/platform/alsa_output_device.h"
#include "audio/platform/alsa_sound_player.h"
#include "fakes/fake_platform.h"
#include "support/process.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::TestSoundServer;

// The sound of one written image: the data chunk that follows the 44-byte header.
std::vector<int16_t> SoundOf(const fs::path& image) {
    const std::string bytes = testing::ReadFile(image);
    EXPECT_EQ(bytes.size(), 65532u) << image;
    std::vector<int16_t> samples(22050);
    std::memcpy(samples.data(), bytes.data() + 44, 44100);
    return samples;
}

TEST(SoundServer, TrialsArriveBitExactBackToBackAndInOrder) {
    TestSoundServer server;
    testing::TemporaryFolder images("zel-images");
    server.StartRecording();
    testing::Environment environment = server.ClientEnvironment();
    const testing::Outcome outcome =
        testing::RunProgram({ZEL_STIMULI, "--play", "--trials", "2", "--write",
                             images.Path().string(), "--settings-dir", images.Path().string()},
                            environment);
    const std::vector<int16_t> recording = server.StopRecording();
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    // The server offers no wave-output line: the mixer is left alone, at full volume.
    EXPECT_EQ(outcome.err,
              "zel-stimuli: Please set sound card volume to maximum using software supplied with "
              "sound card before running Parlowen\n");

    std::size_t from = 0;
    for (const int trial : {1, 2}) {
        const std::string prefix = "trial-" + std::to_string(trial) + "-";
        const auto first = SoundOf(images.Path() / (prefix + "first.wav"));
        const auto silence = SoundOf(images.Path() / (prefix + "silence.wav"));
        const auto second = SoundOf(images.Path() / (prefix + "second.wav"));
        ASSERT_EQ(silence, std::vector<int16_t>(22050, 0));
        const std::size_t firstAt = testing::FindSamples(recording, first, from);
        ASSERT_NE(firstAt, std::string::npos) << "trial " << trial << ": first tone missing";
        const std::size_t secondAt = testing::FindSamples(recording, second, firstAt + 22050);
        ASSERT_NE(secondAt, std::string::npos) << "trial " << trial << ": second tone missing";
        // Between the tones: the silence image and nothing but silence, with little extra.
        const std::size_t between = secondAt - (firstAt + 22050);
        EXPECT_GE(between, 22050u);
        EXPECT_LE(between, 22050u + 1103u) << "more than 50 ms of extra silence";
        EXPECT_TRUE(std::all_of(recording.begin() + static_cast<std::ptrdiff_t>(firstAt + 22050),
                                recording.begin() + static_cast<std::ptrdiff_t>(secondAt),
                                [](int16_t s) { return s == 0; }));
        from = secondAt + 22050;
    }
}

class InProcessServer : public ::testing::Test {
  protected:
    // The server must be known before libasound first reads its configuration.
    void SetUp() override { server.UseInThisProcess(); }

    TestSoundServer server;
};

TEST_F(InProcessServer, PlayingReturnsOnlyWhenTheImageHasBeenPlayed) {
    AlsaOutputDevice device;
    WaveOutCaps caps;
    ASSERT_EQ(device.GetDevCaps(0, caps), 0);
    EXPECT_EQ(caps.dwFormats, kWaveFormat2M16);

    WaveHeader header;
    WaveImage image = MakeWaveImage();
    MakePulsedTone(header, image, 1000.0f, 11025, 20000, MakeToneTable(), 22050);
    AlsaSoundPlayer player;
    for (int i = 0; i < 2; ++i) {
        const auto start = Clock::now();
        EXPECT_NE(player.PlaySound(image.Data(), 65532), 0);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        // 11,025 data bytes: 5,512 frames, a quarter of a second.
        EXPECT_GE(seconds, 0.249) << "returned before the sound ended";
        EXPECT_LT(seconds, 0.75);
        EXPECT_TRUE(player.LastPlay().played);
    }
    // Not a wave image, an empty one and a torn one: failed plays, nothing else.
    const std::string text = "RIFF this is not a wave image at all";
    EXPECT_EQ(player.PlaySound(text.data(), static_cast<int32_t>(text.size())), 0);
    EXPECT_EQ(player.PlaySound(image.Data(), 0), 0);
    EXPECT_EQ(player.PlaySound(image.Data(), 30), 0);
}

TEST_F(InProcessServer, ServerGoneMidImageEndsThePlayWithinTwoSeconds) {
    WaveImage image = MakeWaveImage();
    WaveHeader header;
    MakePulsedTone(header, image, 1000.0f, 44100, 0, MakeToneTable(), 22050);
    AlsaSoundPlayer player;
    std::thread killer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        server.Kill();
    });
    const auto start = Clock::now();
    const int32_t played = player.PlaySound(image.Data(), 65532);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    killer.join();
    EXPECT_EQ(played, 0);
    EXPECT_LT(seconds, 1.0 + 2.0);
    // And later plays fail at once instead of hanging on the dead connection.
    const auto again = Clock::now();
    EXPECT_EQ(player.PlaySound(image.Data(), 65532), 0);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - again).count(), 3.0);
}

TEST_F(InProcessServer, MasterIsTheOnlyLineAndItsRangeIsTheServers) {
    AlsaMixerService mixer;
    MixerApi api(mixer);
    int32_t level = 0, minimum = 0, maximum = 0, stage = 0;
    ASSERT_EQ(api.GetMixerVolume(0, component::kSpeakers, level, minimum, maximum, stage), 0);
    EXPECT_EQ(minimum, 0);
    EXPECT_EQ(maximum, 65536);
    ASSERT_EQ(api.SetMixerVolume(0, component::kSpeakers, 32768, stage), 0);
    ASSERT_EQ(api.GetMixerVolume(0, component::kSpeakers, level, minimum, maximum, stage), 0);
    EXPECT_EQ(level, 32768);
    EXPECT_NE(api.SetMixerVolume(0, component::kSpeakers, 65537, stage), 0);
    EXPECT_EQ(stage, stage::kSetValue);
    EXPECT_NE(api.GetMixerVolume(0, component::kWaveOut, level, minimum, maximum, stage), 0);
    EXPECT_EQ(stage, stage::kLineInfo);
    EXPECT_NE(api.GetMixerVolume(1, component::kSpeakers, level, minimum, maximum, stage), 0);
    EXPECT_EQ(stage, stage::kOpen);
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
         {"PULSE_CLIENTCONFIG", (folder.Path() / "client.conf").string()}});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err,
              "zel-stimuli: Cannot identify multimedia sound card. Demonstration will continue "
              "without option to listen to audio output.\n");
    EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 3);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0)
        << "silent trials take no time";
}

}  // namespace
}  // namespace zel
