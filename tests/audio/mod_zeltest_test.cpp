#include "audio/mod_zeltest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/runtime_error.h"
#include "fakes/fake_platform.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

using testing::FakeMixerService;
using Op = FakeMixerService::Op;

constexpr const char* kNoCard =
    "notice [] Cannot identify multimedia sound card. Demonstration will continue without option "
    "to listen to audio output.";
constexpr const char* kNoFormat =
    "notice [] Sound card detected but does not appear to support 16-bit mono at 22.05 kHz. "
    "Demonstration will continue without option to listen to audio output.";
constexpr const char* kNoMixer =
    "notice [] Please set sound card volume to maximum using software supplied with sound card "
    "before running Parlowen";
constexpr const char* kCannotSet =
    "notice [] Unable to set volume. Please set sound card volume as required using software "
    "supplied with sound card before running Parlowen";

// What the program ended with, thrown by the injected end so that nothing after it runs.
struct Ended {
    int status;
};

class ModZeltestTest : public ::testing::Test {
  protected:
    ModZeltestTest() { mixer.AddAllLines(); }

    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> found;
        std::copy_if(log.begin(), log.end(), std::back_inserter(found),
                     [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
        return found;
    }
    std::size_t Count(const std::string& prefix) const { return Entries(prefix).size(); }
    std::vector<std::string> TakeLog() {
        std::vector<std::string> taken;
        taken.swap(log);
        return taken;
    }

    testing::Log log;
    testing::FakeNoticePresenter notices{log};
    testing::FakeOutputDevice device{log};
    testing::FakeSoundPlayer player{log};
    FakeMixerService mixer{log};
    testing::FakeProfileReader profile;
    ModZeltest audio{AudioPlatform{player, device, mixer, profile, notices}, "/etc/zel",
                     [](int status) { throw Ended{status}; }};
};

TEST_F(ModZeltestTest, WorkingCardMutesSixLinesThenSetsCalibratedLevels) {
    profile.values[{"Calibration", "Wave_volume"}] = "20000";
    audio.InitialiseAudio();
    EXPECT_EQ(audio.SoundAvailable(), kTrue);
    EXPECT_EQ(Count("notice"), 0u);
    EXPECT_EQ(Entries("set"),
              (std::vector<std::string>{"set 4100 0", "set 4101 0", "set 4098 0", "set 4099 0",
                                        "set 3 0", "set 4102 0", "set 4 4096", "set 4104 20000"}));
    // The settings file is read before the card is examined, wave value first.
    ASSERT_EQ(profile.calls.size(), 2u);
    EXPECT_EQ(profile.calls[0].key, "Wave_volume");
    EXPECT_EQ(profile.calls[0].defaultValue, "&H8000");
    EXPECT_EQ(profile.calls[1].key, "Master_volume");
    EXPECT_EQ(profile.calls[0].path, "/etc/zel/Zel_test.ini");
    EXPECT_EQ(log.front(), "caps 0");
}

TEST_F(ModZeltestTest, NoDeviceGivesOneNoticeLeavesTheMixerAndPlaysNothing) {
    device.result = -2;
    audio.InitialiseAudio();
    EXPECT_EQ(audio.SoundAvailable(), kFalse);
    EXPECT_EQ(TakeLog(), (std::vector<std::string>{"caps 0", kNoCard}));
    EXPECT_EQ(audio.PlayWaveImage(MakeWaveImage()), 0);
    EXPECT_EQ(audio.EndPresentation(), PresentationEnd::Silent);
    audio.RestoreMixerLevels();
    EXPECT_TRUE(log.empty()) << log.front();
}

TEST_F(ModZeltestTest, MissingFormatIsToldButTheMixerIsStillSetAndPlaybackStaysOff) {
    device.formats = 0x20 | 0x80;
    audio.InitialiseAudio();
    EXPECT_EQ(audio.SoundAvailable(), kFalse);
    EXPECT_EQ(Entries("notice"), std::vector<std::string>{kNoFormat});
    EXPECT_EQ(Count("set"), 8u);
    EXPECT_LT(std::find(log.begin(), log.end(), kNoFormat) - log.begin(),
              std::find(log.begin(), log.end(), "set 4100 0") - log.begin());
    EXPECT_EQ(audio.PlayWaveImage(MakeWaveImage()), 0);
    EXPECT_EQ(Count("play"), 0u);
}

TEST_F(ModZeltestTest, UnreadableSpeakersOrWaveOutLeavesTheMixerUntouched) {
    for (const uint32_t type : {component::kSpeakers, component::kWaveOut}) {
        testing::Log caseLog;
        testing::FakeNoticePresenter caseNotices(caseLog);
        testing::FakeOutputDevice caseDevice(caseLog);
        FakeMixerService caseMixer(caseLog);
        caseMixer.AddAllLines();
        caseMixer.Fail(Op::GetControlValue, 1, type);
        ModZeltest caseAudio({player, caseDevice, caseMixer, profile, caseNotices}, "/etc");
        caseAudio.InitialiseAudio();
        EXPECT_EQ(caseAudio.SoundAvailable(), kTrue);
        // Both lines are read even when the first fails.
        EXPECT_EQ(caseLog,
                  (std::vector<std::string>{
                      "caps 0", type == component::kSpeakers ? "get 4104" : "get 4", kNoMixer}));
        caseAudio.RestoreMixerLevels();
        EXPECT_EQ(caseLog.size(), 3u) << "nothing was saved, so nothing is written back";
    }
}

TEST_F(ModZeltestTest, BothCalibratedSetsFailingGiveOneNoticeAndTheRestStays) {
    mixer.Fail(Op::SetControlValue, 3, component::kSpeakers);
    mixer.Fail(Op::SetControlValue, 3, component::kWaveOut);
    audio.InitialiseAudio();
    EXPECT_EQ(Entries("notice"), std::vector<std::string>{kCannotSet});
    EXPECT_EQ(Count("set"), 6u);
    EXPECT_EQ(log.back(), kCannotSet);
}

TEST_F(ModZeltestTest, OneCalibratedSetFailingStillGivesTheNotice) {
    mixer.Fail(Op::SetControlValue, 3, component::kWaveOut);
    audio.InitialiseAudio();
    EXPECT_EQ(Entries("notice"), std::vector<std::string>{kCannotSet});
    EXPECT_EQ(mixer.lines[component::kSpeakers].level, 4096);
}

TEST_F(ModZeltestTest, WriteBackRestoresEveryLineInOrderOnceOnly) {
    audio.InitialiseAudio();
    TakeLog();
    audio.RestoreMixerLevels();
    EXPECT_EQ(Entries("set"),
              (std::vector<std::string>{"set 4100 5100", "set 4101 5101", "set 4098 5098",
                                        "set 4099 5099", "set 3 1003", "set 4 1004",
                                        "set 4104 5104", "set 4102 5102"}));
    TakeLog();
    audio.RestoreMixerLevels();
    EXPECT_TRUE(log.empty());
}

TEST_F(ModZeltestTest, LinesNotReadAreNeitherMutedNorWrittenBack) {
    mixer.lines.erase(component::kTelephone);
    mixer.lines.erase(component::kLine);
    // The microphone exists and could be set, but its level cannot be read.
    mixer.Fail(Op::GetControlValue, 1, component::kMicrophone);
    audio.InitialiseAudio();
    EXPECT_EQ(Count("notice"), 0u);
    EXPECT_EQ(Count("set"), 5u);
    EXPECT_EQ(Count("set 4099"), 0u);
    TakeLog();
    audio.RestoreMixerLevels();
    EXPECT_EQ(Count("set"), 5u);
    EXPECT_EQ(Count("set 4102") + Count("set 4098") + Count("set 4099"), 0u);
}

TEST_F(ModZeltestTest, LevelReadBeforeAFailingCloseIsGenuineAndWrittenBack) {
    // Only the microphone's close fails: its level was delivered all the same.
    mixer.lines[component::kMicrophone].level = 321;
    mixer.Fail(Op::Close, 8, component::kMicrophone);
    audio.InitialiseAudio();
    TakeLog();
    audio.RestoreMixerLevels();
    EXPECT_EQ(Count("set 4099 321"), 1u);
}

TEST_F(ModZeltestTest, SettingsFileThatCannotBeReadIsToldOnceAndDefaultsAreUsed) {
    profile.problem = "Is a directory";
    audio.InitialiseAudio();
    ASSERT_EQ(Count("notice"), 1u);
    EXPECT_EQ(Entries("notice")[0],
              "notice [] Cannot read the settings file /etc/zel/Zel_test.ini (Is a directory). "
              "The built-in calibration levels are used.");
    EXPECT_EQ(audio.WaveVolumeSetting(), 32768);
    EXPECT_EQ(audio.MasterVolumeSetting(), 4096);
}

TEST_F(ModZeltestTest, BadSettingStopsStartUpBeforeTheCardIsExamined) {
    profile.values[{"Calibration", "Master_volume"}] = "loud";
    try {
        audio.InitialiseAudio();
        FAIL() << "no error";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Kind(), ErrorKind::TypeMismatch);
        const std::string text = error.what();
        EXPECT_NE(text.find("/etc/zel/Zel_test.ini"), std::string::npos) << text;
        EXPECT_NE(text.find("Master_volume"), std::string::npos) << text;
        EXPECT_NE(text.find("\"loud\""), std::string::npos) << text;
    }
    EXPECT_TRUE(log.empty());
}

