#pragma once

// Fakes of the audio platform services; notices and mixer changes share one log, in order.

#include <algorithm>
#include <bit>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/platform/mixer_service.h"
#include "audio/platform/notice_presenter.h"
#include "audio/platform/output_device.h"
#include "audio/platform/output_watch.h"
#include "audio/platform/sound_player.h"

namespace zel::testing {

using Log = std::vector<std::string>;

struct FakeNoticePresenter final : NoticePresenter {
    explicit FakeNoticePresenter(Log& log) : log(log) {}
    void ShowInformation(const std::string& title, const std::string& message) override {
        log.push_back("notice [" + title + "] " + message);
    }
    void ShowCritical(const std::string& message) override { log.push_back("critical " + message); }
    Log& log;
};

// Outputs by name, each with its active port (empty: none); "card" is there and the default.
struct FakeOutputDevice final : OutputDevice {
    int32_t GetDevCaps(uint32_t, WaveOutCaps& caps) override {
        if (formats) caps.dwFormats = *formats;
        return formats ? 0 : -2;
    }
    int32_t Choose(const std::string& name, const std::string& port,
                   OutputMismatch& mismatch) override {
        const auto found = outputs.find(name);
        if (found == outputs.end() || (!port.empty() && port != found->second)) {
            mismatch.what = name;
            mismatch.missing = found == outputs.end();
            mismatch.port = port;
            if (!mismatch.missing) {
                mismatch.hasPort = port == "speakers" || port == "headphones";
                mismatch.activePort = found->second;
                if (!found->second.empty()) mismatch.ports = {"speakers", "headphones"};
            }
            return -2;
        }
        chosen = name;
        return 0;
    }
    int32_t List(std::vector<OutputInfo>&) override { return 0; }
    int32_t InUse(OutputInfo& output) override {
        output = {chosen, "", {}, outputs[chosen], chosen == "card"};
        return 0;
    }
    std::string Describe() override { return "the fake " + chosen; }
    std::optional<uint32_t> formats = kWaveFormat2M16;  // none: no device
    std::map<std::string, std::string> outputs{{"card", ""}};
    std::string chosen = "card";
};

// Keeps every image it is handed; a problem fails the presentation.
struct FakeSoundPlayer final : SoundPlayer {
    int32_t Queue(const void* image, int32_t byteCount) override {
        const auto* bytes = static_cast<const uint8_t*>(image);
        played.emplace_back(bytes, bytes + byteCount);
        ++queued;
        queuedSound += std::chrono::duration<double>((byteCount - 44) / 2 / 22050.0);
        return 1;
    }
    // Cut short when asked to, by `stop` too, once `onFinish` has played; counts the cuts.
    int32_t Finish() override {
        queuedSound = {};
        if (std::exchange(queued, 0) == 0) return 0;
        if (onFinish) onFinish();
        const bool stopped = std::exchange(cut, false) || (stop && stop());
        cuts += stopped ? 1 : 0;
        return problem.empty() && !stopped ? 1 : 0;
    }
    // The output takes `holds` of the sound at once, and then nothing.
    Clock::duration Ahead() const override {
        return std::max(std::chrono::duration_cast<Clock::duration>(queuedSound) - holds,
                        Clock::duration{});
    }
    void StopWhen(std::function<bool()> when) override { stop = std::move(when); }
    void Cut() override { cut = true; }
    std::function<bool()> stop;
    bool cut = false;
    int cuts = 0;
    int queued = 0;  // since the last Finish
    std::chrono::duration<double> queuedSound{};
    Clock::duration holds{};
    std::string Problem() const override { return problem; }
    PresentationReport LastPresentation() const override { return {}; }
    std::string problem;
    std::vector<std::vector<uint8_t>> played;
    std::function<void()> onFinish;  // while the presentation plays
};

// Says what the test says changed or was heard; counts how often it was armed; fails to arm
// with `armFailure`.
struct FakeOutputWatch final : OutputWatch {
    int32_t Arm() override {
        ++arms;
        change.clear();
        return armFailure;
    }
    std::string Changed() override { return change; }
    bool Disturbed() override { return !change.empty() || !heard.empty(); }
    void Listen(bool on) override { listening = on; }
    std::vector<std::string> Heard() override { return heard; }
    std::vector<std::string> Sounding() override { return listening ? heard : Names{}; }
    using Names = std::vector<std::string>;
    int arms = 0;
    int32_t armFailure = 0;
    bool listening = false;
    std::string change;
    Names heard;
};

// A mixer whose lines are named by their component type (line, control and value alike), one
// channel each, at 1000 + type until set; speakers (muted, their level and switch the active
// port's), wave output and microphone have a switch. Logs "set TYPE LEVEL" (+ " on PORT" for
// another port's), "on TYPE" and "off TYPE".
struct FakeMixerService final : MixerService {
    enum class Op { Open, Line, Get, Set, Switch, Close };

