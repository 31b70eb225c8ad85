// ./bench --audio: plays trials through the real path (Zelmain, ModZeltest, the sound back end) on
// private sound servers, idle and with every core busy, and measures at the server's monitor how
// much silence the player adds where the images of a trial meet: tone 2 must start exactly 44,100
// frames after tone 1. Also reports underruns, failed presentations, the time from Start (or an
// answer) to the first frame handed to the server, and each presentation's wall time.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/mod_zeltest.h"
#include "audio/platform/alsa/rate_converter.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "audio/platform/stderr_notice_presenter.h"
#include "support/sound_server.h"
#include "testrun/headless.h"
#include "testrun/zelmain.h"

namespace {

using Clock = std::chrono::steady_clock;
using zel::testing::GraphRate;
using zel::testing::ServerKind;
using zel::testing::TestSoundServer;

constexpr std::size_t kFrames = 22050;  // the sound of one image
constexpr double kFramesPerMs = 22.05;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// What the player said at the end of a presentation.
struct Ending {
    int32_t played = 0;
    zel::PresentationReport report;
    std::string problem;
};

// Passes every call on and keeps what the measurement needs of each image and presentation.
class MeasuringAudio final : public zel::AudioOperations {
  public:
    MeasuringAudio(zel::ModZeltest& audio, zel::SoundPlayer& player)
        : audio_(audio), player_(player) {}

    void InitialiseAudio() override { audio_.InitialiseAudio(); }
    std::vector<std::string> RestoreMixerLevels() override { return audio_.RestoreMixerLevels(); }
    int32_t PlayWaveImage(const zel::WaveImage& image) override {
        std::vector<int16_t> sound(kFrames);
        std::memcpy(sound.data(), &image.At(23, "bench"), kFrames * 2);  // after the header
        sounds.push_back(std::move(sound));
        return audio_.PlayWaveImage(image);
    }
    zel::PresentationEnd EndPresentation() override {
        const zel::PresentationEnd ended = audio_.EndPresentation();
        endings.push_back({ended == zel::PresentationEnd::Played ? 1 : 0,
                           player_.LastPresentation(), player_.Problem()});
        return ended;
    }

    std::vector<std::vector<int16_t>> sounds;
    std::vector<Ending> endings;

