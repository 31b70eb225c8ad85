// Sound output on real servers, PulseAudio and PipeWire (through pipewire-pulse), each with a null
// sink recorded at its monitor; and with no server at all.

#include "support/sound_server.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <optional>

#include "audio/mod_zeltest.h"
#include "support/real_audio.h"
#include "synthesis/calibration_tone.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

using testing::Has;
using testing::ServerKind;
using testing::TestSoundServer;

// The magnitude of the loudest sample in [first, last).
template <typename It>
int Loudest(It first, It last) {
    return std::abs(*std::max_element(
        first, last, [](int16_t a, int16_t b) { return std::abs(a) < std::abs(b); }));
}

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
    // The first raw volume pactl gives for `sink`.
    int64_t Volume(const QString& sink = "testsink") const {
        const std::string listed = server->Pactl({"get-sink-volume", sink}).out;
        const std::size_t at = listed.find("Volume: mono: ");
        return at == std::string::npos ? -1 : std::stoll(listed.substr(at + 14));
    }
    QStringList Stimuli(const char* trials) const {
        return {ZEL_STIMULI, "--play", "--trials", trials, "--settings-dir", folder.path()};
    }
    void Settings(const std::string& text) const {
        std::ofstream(folder.filePath("Zel_test.ini").toStdString()) << "[Calibration]\n" << text;
    }
    // A zel-stimuli run that has presented its first trial.
    std::unique_ptr<testing::Child> Presenting(const QStringList& argv) const {
        auto child = testing::Start(argv);
        EXPECT_TRUE(child->waitForReadyRead(30'000))
            << "no trial presented: " << child->readAllStandardError().toStdString();
        return child;
    }

    std::optional<TestSoundServer> server;
    QTemporaryDir folder;
};

INSTANTIATE_TEST_SUITE_P(, OnServer,
                         ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         [](const auto& p) {
                             return p.param == ServerKind::PipeWire ? "PipeWire" : "PulseAudio";
                         });

// The server going away mid-trial ends the run at once with status 1, that trial neither printed
// nor counted, one notice saying why. A server restarted meanwhile (bringing back the calibrated
// level it stored) gets the level found at start back; with none there, the write-back says so.
TEST_P(OnServer, ZelStimuliEndsWhenTheServerGoesAway) {
    for (const bool restarted : {true, false}) {
        const auto child = Presenting(Stimuli("32767"));
        QThread::msleep(1500);  // for the server to store the calibrated level
        restarted ? server->Restart() : server->Signal(SIGKILL);
        EXPECT_EQ(testing::Status(*child), 1) << "it waited on the dead server";
        EXPECT_EQ(child->readAllStandardOutput().count('\n'), 1);
        const std::string err = child->readAllStandardError().toStdString();
        EXPECT_TRUE(Has(err,
                        "\nzel-stimuli: The trial could not be played: the sound server went "
                        "away"))
            << err;
        EXPECT_EQ(Has(err,
                      "\nzel-stimuli: could not put back the speakers level (sink testsink, "
                      "39999 of 65535): Connection refused\n"),
                  !restarted)
            << err;
        EXPECT_TRUE(!restarted || Volume() == 40000);
    }
}

// In zel-test's own process, where the stream outlives a presentation: the calibration sets and
// unmutes sink and stream; a trial after ten seconds of silence arrives bit-exact; a trial during
// which another program changes the level fails with one notice, and the next one is calibrated
// again; the stream cannot be moved; the write-back puts back levels and mutes exactly.
TEST_P(OnServer, TheCalibratedStateHoldsForTheWholeSession) {
    server->Pactl({"set-sink-mute", "testsink", "1"});
    server->Pactl({"load-module", "module-null-sink", "sink_name=othersink"});
    testing::RealAudio real;
    const auto audioWith = [&](const std::string& settings) {
        Settings(settings);
        auto audio = std::make_unique<ModZeltest>(real.Platform(), folder.path().toStdString());
        audio->InitialiseAudio();
        return audio;
    };
    const auto audio = audioWith("Wave_volume=&HFFFF\nMaster_volume=&HFFFF\n");  // samples as made
    EXPECT_TRUE(real.log.empty()) << real.log.front();
    EXPECT_EQ(Volume(), 65536);
    EXPECT_EQ(server->Pactl({"get-sink-mute", "testsink"}).out, "Mute: no\n");

    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 0.0f, 22050);
    WaveHeader header;
    std::vector<WaveImage> images(3, MakeWaveImage());
    for (const int i : {0, 1, 2})
        MakePulsedTone(header, images[i], 1000.0f, 44100, std::array{32000, 0, 20000}[i],
                       tables.StandardTable, 22050);
    const auto present = [&](const std::function<void()>& meanwhile = [] {}) {
        for (const WaveImage& image : images) audio->PlayWaveImage(image);
        meanwhile();
        return audio->EndPresentation();
    };
    server->StartRecording();
    QThread::sleep(10);  // long enough for an idle output to suspend
    EXPECT_EQ(present(), PresentationEnd::Played);
    const std::vector<int16_t> recording = server->StopRecording();
    std::vector<int16_t> expected;
    for (const WaveImage& image : images)
        expected.insert(expected.end(), &image.At(23, "test"), &image.At(23, "test") + 22050);
    EXPECT_NE(testing::FindSamples(recording, expected), std::string::npos) << "not bit-exact";

    EXPECT_EQ(present([&] {
                  server->Pactl({"set-sink-volume", "testsink", "30000"});
              }),
              PresentationEnd::Failed);
    EXPECT_EQ(real.log,
              testing::Log{"notice [] The sound output level was changed by another "
                           "program. The trial was not counted; the run has ended with the "
                           "counts so far."});
    EXPECT_EQ(present([&] { EXPECT_EQ(Volume(), 65536) << "calibrated again"; }),
              PresentationEnd::Played);

    const std::string input = server->Pactl({"list", "short", "sink-inputs"}).out;
    const QString id = QString::fromStdString(input.substr(0, input.find('\t')));
    EXPECT_NE(server->Pactl({"move-sink-input", id, "othersink"}).status, 0) << "moved";
    EXPECT_EQ(present(), PresentationEnd::Played);

    EXPECT_TRUE(audio->RestoreMixerLevels().empty());
    EXPECT_EQ(Volume(), 40000);
    EXPECT_EQ(server->Pactl({"get-sink-mute", "testsink"}).out, "Mute: yes\n");
    EXPECT_EQ(real.log.size(), 1u);
}

