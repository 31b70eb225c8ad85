// zel-stimuli --play on the test card, which plays in real time like a bare card behind plug, at
// the rates cards run at.

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

#include "audio/mod_zeltest.h"
#include "support/process.h"
#include "support/real_audio.h"
#include "synthesis/wave_image.h"

namespace zel {
namespace {

using Samples = std::vector<int16_t>;

Samples ReadSamples(const QString& path, std::size_t from, std::size_t step) {
    const std::string raw = testing::ReadFile(path);
    Samples all(raw.size() / 2);
    std::copy_n(raw.data(), all.size() * 2, reinterpret_cast<char*>(all.data()));
    Samples picked;
    for (std::size_t i = from; i < all.size(); i += step) picked.push_back(all[i]);
    return picked;
}

// The tones in a recording: [start, end) of each run of sound, runs closer than 10 ms joined.
std::vector<std::pair<std::size_t, std::size_t>> Tones(const Samples& s, unsigned rate) {
    std::vector<std::pair<std::size_t, std::size_t>> tones;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (std::abs(s[i]) <= 1) continue;
        if (!tones.empty() && i - tones.back().second < rate / 100) {
            tones.back().second = i + 1;
        } else {
            tones.emplace_back(i, i + 1);
        }
    }
    return tones;
}

// From the rising zero crossings of the steady middle, interpolated.
double Frequency(const Samples& s, std::size_t start, std::size_t end, unsigned rate) {
    const std::size_t a = start + (end - start) / 5, b = end - (end - start) / 5;
    std::vector<double> ups;
    for (std::size_t i = a; i + 1 < b; ++i)
        if (s[i] < 0 && s[i + 1] >= 0) ups.push_back(i + s[i] / double(s[i] - s[i + 1]));
    return (ups.size() - 1) / ((ups.back() - ups.front()) / rate);
}

class OnACard : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("ALSA_CONFIG_PATH", ZEL_TEST_CARD_CONFIG, 1);
        setenv("ZEL_TEST_CARD_FILE", recording.toLocal8Bit().constData(), 1);
        setenv("ZEL_TEST_MIXER_STATE", folder.filePath("mixer").toLocal8Bit().constData(), 1);
        setenv("ZEL_SOUND", "alsa", 1);
        QDir().mkpath(images);
    }
    void Card(unsigned rate, unsigned channels) {
        setenv("ZEL_TEST_CARD_RATE", std::to_string(rate).c_str(), 1);
        setenv("ZEL_TEST_CARD_CHANNELS", std::to_string(channels).c_str(), 1);
        QFile::remove(recording);
    }
    QStringList Stimuli(const char* trials) const {
        return {ZEL_STIMULI, "--play", "--trials",       trials,
                "--write",   images,   "--settings-dir", folder.path()};
    }

    QTemporaryDir folder;
    const QString recording = folder.filePath("card.raw"), images = folder.filePath("images");
};

// Each tone whole and at its pitch, the silence between exact, nothing after the presentation.
TEST_F(OnACard, EveryTonePlaysWholeAtItsPitchWithNothingAfter) {
    for (const auto& [rate, channels] : {std::pair{22050u, 1u}, {48000u, 2u}, {44100u, 2u}}) {
        SCOPED_TRACE(rate);
        Card(rate, channels);
        const testing::Outcome run = testing::Run(Stimuli("2"));
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(testing::Has(run.err, rate == 22050
                                              ? "at 22,050 Hz mono, as synthesised"
                                              : "converted by the program from 22,050 Hz"))
            << run.err;
        const Samples heard = ReadSamples(recording, 0, channels);
        const auto tones = Tones(heard, rate);
        ASSERT_EQ(tones.size(), 4u);
        std::vector<double> extra;
        for (std::size_t i = 0; i < tones.size(); ++i) {
            const QString name =
                QString("trial-%1-%2.wav").arg(i / 2 + 1).arg(i % 2 ? "second" : "first");
            const Samples image = ReadSamples(images + "/" + name, 22, 1);
            const auto played = Tones(Samples(image.begin(), image.begin() + 22050), 22050).at(0);
            const auto [start, end] = tones[i];
            if (rate == 22050) {
                EXPECT_TRUE(std::equal(heard.begin() + start, heard.begin() + end,
                                       image.begin() + played.first))
                    << "not bit-exact: tone " << i;
            }
            const double pitch = Frequency(image, played.first, played.second, 22050);
            EXPECT_NEAR(Frequency(heard, start, end, rate) / pitch, 1.0, 1e-4) << "tone " << i;
            // Its fade-out played to its end: as long as the image's sound, within 1 ms.
            EXPECT_NEAR((end - start) / double(rate), (played.second - played.first) / 22050.0,
                        0.001)
                << "tone " << i;
            if (i % 2) extra.push_back((start - tones[i - 1].first) / double(rate) - 2.0);
        }
        for (const double e : extra) EXPECT_LE(std::abs(e), 0.001) << "extra silence";
        EXPECT_TRUE(std::all_of(heard.begin() + tones.back().second, heard.end(), [](int16_t v) {
            return v == 0;
        })) << "sound after the presentation";
    }
}

