// ./bench --audio: plays trials through the real player on a private sound server and measures,
// at the server's monitor, how much silence the player adds where one image meets the next.
// Also reports underruns, the time from Start (or an answer) to the first frame handed to ALSA,
// and each presentation's wall time.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "audio/mod_zeltest.h"
#include "audio/platform/alsa_mixer_service.h"
#include "audio/platform/alsa_output_device.h"
#include "audio/platform/alsa_sound_player.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/stderr_notice_presenter.h"
#include "support/sound_server.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Passes every call on and keeps what the measurement needs of each image.
class MeasuringAudio final : public zel::AudioOperations {
  public:
    MeasuringAudio(zel::ModZeltest& audio, zel::AlsaSoundPlayer& player)
        : audio_(audio), player_(player) {}

    void InitialiseAudio() override { audio_.InitialiseAudio(); }
    void RestoreMixerLevels() override { audio_.RestoreMixerLevels(); }
    int32_t PlayWaveImage(const zel::WaveImage& image) override {
        std::vector<int16_t> sound(22050);
        std::memcpy(sound.data(), &image.At(23, "bench"), 44100);
        sounds.push_back(std::move(sound));
        const int32_t played = audio_.PlayWaveImage(image);
        reports.push_back(player_.LastPlay());
        return played;
    }

    std::vector<std::vector<int16_t>> sounds;
    std::vector<zel::PlayReport> reports;

  private:
    zel::ModZeltest& audio_;
    zel::AlsaSoundPlayer& player_;
};

struct Summary {
    double median = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.back()};
}

int Run(int trials) {
    zel::testing::TestSoundServer server;
    server.UseInThisProcess();
    server.StartRecording();

    zel::AlsaSoundPlayer player;
    zel::AlsaOutputDevice device;
    zel::AlsaMixerService mixer;
    zel::InihProfileReader profile;
    zel::StderrNoticePresenter notices("bench");
    zel::ModZeltest audio({player, device, mixer, profile, notices}, server.Folder());
    MeasuringAudio measuring(audio, player);
    zel::HeadlessWindow window;
    zel::HeadlessShell shell;
    zel::ProgramRandom random;
    zel::Zelmain test(window, measuring, shell, random);
    test.Form_Load();

    std::vector<double> toFirstFrame;
    std::vector<double> presentation;
    for (int trial = 1; trial <= trials; ++trial) {
        const auto start = Clock::now();
        if (trial == 1) {
            test.cmdStart_Click();
        } else {
            test.cmdResponseA_Click();
        }
        presentation.push_back(Milliseconds(Clock::now() - start));
        const auto& first = measuring.reports[measuring.reports.size() - 3];
        toFirstFrame.push_back(Milliseconds(first.firstFrameHanded - start));
    }
    audio.RestoreMixerLevels();
    const std::vector<int16_t> recording = server.StopRecording();

    // Tone to silence and silence to tone cannot be told apart (silence on both sides), so
    // within a trial the two boundaries share the extra silence found between the tones.
    constexpr double kSamplesPerMs = 22.05;
    std::vector<double> within;
    std::vector<double> across;
    std::size_t from = 0;
    std::size_t previousEnd = 0;
    int missing = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const auto& first = measuring.sounds[static_cast<std::size_t>(trial) * 3];
        const auto& second = measuring.sounds[static_cast<std::size_t>(trial) * 3 + 2];
        const std::size_t firstAt = zel::testing::FindSamples(recording, first, from);
        const std::size_t secondAt = firstAt == std::string::npos
                                         ? firstAt
                                         : zel::testing::FindSamples(recording, second, firstAt);
        if (secondAt == std::string::npos) {
            ++missing;
            continue;
        }
        const double pair = static_cast<double>(secondAt - firstAt) - 2 * 22050.0;
        within.push_back(pair / 2 / kSamplesPerMs);
        within.push_back(pair / 2 / kSamplesPerMs);
        if (trial > 0 && previousEnd != 0) {
            across.push_back((static_cast<double>(firstAt) - static_cast<double>(previousEnd)) /
                             kSamplesPerMs);
        }
        previousEnd = secondAt + 22050;
        from = previousEnd;
    }
    std::vector<double> all = within;
    all.insert(all.end(), across.begin(), across.end());
    int underruns = 0;
    for (const auto& report : measuring.reports) underruns += report.underruns;

    const Summary boundary = Summarise(all);
    const Summary inside = Summarise(within);
    const Summary between = Summarise(across);
    const Summary firstFrame = Summarise(toFirstFrame);
    const Summary wall = Summarise(presentation);
    std::printf("trials: %d (images: %zu, not found in the recording: %d)\n", trials,
                measuring.reports.size(), missing);
    std::printf("extra silence per boundary: median %.2f ms, max %.2f ms (%zu boundaries)\n",
                boundary.median, boundary.max, all.size());
    std::printf(
        "  within a trial (tone-silence-tone, shared by its two boundaries): median "
        "%.2f ms, max %.2f ms\n",
        inside.median, inside.max);
    std::printf(
        "  from one trial to the next (next trial built in between): median %.2f ms, "
        "max %.2f ms\n",
        between.median, between.max);
    std::printf("underruns: %d\n", underruns);
    std::printf("Start or answer to first frame handed to ALSA: median %.2f ms, max %.2f ms\n",
                firstFrame.median, firstFrame.max);
    std::printf("presentation wall time: median %.1f ms, max %.1f ms; each:", wall.median,
                wall.max);
    for (const double ms : presentation) std::printf(" %.1f", ms);
    std::printf("\n");
    return missing == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::atoi(argv[1]) : 20;
    try {
        return Run(std::max(trials, 1));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zel_audio_bench: %s\n", error.what());
        return 1;
    }
}