// The program's own level set to 100 % in the sound settings during a tone (the calibration has
// it at 50 %): the sound stops at once, fading out, and the notice says why. Muting it fails the
// trial the same way. SIGTERM during a presentation ends the program at once, everything put back.
TEST_P(OnServer, TheSoundStopsAtOnceWhenTheCalibratedStateIsLost) {
    Settings("Wave_volume=&H8000\nMaster_volume=&HFFFF\n");
    const auto stream = [&] {
        const std::string inputs = server->Pactl({"list", "short", "sink-inputs"}).out;
        return QString::fromStdString(inputs.substr(0, inputs.find('\t')));
    };
    for (const char* change : {"volume", "mute", "SIGTERM"}) {
        SCOPED_TRACE(change);
        server->StartRecording();
        const auto child = Presenting(Stimuli("32767"));
        QThread::msleep(700);  // the next trial's first tone plays from about 200 ms on
        QDeadlineTimer ended(1000);
        if (change == std::string("SIGTERM")) {
            child->terminate();
        } else if (change == std::string("volume")) {
            server->Pactl({"set-sink-input-volume", stream(), "65536"});
        } else {
            server->Pactl({"set-sink-input-mute", stream(), "1"});
        }
        const int status = testing::Status(*child);
        const std::vector<int16_t> heard = server->StopRecording();
        const std::string err = child->readAllStandardError().toStdString();
        EXPECT_EQ(Volume(), 40000);
        if (change == std::string("SIGTERM")) {
            EXPECT_EQ(status, 128 + SIGTERM);
            EXPECT_FALSE(ended.hasExpired()) << "it played on";
            continue;
        }
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(Has(err, std::string("zel-stimuli: The program's own sound (Zel Test in the "
                                         "sound settings) was muted by another program.") +
                                 " The trial was not counted")
                        ? change == std::string("mute")
                        : Has(err,
                              "zel-stimuli: The level of the program's own sound (Zel Test "
                              "in the sound settings) was changed by another program."))
            << err;
        if (change != std::string("volume")) continue;
        // At 50 % the peaks are at most 4,000; from the first louder sample to the last sound.
        const auto loud =
            std::find_if(heard.begin(), heard.end(), [](int16_t v) { return std::abs(v) > 4100; });
        ASSERT_NE(loud, heard.end());
        const auto last = std::find_if(heard.rbegin(), heard.rend(), [](int16_t v) { return v; });
        // A queued trial would play on for seconds; the cut leaves about 60 ms (./bench --audio).
        // The bound leaves room for a machine so busy that the server's events come late.
        EXPECT_LE(last.base() - loud, 22050 / 2) << "samples of sound after the change";
        // Faded: its last half period is nearly silent, where a cut tone would be near its peak.
        EXPECT_LE(Loudest(last.base() - 11, last.base()), 3200) << "a click";
    }
}