// The program held up longer than the card's buffer mid-trial: that trial is not counted.
TEST_F(OnACard, ATrialThatRanDryIsNotCounted) {
    Card(22050, 1);
    auto child = testing::Start(Stimuli("32767"));
    ASSERT_TRUE(child->waitForReadyRead(30'000)) << "no trial presented";
    QThread::msleep(200);  // into trial 2's sound
    ::kill(static_cast<pid_t>(child->processId()), SIGSTOP);
    QThread::msleep(800);
    ::kill(static_cast<pid_t>(child->processId()), SIGCONT);
    EXPECT_EQ(testing::Status(*child), 1);
    EXPECT_EQ(child->readAllStandardOutput().count('\n'), 1);
    EXPECT_TRUE(
        child->readAllStandardError().contains("could not be played: the sound card ran dry"));
}

// A signal during a tone ends the program at once, the tone faded out within a few
// milliseconds, not left to play on or cut off.
TEST_F(OnACard, ASignalFadesTheToneOutAtOnce) {
    Card(22050, 1);
    auto child = testing::Start(Stimuli("32767"));
    ASSERT_TRUE(child->waitForReadyRead(30'000)) << "no trial presented";
    QThread::msleep(500);  // into trial 2's first tone
    const QDeadlineTimer ended(1000);
    child->terminate();
    EXPECT_EQ(testing::Status(*child), 128 + SIGTERM);
    EXPECT_FALSE(ended.hasExpired()) << "it played on";
    const Samples heard = ReadSamples(recording, 0, 1);
    const auto tones = Tones(heard, 22050);
    ASSERT_EQ(tones.size(), 3u);
    const auto [start, end] = tones.back();
    EXPECT_LT(end - start, 22050u * 3 / 4) << "the tone played on";
    // Its last half period nearly silent, where a cut tone would be near its peak.
    for (std::size_t i = end - 11; i < end; ++i) EXPECT_LE(std::abs(heard[i]), 3200) << i;
}

// Another program's change fails a trial and the next one is calibrated again, also where the
// device opens once only (a hw device a lab's .asoundrc names) and the player holds it open.
TEST_F(OnACard, AfterAChangeTheNextTrialIsCalibratedOnADeviceThatOpensOnce) {
    Card(22050, 1);
    setenv("ZEL_TEST_CARD_ONCE", "1", 1);
    const std::string mixer = folder.filePath("mixer").toStdString();
    std::ofstream(mixer) << "Master 31 20 on\nPCM 31 20 on\n";
    testing::RealAudio real;
    ModZeltest audio(real.Platform(), folder.path().toStdString());
    audio.InitialiseAudio();
    // A tenth of a second of sound each, the header saying so.
    ToneTables tables;
    MakeSineBuffers(tables, 1000.0f, 1000.0f, 0.0f, 22050);
    WaveHeader header;
    WaveImage tone = MakeWaveImage();
    MakePulsedTone(header, tone, 1000.0f, 4410, 20000, tables.StandardTable, 22050);
    const auto present = [&] {
        audio.PlayWaveImage(tone);
        return audio.EndPresentation();
    };
    EXPECT_EQ(present(), PresentationEnd::Played);
    std::ofstream(mixer) << "Master 31 31 on\nPCM 31 16 on\n";
    EXPECT_EQ(present(), PresentationEnd::Failed);
    EXPECT_EQ(present(), PresentationEnd::Played) << real.log.back();
    EXPECT_EQ(testing::ReadFile(folder.filePath("mixer")), "Master 31 2 on\nPCM 31 16 on\n");
    unsetenv("ZEL_TEST_CARD_ONCE");
}

}  // namespace
}  // namespace zel