TEST_F(ModZeltestTest, PlaysAnExactCopyOfTheWholeImageAndLeavesItUnchanged) {
    audio.InitialiseAudio();
    WaveImage image = MakeWaveImage();
    for (int32_t i = 1; i <= image.Upper(); ++i) {
        image.At(i, "test") = static_cast<int16_t>(i * 7);
    }
    const WaveImage before = image;
    player.result = 5;
    EXPECT_EQ(audio.PlayWaveImage(image), 5);
    EXPECT_EQ(image, before);
    ASSERT_EQ(player.played.size(), 1u);
    ASSERT_EQ(player.played[0].size(), 65532u);
    EXPECT_EQ(0, std::memcmp(player.played[0].data(), image.Data(), 65532));
    player.result = 0;
    EXPECT_EQ(audio.PlayWaveImage(image), 0);
    EXPECT_EQ(audio.EndPresentation(), PresentationEnd::Played);
    player.finished = 0;
    player.problem = "the sound server went away (Connection terminated)";
    EXPECT_EQ(audio.EndPresentation(), PresentationEnd::Failed);
    EXPECT_EQ(log.back(),
              "notice [] The trial could not be played: the sound server went away (Connection "
              "terminated). It was not counted; the run has ended with the counts so far.");
}

TEST_F(ModZeltestTest, ImagesUpTo65534BytesPlayAndLargerOnesStopTheProgram) {
    audio.InitialiseAudio();
    EXPECT_EQ(audio.PlayWaveImage(WaveImage(1, 32767)), 1);
    EXPECT_EQ(player.played.back().size(), 65534u);
    // From a lower index of 0 the image still starts at element 1.
    WaveImage fromZero(0, 10);
    fromZero.At(1, "test") = 0x0102;
    EXPECT_EQ(audio.PlayWaveImage(fromZero), 1);
    EXPECT_EQ(player.played.back(),
              (std::vector<uint8_t>{2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    TakeLog();

    try {
        audio.PlayWaveImage(WaveImage(1, 32768));
        FAIL() << "the program went on";
    } catch (const Ended& ended) {
        EXPECT_EQ(ended.status, 1);
    }
    // Critical notice first, then the write-back, and nothing is played.
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "critical Attempt to play more than 64k waveform from memory");
    EXPECT_EQ(Count("set"), 8u);
    EXPECT_EQ(Count("play"), 0u);
    // The write-back happened once; the exit path calling it again changes nothing.
    TakeLog();
    audio.RestoreMixerLevels();
    EXPECT_TRUE(log.empty());
}

TEST_F(ModZeltestTest, ImageWithoutElementOneIsASubscriptError) {
    audio.InitialiseAudio();
    for (const auto& [lower, upper] : {std::pair{2, 100}, std::pair{-5, 0}, std::pair{-5, -1}}) {
        try {
            audio.PlayWaveImage(WaveImage(lower, upper));
            FAIL() << lower << ".." << upper;
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Kind(), ErrorKind::SubscriptOutOfRange);
        }
    }
    EXPECT_TRUE(player.played.empty());
}

}  // namespace
}  // namespace zel