  private:
    zel::ModZeltest& audio_;
    zel::SoundPlayer& player_;
};

struct Summary {
    double median = 0;
    double min = 0;
    double max = 0;
};

Summary Summarise(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return {n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2, values.front(),
            values.back()};
}

// Where the level (mean square over 4 periods of 1 kHz) next rises through `level` from `from` on,
// interpolated between frames.
std::optional<double> Rise(const std::vector<int16_t>& samples, std::size_t from, double level) {
    constexpr std::size_t kWindow = 88;
    int64_t sum = 0;
    double previous = level;  // a rise needs a quieter window before it
    for (std::size_t i = from; i < samples.size(); ++i) {
        sum += samples[i] * samples[i];
        if (i >= from + kWindow) sum -= samples[i - kWindow] * samples[i - kWindow];
        if (i + 1 < from + kWindow) continue;
        const double now = static_cast<double>(sum) / kWindow;
        if (now >= level && previous < level) {
            return static_cast<double>(i) - (now - level) / (now - previous);
        }
        previous = now;
    }
    return std::nullopt;
}

// Where `tone` starts in `recording` from `from` on, in frames. A bit-exact recording is matched
// sample for sample. A resampled one is not, and a pure tone correlates almost as well one period
// off, so there the tone's level rising through half its peak amplitude, in the recording and in
// the image alike, places it. A rise counts when the sound there has the image's energy (volumes
// are at 100 %) and correlates with it; otherwise the next rise is tried.
std::optional<double> Locate(const std::vector<int16_t>& recording,
                             const std::vector<int16_t>& tone, std::size_t from, bool exact) {
    if (exact) {
        const std::size_t at = zel::testing::FindSamples(recording, tone, from);
        return at == std::string::npos ? std::nullopt : std::optional<double>(at);
    }
    const auto dot = [&](auto a, auto b) {
        return std::inner_product(a, a + std::ssize(tone), b, 0.0);
    };
    const double energy = dot(tone.begin(), tone.begin());
    const double peak = *std::max_element(tone.begin(), tone.end());
    const double level = peak * peak / 8;
    const double onset = *Rise(tone, 0, level);
    for (auto heard = Rise(recording, from, level); heard;
         heard = Rise(recording, static_cast<std::size_t>(*heard) + 1, level)) {
        const auto at = std::lround(*heard - onset);
        if (at < 0 || at + std::ssize(tone) > std::ssize(recording)) continue;
        const auto there = recording.begin() + at;
        const double found = dot(there, there);
        if (std::abs(found / energy - 1) < 0.03 &&
            dot(tone.begin(), there) > 0.9 * std::sqrt(energy * found)) {
            return *heard - onset;
        }
    }
    return std::nullopt;
}

// Presents `trials` trials, answering each at once, with every core busy or not; keeps the time
// from Start (or the answer) to the first frame handed to the output, and each presentation's.
void Present(zel::Zelmain& test, MeasuringAudio& measuring, bool busy, int trials,
             std::vector<double>& toFirstFrame, std::vector<double>& wall) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::unique_ptr<zel::testing::Child>> load;
    for (unsigned i = 0; busy && i < cores; ++i) {
        load.push_back(zel::testing::Start({"yes"}, QProcess::nullDevice()));
    }
    for (int trial = 1; trial <= trials; ++trial) {
        const auto start = Clock::now();
        trial == 1 ? test.cmdStart_Click() : test.cmdResponseA_Click();
        wall.push_back(Milliseconds(Clock::now() - start));
        const auto queued = measuring.endings.back().report.firstFrameQueued;
        if (queued != Clock::time_point{}) toFirstFrame.push_back(Milliseconds(queued - start));
    }
}

// CPU time used so far by this process, and by the processes `pids`, in milliseconds.
double OwnCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}
double Cpu(const std::vector<qint64>& pids) {
    double total = 0;
    for (const qint64 pid : pids) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // After the command in parentheses: state, then fields 4 to 13, then utime and stime.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        for (int i = 0; i < 11; ++i) fields >> field;
        double utime = 0, stime = 0;
        fields >> utime >> stime;
        total += (utime + stime) * 1e3 / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return total;
}

struct Setup {
    ServerKind kind;
    GraphRate rate;
    const char* name;
};