    explicit FakeMixerService(Log& log) : log(log) {}

    int32_t Open(MixerHandle& handle, uint32_t) override {
        if (const int32_t code = failures[{Op::Open, 0}]) return code;
        open[handle = 1] = 0;  // one open at a time is all the routines need
        return 0;
    }
    int32_t GetLineInfo(MixerHandle handle, uint32_t type, uint32_t& lineId) override {
        open.at(handle) = lineId = type;
        return failures[{Op::Line, type}];
    }
    int32_t GetLineControl(MixerHandle, uint32_t lineId, uint32_t, MixerControl& control) override {
        control = {lineId, 0, 65535};
        return 0;
    }
    int32_t GetControlValue(MixerHandle, uint32_t id, uint32_t& value) override {
        if (const int32_t code = failures[{Op::Get, id}]) return code;
        value = std::bit_cast<uint32_t>(Level(id));
        return 0;
    }
    int32_t SetControlValue(MixerHandle, uint32_t id, uint32_t value) override {
        if (const int32_t code = failures[{Op::Set, id}]) return code;
        Level(id) = std::bit_cast<int32_t>(value);
        log.push_back("set " + std::to_string(id) + " " + std::to_string(Level(id)));
        return 0;
    }
    int32_t GetLineState(MixerHandle, uint32_t id, LineState& state) override {
        if (const int32_t code = failures[{Op::Get, id}]) return code;
        state = {{Level(id)}, {}, "card", id == component::kSpeakers ? port : "", Where(id)};
        if (bool* on = Switch(id, port)) state.switches = {*on};
        return 0;
    }
    int32_t SetLineLevels(MixerHandle, uint32_t id, const LineState& state) override {
        if (const int32_t code = failures[{Op::Set, id}]) return code;
        const bool here = id != component::kSpeakers || state.port == port;
        int32_t& level = here ? Level(id) : ports.try_emplace(state.port, 1004).first->second;
        level = static_cast<int32_t>(state.levels.at(0));
        log.push_back("set " + std::to_string(id) + " " + std::to_string(level) +
                      (here ? "" : " on " + state.port));
        return 0;
    }
    int32_t SetLineSwitches(MixerHandle, uint32_t id, const LineState& state) override {
        return Switched(id, state.port, state.switches.at(0));
    }
    int32_t SetSwitches(MixerHandle, uint32_t id, bool on) override {
        return Switched(id, port, on);
    }
    // A line at a 1 dB step every 1,000 of the scale, 0 dB at 65,000.
    int32_t GetGain(MixerHandle, uint32_t, uint32_t value, double& dB) override {
        dB = (static_cast<double>(value) - 65000) / 1000;
        return 0;
    }
    int32_t Close(MixerHandle handle) override {
        const uint32_t type = open.at(handle);
        open.erase(handle);
        return failures[{Op::Close, type}];
    }
    std::string Describe(int32_t result) const override {
        return "error " + std::to_string(result);
    }

    static std::string Where(uint32_t type) { return "line " + std::to_string(type); }
    // The speakers' level on the active port; a port starts at 1004, muted.
    int32_t& Level(uint32_t type) {
        if (type == component::kSpeakers) return ports.try_emplace(port, 1004).first->second;
        return levels.try_emplace(type, 1000 + type).first->second;
    }
    bool* Switch(uint32_t type, const std::string& on) {
        if (type == component::kSpeakers) return &portSwitches.try_emplace(on, false).first->second;
        const auto found = switches.find(type);
        return found == switches.end() ? nullptr : &found->second;
    }
    int32_t Switched(uint32_t id, const std::string& on, bool value) {
        bool* line = Switch(id, on);
        if (line == nullptr) return 0;
        if (const int32_t code = failures[{Op::Switch, id}]) return code;
        *line = value;
        log.push_back((value ? "on " : "off ") + std::to_string(id) +
                      (id == component::kSpeakers && on != port ? " on " + on : ""));
        return 0;
    }

    // The code each step returns for a line (0 for Open); a line whose Line step fails is missing.
    std::map<std::pair<Op, uint32_t>, int32_t> failures;
    std::map<MixerHandle, uint32_t> open;  // handle -> the line it looked up

    Log& log;
    std::map<uint32_t, int32_t> levels;
    std::map<uint32_t, bool> switches{{component::kWaveOut, true}, {component::kMicrophone, true}};
    std::string port;                          // the speakers' active port
    std::map<std::string, int32_t> ports;      // the speakers' level on each port
    std::map<std::string, bool> portSwitches;  // and their switch
};

}  // namespace zel::testing
