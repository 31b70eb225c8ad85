#include "calibrate.h"

#include <poll.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "audio/calibrator.h"
#include "audio/exit_signals.h"
#include "audio/platform/inih_profile_reader.h"
#include "audio/platform/sound_backend.h"
#include "audio/platform/stderr_notice_presenter.h"
#include "terminal.h"

namespace zel {

namespace {

// How often the tone is looked after between keys.
constexpr int kTickMilliseconds = 20;

std::string Shown(Calibrator& calibrator, Calibrator::Line line, bool selected) {
    const std::optional<double> gain = calibrator.Gain(line);
    char dB[32] = "no dB scale";
    if (gain && std::isinf(*gain)) std::snprintf(dB, sizeof dB, "silent");
    if (gain && !std::isinf(*gain)) std::snprintf(dB, sizeof dB, "%+.2f dB", *gain);
    return std::string(selected ? "> " : "  ") +
           (line == Calibrator::Line::Wave ? "wave output " : "speakers ") +
           std::to_string(calibrator.Level(line)) + " (" + dB + ")";
}

void Status(Calibrator& calibrator, Calibrator::Line selected, const std::string& note,
            const std::vector<std::string>& others) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely about chained string additions.
    std::string line = "\r";
    line += Shown(calibrator, Calibrator::Line::Wave, selected == Calibrator::Line::Wave);
    line += "   ";
    line += Shown(calibrator, Calibrator::Line::Speakers, selected == Calibrator::Line::Speakers);
    if (!note.empty()) line += "   " + note;
    if (!others.empty()) {
        // The meter reads their sound too.
        line += "   also sounding here: ";
        line += ListedNames(others);
    }
    line += "\x1b[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace

int Calibrate(float baseFrequency, const std::filesystem::path& settingsDirectory,
              const std::string& output, const std::string& port) {
    // Signals are caught before the mixer is touched, so that no way out skips the write-back.
    ExitSignals signals;
    SoundBackend backend = OpenSoundBackend();
    InihProfileReader profile;
    StderrNoticePresenter notices("zel-stimuli");
    ModZeltest audio(
        {*backend.player, *backend.device, *backend.mixer, profile, notices, *backend.watch},
        settingsDirectory);
    if (!output.empty()) audio.UseOutput(output, port);
    audio.InitialiseAudio();

    Calibrator calibrator(audio, *backend.player, baseFrequency);
    std::optional<Terminal> terminal = Terminal::Open();
    int status = 1;
    bool print = false;
    if (calibrator.Start()) {
        if (terminal) {
            std::fputs(
                "zel-stimuli: Up/Down 1 dB, Page Up/Page Down 6 dB, Tab the other line, "
                "Enter done, q quit\n",
                stderr);
        }
        auto selected = Calibrator::Line::Wave;
        std::string note;
        std::vector<std::string> others;
        if (terminal) Status(calibrator, selected, note, others);
        while (calibrator.Continue()) {
            if (signals.Pending()) {
                // Without a terminal a signal is the way to finish.
                const int signal = signals.Take();
                print = !terminal;
                status = terminal ? 128 + signal : 0;
                break;
            }
            if (!terminal) {
                pollfd watched{signals.Fd(), POLLIN, 0};
                poll(&watched, 1, kTickMilliseconds);
                continue;
            }
            const std::optional<Key> key = terminal->Read(kTickMilliseconds, signals.Fd());
            if (!key) {
                if (std::vector<std::string> now = calibrator.Others(); now != others) {
                    others = std::move(now);
                    Status(calibrator, selected, note, others);
                }
                continue;
            }
            if (*key == Key::Enter || *key == Key::Quit) {
                print = *key == Key::Enter;
                status = 0;
                break;
            }
            if (*key == Key::Tab) {
                selected = selected == Calibrator::Line::Wave ? Calibrator::Line::Speakers
                                                              : Calibrator::Line::Wave;
                note.clear();
            }
            if (*key == Key::Up || *key == Key::Down || *key == Key::PageUp ||
                *key == Key::PageDown) {
                const double step = *key == Key::PageUp || *key == Key::PageDown ? 6 : 1;
                note = calibrator.Step(selected,
                                       *key == Key::Up || *key == Key::PageUp ? step : -step);
            }
            Status(calibrator, selected, note, others);
        }
        if (terminal) std::fputs("\n", stderr);
        calibrator.Stop();
    }
    if (!calibrator.Stopped().empty()) audio.ShowNotice(calibrator.Stopped());
    terminal.reset();
    if (print) std::cout << calibrator.Section() << std::flush;
    return audio.RestoreMixerLevels().empty() ? status : 1;
}

int ListOutputs() {
    SoundBackend backend = OpenSoundBackend();
    std::vector<OutputInfo> outputs;
    if (backend.device->List(outputs) != 0) {
        std::cerr << "zel-stimuli: cannot list the outputs of " << backend.device->Describe()
                  << '\n';
        return 1;
    }
    for (const OutputInfo& output : outputs) {
        std::string ports;
        for (const OutputInfo::Port& port : output.ports) {
            ports += (ports.empty() ? "" : ", ") +
                     std::string(port.name == output.activePort ? "*" : "") + port.name + " (" +
                     port.description + ")";
        }
        std::cout << output.name << '\t' << output.description << '\t'
                  << (output.isDefault ? "default" : "") << '\t' << ports << '\n';
    }
    return 0;
}

}  // namespace zel