// Runs `trials` trials on a fresh server and prints their block; false when a presentation failed
// or a trial is missing from the recording.
bool RunBlock(const Setup& setup, bool busy, int trials) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("\n== %s, %s ==\n", setup.name,
                busy ? (std::to_string(cores) + " cores busy").c_str() : "idle");
    std::optional<TestSoundServer> server;
    std::string why;
    try {
        if (TestSoundServer::Available(setup.kind, why)) server.emplace(setup.kind, setup.rate);
    } catch (const std::exception& error) {
        why = error.what();
    }
    if (!server) {
        std::printf("skipped: %s\n", why.c_str());
        return true;
    }
    // Full scale: the samples pass unchanged.
    std::ofstream(server->Folder() / "Zel_test.ini")
        << "[Calibration]\nWave_volume=&HFFFF\nMaster_volume=&HFFFF\n";
    server->StartRecording();

    zel::SoundBackend backend = zel::OpenSoundBackend();
    zel::InihProfileReader profile;
    zel::StderrNoticePresenter notices("zel_audio_bench");
    zel::ModZeltest audio(
        {*backend.player, *backend.device, *backend.mixer, profile, notices, *backend.watch},
        server->Folder());
    MeasuringAudio measuring(audio, *backend.player);
    zel::HeadlessWindow window;
    zel::HeadlessShell shell;
    zel::ProgramRandom random;
    zel::Zelmain test(window, measuring, shell, random);
    test.Form_Load();

    std::vector<double> toFirstFrame, wall;
    Present(test, measuring, busy, trials, toFirstFrame, wall);
    const std::vector<int16_t> recording = server->StopRecording();
    if (!busy) {
        // Awaiting the answer to the last trial, the stream fed silence, the watch in place, the
        // recorder gone.
        const double own = OwnCpu(), served = Cpu(server->ServerPids());
        std::this_thread::sleep_for(std::chrono::seconds(10));
        std::printf(
            "idle for 10 s awaiting an answer, CPU time: program %.0f ms, server %.0f ms   [goal "
            "together <= 100 ms]\n",
            OwnCpu() - own, Cpu(server->ServerPids()) - served);
    }
    audio.RestoreMixerLevels();

    // PulseAudio's sink runs at 22,050 Hz itself, so only PipeWire's 48 kHz graph resamples.
    const bool exact = setup.rate == GraphRate::Rate22050;
    std::vector<double> extra;
    std::string each;
    std::size_t from = 0;
    int missing = 0, failed = 0, underruns = 0;
    for (int trial = 0; trial < trials; ++trial) {
        const auto& tones = measuring.sounds;
        const auto first = Locate(recording, tones[trial * 3u], from, exact);
        const auto second = first ? Locate(recording, tones[trial * 3u + 2],
                                           static_cast<std::size_t>(*first) + kFrames, exact)
                                  : std::nullopt;
        if (!second) {
            ++missing;
            each += " -";
            continue;
        }
        extra.push_back((*second - *first - 2.0 * kFrames) / kFramesPerMs);
        char text[16];
        std::snprintf(text, sizeof text, " %.2f", extra.back());
        each += text;
        from = static_cast<std::size_t>(*second) + kFrames;
    }
    std::string problem;
    for (const Ending& ending : measuring.endings) {
        underruns += ending.report.underruns;
        if (ending.played == 0 && failed++ == 0) problem = " (first: " + ending.problem + ")";
    }

    const Summary boundary = Summarise(extra);
    const Summary queued = Summarise(toFirstFrame);
    const Summary presentation = Summarise(wall);
    const auto verdict = [](bool met) { return met ? "met" : "NOT met"; };
    std::printf("%d trials on %s; tones located by %s\n", trials,
                backend.device->Describe().c_str(),
                exact ? "exact sample match" : "level rising through half the peak (sub-frame)");
    std::printf(
        "extra silence at the image boundaries (tone 1 end to tone 2 start, beyond 1 s): median "
        "%.2f ms, max %.2f ms (min %.2f)   [goal median <= 1, max <= 3: %s]\n",
        boundary.median, boundary.max, boundary.min,
        verdict(!extra.empty() && std::abs(boundary.median) <= 1 &&
                std::max(boundary.max, -boundary.min) <= 3));
    std::printf("  each trial (ms, - when not found):%s\n", each.c_str());
    std::printf("silence between the tones: median %.2f ms, max %.2f ms   [ideal 1000.00]\n",
                1000 + boundary.median, 1000 + boundary.max);
    std::printf(
        "underruns: %d; failed presentations: %d%s; not found in the recording: %d"
        "   [goal 0 timeouts: %s]\n",
        underruns, failed, problem.c_str(), missing, verdict(failed + missing == 0));
    std::printf(
        "Start or answer to first frame handed to the server: median %.2f ms, max %.2f ms\n",
        queued.median, queued.max);
    std::printf("presentation wall time: median %.1f ms, max %.1f ms\n", presentation.median,
                presentation.max);
    return failed + missing == 0;
}

