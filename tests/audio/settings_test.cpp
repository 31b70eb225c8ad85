// The settings file: text to level, ReadIniString's handling of names and lengths, and the
// libinih reader on real files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "audio/apiz.h"
#include "audio/mod_zeltest.h"
#include "audio/platform/inih_profile_reader.h"
#include "core/runtime_error.h"
#include "fakes/fake_platform.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

TEST(ConvertLevelText, AcceptsDecimalAndAmpersandHexadecimal) {
    const std::pair<const char*, int32_t> cases[] = {
        {"&H8000", 32768},
        {"&H1000", 4096},
        {"&HFFFF", 65535},
        {"&hffff", 65535},
        {"20000", 20000},
        {"  20000\t", 20000},
        {"-5", -5},
        {"+7", 7},
        {"0", 0},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"&HFFFFFFFF", -1},
        {"&H80000000", INT32_MIN},
        {"&H000000000001", 1},
        {"007", 7},
    };
    for (const auto& [text, level] : cases) {
        EXPECT_EQ(ConvertLevelText(text, "f"), level) << text;
    }
}

TEST(ConvertLevelText, RejectsEverythingElseNamingTheOriginAndText) {
    const std::pair<const char*, ErrorKind> cases[] = {
        {"", ErrorKind::TypeMismatch},
        {"   ", ErrorKind::TypeMismatch},
        {"loud", ErrorKind::TypeMismatch},
        {"1.5", ErrorKind::TypeMismatch},
        {"1e3", ErrorKind::TypeMismatch},
        {"5-", ErrorKind::TypeMismatch},
        {"- 5", ErrorKind::TypeMismatch},
        {"-&H10", ErrorKind::TypeMismatch},
        {"&H", ErrorKind::TypeMismatch},
        {"&HG1", ErrorKind::TypeMismatch},
        {"0x10", ErrorKind::TypeMismatch},
        {"1 2", ErrorKind::TypeMismatch},
        {"99999999999x", ErrorKind::TypeMismatch},
        {"2147483648", ErrorKind::Overflow},
        {"-2147483649", ErrorKind::Overflow},
        {"&H100000000", ErrorKind::Overflow},
        {"99999999999999999999999", ErrorKind::Overflow},
    };
    for (const auto& [text, kind] : cases) {
        try {
            ConvertLevelText(text, "/etc/Zel_test.ini, key Wave_volume");
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.Kind(), kind) << text;
            const std::string message = error.what();
            EXPECT_NE(
                message.find("/etc/Zel_test.ini, key Wave_volume: \"" + std::string(text) + "\""),
                std::string::npos)
                << message;
        }
    }
    try {
        ConvertLevelText(std::string("1\0\x7f\n", 4), "f");
        ADD_FAILURE();
    } catch (const RuntimeError& error) {
        EXPECT_NE(std::string(error.what()).find("\"1\\x00\\x7F\\x0A\""), std::string::npos)
            << error.what();
    }
}

TEST(ReadIniString, TrimsSpacesOnlyAndReturnsExactlyThePlacedCharacters) {
    testing::FakeProfileReader reader;
    Apiz apiz(reader, "/etc");
    apiz.IniFileName = "Zel_test.ini";
    reader.values[{"Calibration", "Wave_volume"}] = "1234";
    EXPECT_EQ(apiz.ReadIniString("  Calibration ", " Wave_volume", " &H8000  "), "1234");
    ASSERT_EQ(reader.calls.size(), 1u);
    EXPECT_EQ(reader.calls[0].section, "Calibration");
    EXPECT_EQ(reader.calls[0].key, "Wave_volume");
    EXPECT_EQ(reader.calls[0].defaultValue, "&H8000");
    EXPECT_EQ(reader.calls[0].path, "/etc/Zel_test.ini");
    EXPECT_EQ(reader.calls[0].size, 128);
    // A tab is not a space: the name stays as given.
    EXPECT_EQ(apiz.ReadIniString("\tCalibration", "Wave_volume", "d"), "d");

    reader.values[{"Calibration", "Wave_volume"}] = std::string(200, '7');
    EXPECT_EQ(apiz.ReadIniString("Calibration", "Wave_volume", ""), std::string(127, '7'));

    reader.placedOverride = 3;
    EXPECT_EQ(apiz.ReadIniString("Calibration", "Wave_volume", ""), "777");
    reader.placedOverride = 200;
    EXPECT_THROW(apiz.ReadIniString("Calibration", "Wave_volume", ""), RuntimeError);
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zel-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }

    void Write(const std::string& text) {
        std::ofstream(dir_ / "Zel_test.ini", std::ios::binary) << text;
    }

    // What the start-up reads from the file: the two levels, or the error's kind and text.
    struct Outcome {
        int32_t wave = 0;
        int32_t master = 0;
        std::string error;
        std::vector<std::string> notices;
    };
    Outcome Read() {
        testing::Log log;
        testing::FakeNoticePresenter notices(log);
        testing::FakeOutputDevice device(log);
        testing::FakeSoundPlayer player(log);
        testing::FakeMixerService mixer(log);
        InihProfileReader reader;
        ModZeltest audio({player, device, mixer, reader, notices}, dir_);
        Outcome outcome;
        try {
            audio.InitialiseAudio();
        } catch (const RuntimeError& error) {
            outcome.error = error.what();
        }
        outcome.wave = audio.WaveVolumeSetting();
        outcome.master = audio.MasterVolumeSetting();
        for (const auto& entry : log) {
            if (entry.rfind("notice", 0) == 0 &&
                entry.find("volume to maximum") == std::string::npos) {
                outcome.notices.push_back(entry);
            }
        }
        return outcome;
    }

    fs::path dir_;
};