// On an output whose latency can be long (a null sink with rewinds runs at up to 2 s) trials
// play and count, each waited for to its end.
TEST_P(OnServer, TrialsOnALongLatencyOutputPlayAndCount) {
    if (GetParam() == ServerKind::PipeWire) GTEST_SKIP() << "PipeWire's null sinks have no rewinds";
    server->Pactl({"load-module", "module-null-sink", "sink_name=slowsink", "rate=22050",
                   "channels=1", "format=s16le"});
    server->Pactl({"set-default-sink", "slowsink"});
    const QDeadlineTimer played(2 * 3000);
    const testing::Outcome run = testing::Run(Stimuli("2"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
    EXPECT_TRUE(played.hasExpired()) << "a presentation ended before its sound";
}

// Another program's sound on the calibrated output during a trial fails it, naming the program:
// a client's tone, an event sound from the server's sample cache. A client playing digital silence
// there, or loud noise on another output, leaves every trial counted.
TEST_P(OnServer, AnotherProgramsSoundInTheEarFailsTheTrial) {
    server->Pactl({"load-module", "module-null-sink", "sink_name=othersink"});
    const QString tone = ZEL_TEST_DATA_DIR "/tone-1000hz-32000.wav";
    {
        const QStringList raw{"pacat", "--playback", "--raw", "--format=s16le", "--channels=1"};
        const auto quiet =
            testing::Start(raw + QStringList{"-d", "testsink", "--client-name=Quiet", "/dev/zero"});
        const auto noise = testing::Start(
            raw + QStringList{"-d", "othersink", "--client-name=Noise", "/dev/urandom"});
        ASSERT_TRUE(testing::WaitFor([&] {
            const std::string inputs = server->Pactl({"list", "short", "sink-inputs"}).out;
            return std::count(inputs.begin(), inputs.end(), '\n') == 2;
        }));
        const testing::Outcome run = testing::Run(Stimuli("2"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2);
    }
    ASSERT_EQ(server->Pactl({"upload-sample", tone, "bell"}).status, 0);
    for (const auto& [other, name] :
         {std::pair{QStringList{"paplay", "--client-name=Chime", "-d", "testsink", tone}, "Chime"},
          {QStringList{"pactl", "play-sample", "bell", "testsink"}, "pactl"}}) {
        // Into the trial that follows the first.
        const auto child = Presenting(Stimuli("32767"));
        testing::Run(other);
        EXPECT_EQ(testing::Status(*child), 1);
        const std::string err = child->readAllStandardError().toStdString();
        EXPECT_TRUE(Has(err, "zel-stimuli: Another program, " + std::string(name) +
                                 ", played sound on the sound output during the trial. The trial "
                                 "was not counted; the run has ended with the counts so far.\n"))
            << err;
        EXPECT_EQ(Volume(), 40000);
    }
}

// A server that stops answering without going away holds no one: the trial fails once its
// sound, the latency and a grace have passed. The write-back waits for it: one that answers again
// within its patience gets the levels back; one that does not is reported.
TEST_P(OnServer, AServerThatStopsAnsweringEndsTheRunWithoutAHang) {
    for (const bool comesBack : {true, false}) {
        auto child = Presenting(Stimuli("32767"));
        server->Signal(SIGSTOP);
        std::string err;
        EXPECT_TRUE(testing::WaitFor([&] {
            child->waitForReadyRead(10);
            err += child->readAllStandardError().toStdString();
            return Has(err, "The trial could not be played: the sound server stopped playing");
        })) << err;
        if (comesBack) server->Signal(SIGCONT);
        EXPECT_EQ(testing::Status(*child), 1);
        server->Signal(SIGCONT);
        err += child->readAllStandardError().toStdString();
        EXPECT_EQ(Has(err,
                      "could not put back the speakers level (sink testsink, 39999 of 65535): "
                      "Timeout"),
                  !comesBack)
            << err;
        EXPECT_TRUE(!comesBack || Volume() == 40000);
    }
}

// zel-stimuli --calibrate on a terminal: the keys step the wave output (selected first) and, after
// Tab, the speakers level by dB on the server's volume curve, live; Enter prints the section with
// the levels in use; q, Ctrl-C and a change by another program end without it. Every way out puts
// the sink and the terminal back.
TEST_P(OnServer, CalibrateStepsTheLevelsLiveAndPrintsTheSection) {
    for (const std::string end : {"\r", "q", "\x03", "changed"}) {
        // script(1) gives it a terminal: what is written goes in as keys, what it shows comes
        // out; then stty says how it left the terminal. The trap keeps the shell (dash too) alive
        // through the Ctrl-C meant for the program.
        const auto run =
            testing::Start({"script", "-qec",
                            "trap : INT; " + QString(ZEL_STIMULI) + " --calibrate --settings-dir " +
                                folder.path() + "; s=$?; stty -a; exit $s",
                            "/dev/null"});
        std::string shown;
        const auto shows = [&](const std::string& text) {
            return testing::WaitFor([&] {
                run->waitForReadyRead(10);
                shown += run->readAll().toStdString();
                return Has(shown, text);
            });
        };
        ASSERT_TRUE(shows("Enter done")) << shown;
        EXPECT_EQ(Volume(), 4096);
        if (end == "\r") {
            // Another program's sound is shown while it plays, and no longer once it has ended.
            testing::Run({"paplay", "--client-name=Chime", "-d", "testsink",
                          ZEL_TEST_DATA_DIR "/tone-1000hz-32000.wav"});
            EXPECT_TRUE(shows("dB)   also sounding here: Chime\x1b[K")) << shown;
            EXPECT_TRUE(testing::WaitFor([&] {
                run->waitForReadyRead(10);
                shown += run->readAll().toStdString();
                return Has(shown.substr(shown.rfind("Chime")), "dB)\x1b[K");
            })) << shown;
        }
        // Wave output 32768 (-18.06 dB) up 1 dB, its key split as a slow link splits it;
        // speakers 4096 (-72.25 dB) down 6 dB.
        run->write("\x1b");
        run->waitForBytesWritten();
        QThread::msleep(100);
        run->write("[A");
        EXPECT_TRUE(shows("> wave output 34050 (-17.06 dB)")) << shown;
        run->write("\t\x1b[6~");
        EXPECT_TRUE(shows("> speakers 3254 (-78.24 dB)")) << shown;
        EXPECT_EQ(Volume(), 3254);
        if (end == "changed") {
            server->Pactl({"set-sink-volume", "testsink", "50000"});
        } else {
            run->write(end.c_str());
        }
        const int status = testing::Status(*run);
        shown += run->readAll().toStdString();
        EXPECT_EQ(status, end == "\x03" ? 128 + SIGINT : end == "changed" ? 1 : 0) << shown;
        EXPECT_TRUE(Has(shown, " icanon ") && Has(shown, " echo ")) << "the terminal left raw";
        EXPECT_EQ(end == "changed", Has(shown,
                                        "The sound output level was changed by another "
                                        "program. The calibration tone has stopped."))
            << shown;
        EXPECT_EQ(Volume(), 40000);
        const std::size_t section = shown.find("[Calibration]");
        EXPECT_EQ(section != std::string::npos, end == "\r") << shown;
        if (section == std::string::npos) continue;
        std::string text = shown.substr(section, shown.find("speed ") - section);
        std::erase(text, '\r');
        EXPECT_EQ(text,
                  "[Calibration]\nWave_volume=&H8502\nMaster_volume=&HCB6\nOutput=testsink\n");
    }
}

// The calibration tone, without a terminal, at unity, arrives bit-exact for five seconds; a
// signal ends it and prints the section.
TEST_P(OnServer, CalibrateTheToneIsTheStandardToneRunningOn) {
    Settings("Wave_volume=&HFFFF\nMaster_volume=&HFFFF\n");
    server->StartRecording();
    auto child = testing::Start(
        {ZEL_STIMULI, "--calibrate", "--frequency", "2000", "--settings-dir", folder.path()});
    QThread::sleep(7);
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 0);
    EXPECT_EQ(child->readAllStandardOutput().toStdString(),
              "[Calibration]\nWave_volume=&HFFFF\nMaster_volume=&HFFFF\nOutput=testsink\n");
    EXPECT_EQ(Volume(), 40000);
    const std::vector<int16_t> heard = server->StopRecording();
    const std::vector<int16_t> made = CalibrationTone(2000.0f, 32000, 22050).Next(5 * 22050);
    EXPECT_NE(testing::FindSamples(heard, made), std::string::npos) << "not bit-exact";

    // Held up longer than the 300 ms it keeps ahead, the tone runs dry at the server: said. At its
    // end the tone fades out, and only then is anything put back: its own level (50 % here, peaks
    // of 4,000) is never left for the 100 % found before (32,000) while it still plays.
    Settings("Wave_volume=&H8000\nMaster_volume=&HFFFF\n");
    server->StartRecording();
    child = testing::Start({ZEL_STIMULI, "--calibrate", "--settings-dir", folder.path()});
    QThread::sleep(2);
    ::kill(static_cast<pid_t>(child->processId()), SIGSTOP);
    QThread::sleep(1);
    ::kill(static_cast<pid_t>(child->processId()), SIGCONT);
    QThread::sleep(1);
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 0);
    EXPECT_TRUE(
        child->readAllStandardError().contains("The sound output failed: the sound output "
                                               "ran dry for a moment"));
    const std::vector<int16_t> ended = server->StopRecording();
    EXPECT_LE(Loudest(ended.begin(), ended.end()), 4100) << "played on at the level found";
    const auto last = std::find_if(ended.rbegin(), ended.rend(), [](int16_t v) { return v; });
    EXPECT_LE(Loudest(last.base() - 11, last.base()), 400) << "not faded";
}

// With two outputs, the settings naming the one that is not the default: the trials play there,
// bit-exact at unity, calibrated while they play and put back after, the default left alone; the
// first line names it. One that is not there is said and nothing is touched. The outputs can be
// listed, and --calibrate --output names the one it was measured on.
TEST_P(OnServer, TheOutputTheSettingsNameIsTheOneUsed) {
    server->Pactl({"load-module", "module-null-sink", "sink_name=othersink", "rate=22050",
                   "channels=1", "format=s16le", "norewinds=1"});
    server->Pactl({"set-sink-volume", "othersink", "30000"});
    const testing::Outcome listed = testing::Run({ZEL_STIMULI, "--list-outputs"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(QRegularExpression("^testsink\t[^\t]+\tdefault\t.*\nothersink\t[^\t]+\t\t.*\n$")
                    .match(QString::fromStdString(listed.out))
                    .hasMatch())
        << listed.out;

    Settings("Wave_volume=&HFFFF\nMaster_volume=&HFFFF\nOutput=othersink\n");
    server->StartRecording("othersink");
    const QDeadlineTimer played(3000);
    auto child = Presenting(Stimuli("32767") + QStringList{"--write", folder.path()});
    EXPECT_TRUE(played.hasExpired()) << "the trial ended before its sound";
    EXPECT_EQ(Volume("othersink"), 65536);
    EXPECT_EQ(Volume(), 40000);
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 128 + SIGTERM);
    const std::vector<int16_t> recording = server->StopRecording();
    const QByteArray said = child->readAllStandardError();
    EXPECT_TRUE(said.startsWith("zel-stimuli: playing through the sound server") &&
                said.contains("(othersink)\n"))
        << said.data();
    EXPECT_EQ(Volume("othersink"), 30000);
    std::vector<int16_t> expected(3 * 22050);
    for (const int image : {0, 2}) {
        const std::string wav =
            testing::ReadFile(folder.filePath(image ? "trial-1-second.wav" : "trial-1-first.wav"));
        std::memcpy(&expected[image * 22050], wav.data() + 44, 44100);
    }
    EXPECT_NE(testing::FindSamples(recording, expected), std::string::npos) << "not bit-exact";

    Settings("Output=gone\n");
    const testing::Outcome gone = testing::Run(Stimuli("1"));
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.out, "");
    EXPECT_TRUE(Has(gone.err,
                    "zel-stimuli: Zel_test.ini was measured on gone, which is not there "
                    "now. Connect it, or calibrate again.\n"))
        << gone.err;
    EXPECT_EQ(Volume(), 40000);
    EXPECT_EQ(Volume("othersink"), 30000);

    child = testing::Start(
        {ZEL_STIMULI, "--calibrate", "--output", "othersink", "--settings-dir", folder.path()});
    ASSERT_TRUE(testing::WaitFor([&] { return Volume("othersink") == 4096; })) << "not calibrated";
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 0);
    EXPECT_EQ(child->readAllStandardOutput().toStdString(),
              "[Calibration]\nWave_volume=&H8000\nMaster_volume=&H1000\nOutput=othersink\n");
    EXPECT_EQ(Volume("othersink"), 30000);

    // Connected after start-up: the next presentation finds it, calibrates it and plays there.
    Settings("Output=latesink\n");
    testing::RealAudio real;
    ModZeltest audio(real.Platform(), folder.path().toStdString());
    audio.InitialiseAudio();
    ASSERT_EQ(real.log.size(), 1u);
    server->Pactl({"load-module", "module-null-sink", "sink_name=latesink", "rate=22050",
                   "channels=1", "format=s16le", "norewinds=1"});
    ToneTables tables;
    WaveHeader header;
    WaveImage silence = MakeWaveImage();  // a tenth of a second
    MakePulsedTone(header, silence, 1000.0f, 4410, 0, tables.StandardTable, 22050);
    audio.PlayWaveImage(silence);
    EXPECT_EQ(audio.EndPresentation(), PresentationEnd::Played) << real.log.back();
    EXPECT_EQ(Volume("latesink"), 4096);
    EXPECT_TRUE(audio.RestoreMixerLevels().empty());
    EXPECT_EQ(Volume("latesink"), 65536);
}