// The ALSA back end on the tests' sound card at 48,000 Hz stereo, where the program converts:
// extra silence at the boundaries as the card emitted it, and the conversion's time per
// presentation.
bool RunCardBlock(bool busy, int trials) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("\n== ALSA test card, 48,000 Hz stereo, %s ==\n",
                busy ? (std::to_string(cores) + " cores busy").c_str() : "idle");
    constexpr unsigned kRate = 48000;
    const QTemporaryDir folder;
    const std::string recording = folder.filePath("card.raw").toStdString();
    setenv("ALSA_CONFIG_PATH", ZEL_TEST_CARD_CONFIG, 1);
    setenv("ZEL_TEST_CARD_RATE", "48000", 1);
    setenv("ZEL_TEST_CARD_CHANNELS", "2", 1);
    setenv("ZEL_TEST_CARD_FILE", recording.c_str(), 1);
    setenv("ZEL_TEST_MIXER_STATE", folder.filePath("mixer").toLocal8Bit().constData(), 1);
    setenv("ZEL_SOUND", "alsa", 1);
    std::ofstream(folder.filePath("mixer").toStdString()) << "Master 65535 0 0\nPCM 65535 0 0\n";
    // Full scale: the samples pass unchanged.
    std::ofstream(folder.filePath("Zel_test.ini").toStdString())
        << "[Calibration]\nWave_volume=&HFFFF\nMaster_volume=&HFFFF\n";
    std::vector<double> toFirstFrame, wall, extra, conversion;
    int failed = 0;
    {
        zel::SoundBackend backend = zel::OpenSoundBackend();
        zel::InihProfileReader profile;
        zel::StderrNoticePresenter notices("zel_audio_bench");
        zel::ModZeltest audio(
            {*backend.player, *backend.device, *backend.mixer, profile, notices, *backend.watch},
            folder.path().toStdString());
        MeasuringAudio measuring(audio, *backend.player);
        zel::HeadlessWindow window;
        zel::HeadlessShell shell;
        zel::ProgramRandom random;
        zel::Zelmain test(window, measuring, shell, random);
        test.Form_Load();
        Present(test, measuring, busy, trials, toFirstFrame, wall);
        std::printf("%d trials on %s\n", trials, backend.device->Describe().c_str());
        for (const Ending& ending : measuring.endings) failed += ending.played == 0;
        // The conversion of each presentation as the player does it, timed on its own.
        const auto converter = zel::RateConverter::Make(22050, kRate);
        std::vector<int16_t> out;
        for (std::size_t i = 0; i + 2 < measuring.sounds.size(); i += 3) {
            const auto start = Clock::now();
            converter->Begin();
            out.clear();
            for (std::size_t k = i; k < i + 3; ++k) {
                converter->Convert(measuring.sounds[k].data(), measuring.sounds[k].size(), out);
            }
            converter->Finish(out);
            conversion.push_back(Milliseconds(Clock::now() - start));
        }
    }
    // Each tone starts where its first sample beyond the least step is (a tone's own near-zero
    // samples last a sample or two; the trials, answered at once, are about 10 ms apart); tone 2
    // of a trial must start 2 s after tone 1.
    std::ifstream file(recording, std::ios::binary);
    std::vector<int16_t> left;
    for (int16_t frame[2]; file.read(reinterpret_cast<char*>(frame), sizeof frame);) {
        left.push_back(frame[0]);
    }
    std::vector<std::size_t> starts;
    for (std::size_t i = 0, last = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) <= 1) continue;
        if (starts.empty() || i - last > kRate / 1000) starts.push_back(i);
        last = i;
    }
    for (std::size_t t = 0; t + 1 < starts.size(); t += 2) {
        extra.push_back((static_cast<double>(starts[t + 1] - starts[t]) / kRate - 2.0) * 1000);
    }
    for (const char* name : {"ALSA_CONFIG_PATH", "ZEL_SOUND"}) unsetenv(name);
    const Summary boundary = Summarise(extra), converted = Summarise(conversion);
    const Summary queued = Summarise(toFirstFrame), presentation = Summarise(wall);
    std::printf(
        "extra silence at the image boundaries (tone 2 start beyond 2 s after tone 1): median "
        "%.2f ms, max %.2f ms, over %zu trials   [goal median <= 1, max <= 3]\n",
        boundary.median, std::max(boundary.max, -boundary.min), extra.size());
    std::printf(
        "conversion of a presentation (3 images, 22,050 to 48,000 Hz): median %.2f ms, "
        "max %.2f ms\n",
        converted.median, converted.max);
    std::printf(
        "failed presentations: %d; Start or answer to first frame written: median %.2f "
        "ms, max %.2f ms; presentation wall time: median %.1f ms\n",
        failed, queued.median, queued.max, presentation.median);
    return failed == 0 && static_cast<int>(extra.size()) == trials;
}