TEST_F(SettingsFileTest, MissingFileGivesTheDefaults) {
    const Outcome outcome = Read();
    EXPECT_EQ(outcome.wave, 32768);
    EXPECT_EQ(outcome.master, 4096);
    EXPECT_TRUE(outcome.notices.empty());
}

TEST_F(SettingsFileTest, ValuesKeysAndSectionsAreFoundAsTheProfileServiceFindsThem) {
    struct Case {
        std::string text;
        int32_t wave, master;
        const char* why;
    };
    const Case cases[] = {
        {"; calibration for booth 2\n[calibration]\nWAVE_VOLUME = 20000\n", 20000, 4096,
         "names in any case; a missing key keeps its default"},
        {"[Other]\nMaster_volume=1\n[Calibration]\nMaster_volume=&HFFFF\r\n"
         "Master_volume=2\n[Calibration]\nWave_volume=3\n",
         3, 65535, "the first match wins"},
        {"\xEF\xBB\xBF[Calibration]\nWave_volume=&h10\n", 16, 4096,
         "a byte-order mark is not part of the section"},
        {"[Calibration]\nWave_volume=3\n\tMaster_volume=&H2000\n", 3, 8192,
         "a key indented by a tab is a key, not a continuation of the one above"},
        {"[Other]\nx=1\n  [Calibration]\n    Wave_volume = 5\n", 5, 4096,
         "so are a section and a key indented by spaces"},
    };
    for (const Case& c : cases) {
        Write(c.text);
        const Outcome outcome = Read();
        EXPECT_EQ(outcome.wave, c.wave) << c.why;
        EXPECT_EQ(outcome.master, c.master) << c.why;
    }
}

TEST_F(SettingsFileTest, BadValuesStopWithTheNamedError) {
    const std::pair<std::string, std::string> cases[] = {
        {"Wave_volume=", "Type mismatch"},
        {"Wave_volume=twenty", "Type mismatch"},
        {"Wave_volume=\"20000\"", "Type mismatch"},
        {"Wave_volume=2147483648", "Overflow"},
        {"Wave_volume=" + std::string(200, '1'), "Overflow"},
        {"Wave_volume=1" + std::string(199, 'x'), "Type mismatch"},
    };
    for (const auto& [line, kind] : cases) {
        Write("[Calibration]\n" + line + "\nMaster_volume=5\n");
        const Outcome outcome = Read();
        EXPECT_EQ(outcome.error.rfind(kind, 0), 0u) << line << ": " << outcome.error;
        EXPECT_NE(outcome.error.find((dir_ / "Zel_test.ini").string() + ", key Wave_volume"),
                  std::string::npos)
            << outcome.error;
        EXPECT_EQ(outcome.master, 0) << "start-up stopped at the wave value";
    }
}

TEST_F(SettingsFileTest, LongLineIsCutAndItsTailNeverBecomesALineOfItsOwn) {
    // The reader's line limit falls right before "Master_volume".
    Write("[Calibration]\nOther=" + std::string(193, 'x') + "Master_volume=7\n");
    EXPECT_EQ(Read().master, 4096);

    Write("[Calibration]\nWave_volume=" + std::string(187, '1') + "\n");
    const Outcome outcome = Read();
    EXPECT_EQ(outcome.error.rfind("Overflow", 0), 0u) << outcome.error;
    EXPECT_NE(outcome.error.find("\"" + std::string(127, '1') + "\""), std::string::npos);
}

TEST_F(SettingsFileTest, BinaryGarbageIsSurvived) {
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
    const char tail[] = "\n[Calibration]\nWave_volume=9\n\0\0\0[x\n=\n";
    Write(garbage + std::string(tail, sizeof tail - 1));
    const Outcome outcome = Read();
    EXPECT_EQ(outcome.wave, 9);
    EXPECT_EQ(outcome.master, 4096);
}

TEST_F(SettingsFileTest, UnreadableFileIsToldOnceWithItsReasonAndDefaultsAreUsed) {
    fs::create_directory(dir_ / "Zel_test.ini");
    Outcome outcome = Read();
    ASSERT_EQ(outcome.notices.size(), 1u);
    EXPECT_NE(outcome.notices[0].find((dir_ / "Zel_test.ini").string() + " (Is a directory)"),
              std::string::npos)
        << outcome.notices[0];
    EXPECT_EQ(outcome.wave, 32768);
    EXPECT_EQ(outcome.master, 4096);

    fs::remove(dir_ / "Zel_test.ini");
    fs::create_symlink("Zel_test.ini", dir_ / "Zel_test.ini");
    outcome = Read();
    ASSERT_EQ(outcome.notices.size(), 1u);
    EXPECT_NE(outcome.notices[0].find("symbolic links"), std::string::npos) << outcome.notices[0];
}

TEST_F(SettingsFileTest, FileWithoutReadPermissionIsToldOnce) {
    Write("[Calibration]\nWave_volume=1\n");
    fs::permissions(dir_ / "Zel_test.ini", fs::perms::none);
    // Root reads anything: look as an ordinary user, in a child that can drop its rights.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        fs::permissions(dir_, fs::perms::all);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        const Outcome outcome = Read();
        const bool told = outcome.notices.size() == 1 &&
                          outcome.notices[0].find("(Permission denied)") != std::string::npos;
        _exit(told && outcome.wave == 32768 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zel