// Without a server (and with the server forced) no trial can be played: none is printed, and the
// sound's one notice is the missing card's. A notice is one line, even one quoting a name with a
// line break in it.
TEST(NoSoundServer, OneNoticeNoTrialAndTheBackEndNamed) {
    for (const QString sound : {"", "server"}) {
        const QTemporaryDir home;
        const QString settings = home.filePath("two\nlines");
        QDir().mkpath(settings + "/Zel_test.ini");
        const QDeadlineTimer quick(6000);
        const testing::Outcome run = testing::Run(
            {"env", "ZEL_SOUND=" + sound, "HOME=" + home.path(), "XDG_CONFIG_HOME=" + home.path(),
             "PULSE_SERVER=unix:/nonexistent", "ALSA_CONFIG_PATH=/nonexistent", ZEL_STIMULI,
             "--play", "--trials", "3", "--settings-dir", settings});
        EXPECT_FALSE(quick.hasExpired()) << "silent trials take no time";
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "") << "trials reported that were not played";
        // QRegularExpression, not std::regex: GCC 12's <regex> trips -Wmaybe-uninitialized under
        // the sanitizer build.
        const QRegularExpression expected(QRegularExpression::anchoredPattern(
            (sound.isEmpty() ? "zel-stimuli: playing through ALSA device \"default\" \\(no sound "
                               "server answered: .*\\)\n"
                             : "zel-stimuli: playing through the sound server, but none answered "
                               "\\(.*\\)\n") +
            QString("zel-stimuli: default levels \\(.*/two lines/Zel_test.ini cannot be read\\), "
                    "not calibrated for any headphones\n"
                    "zel-stimuli: Cannot read the settings file .*/two lines/Zel_test.ini \\(Is a "
                    "directory\\)\\. The built-in calibration levels are used\\.\n"
                    "zel-stimuli: Cannot identify multimedia sound card\\..*\n")));
        EXPECT_TRUE(expected.match(QString::fromStdString(run.err)).hasMatch()) << run.err;
    }
}

}  // namespace
}  // namespace zel