// What plays after the calibrated state is lost, and how soon a signal ends the program:
// zel-stimuli plays trials with its own level at 50 % (peaks of 4,000 at the monitor); 0.7 s into a
// trial another client sets that level to 100 %, or a SIGTERM arrives. At the sink's monitor: from
// the first louder sample to the last sound.
bool RunCutBlock(const Setup& setup, int repeats) {
    std::printf("\n== %s: the sound cut short ==\n", setup.name);
    std::string why;
    if (!TestSoundServer::Available(setup.kind, why)) {
        std::printf("skipped: %s\n", why.c_str());
        return true;
    }
    TestSoundServer server(setup.kind, setup.rate);
    std::ofstream(server.Folder() / "Zel_test.ini")
        << "[Calibration]\nWave_volume=&H8000\nMaster_volume=&HFFFF\n";
    const QString folder = QString::fromStdString(server.Folder().string());
    std::vector<double> after, exits;
    for (int i = 0; i < 2 * repeats; ++i) {
        const bool signal = i >= repeats;
        if (!signal) server.StartRecording();
        const auto child = zel::testing::Start(
            {ZEL_STIMULI, "--play", "--trials", "32767", "--settings-dir", folder});
        if (!child->waitForReadyRead(30'000)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        const auto asked = Clock::now();
        if (signal) {
            child->terminate();
        } else {
            const std::string inputs = server.Pactl({"list", "short", "sink-inputs"}).out;
            server.Pactl({"set-sink-input-volume",
                          QString::fromStdString(inputs.substr(0, inputs.find('\t'))), "65536"});
        }
        zel::testing::Status(*child);
        if (signal) {
            exits.push_back(Milliseconds(Clock::now() - asked));
            continue;
        }
        const std::vector<int16_t> heard = server.StopRecording();
        const auto loud =
            std::find_if(heard.begin(), heard.end(), [](int16_t v) { return std::abs(v) > 4100; });
        const auto last = std::find_if(heard.rbegin(), heard.rend(), [](int16_t v) { return v; });
        if (loud != heard.end()) after.push_back((last.base() - loud) / kFramesPerMs);
    }
    const Summary sound = Summarise(after), exit = Summarise(exits);
    std::printf(
        "sound after the level was set to 100 %%, at the monitor: median %.1f ms, min %.1f, max "
        "%.1f (%zu of %d)\n",
        sound.median, sound.min, sound.max, after.size(), repeats);
    std::printf(
        "SIGTERM during a trial to the program's end: median %.0f ms, max %.0f ms   [goal "
        "200 ms]\n",
        exit.median, exit.max);
    return exit.max <= 200;
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = std::max(argc > 1 ? std::atoi(argv[1]) : 20, 1);
    const Setup setups[] = {
        {ServerKind::PulseAudio, GraphRate::Rate22050, "PulseAudio"},
        {ServerKind::PipeWire, GraphRate::Rate22050, "PipeWire, 22,050 Hz graph"},
        {ServerKind::PipeWire, GraphRate::Default, "PipeWire, default 48 kHz graph"}};
    bool ok = true;
    for (const bool busy : {false, true}) ok = RunCardBlock(busy, trials) && ok;
    for (const Setup& setup : {setups[0], setups[1]}) ok = RunCutBlock(setup, 10) && ok;
    for (const Setup& setup : setups) {
        for (const bool busy : {false, true}) {
            try {
                ok = RunBlock(setup, busy, trials) && ok;
            } catch (const std::exception& error) {
                std::printf("failed: %s\n", error.what());
                ok = false;
            }
        }
    }
    return ok ? 0 : 1;
}
