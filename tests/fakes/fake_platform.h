#pragma once

// Fakes of the audio platform services. Notices and mixer changes go into one shared log, so a
// test sees their order; each fake can fail where the tests need it to.

#include <bit>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audio/platform/mixer_service.h"
#include "audio/platform/notice_presenter.h"
#include "audio/platform/output_device.h"
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

struct FakeOutputDevice final : OutputDevice {
    int32_t GetDevCaps(uint32_t, WaveOutCaps& caps) override {
        if (formats) caps.dwFormats = *formats;
        return formats ? 0 : -2;
    }
    std::optional<uint32_t> formats = kWaveFormat2M16;  // none: no device
};

// Keeps every image it is handed; a problem fails the presentation.
struct FakeSoundPlayer final : SoundPlayer {
    int32_t Queue(const void* image, int32_t byteCount) override {
        const auto* bytes = static_cast<const uint8_t*>(image);
        played.emplace_back(bytes, bytes + byteCount);
        return 1;
    }
    int32_t Finish() override { return problem.empty() ? 1 : 0; }
    std::string Problem() const override { return problem; }
    PresentationReport LastPresentation() const override { return {}; }
    std::string problem;
    std::vector<std::vector<uint8_t>> played;
};

// A mixer whose lines are named by their component type (line, control and value alike), each
// with one channel, at 1000 + its type until set. Logs "set TYPE LEVEL" for every level set.
struct FakeMixerService final : MixerService {
    enum class Op { Open, Line, Get, Set, Close };

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
    int32_t GetChannelLevels(MixerHandle, uint32_t id, ChannelLevels& channels) override {
        if (const int32_t code = failures[{Op::Get, id}]) return code;
        channels = {Level(id)};
        return 0;
    }
    int32_t SetChannelLevels(MixerHandle handle, uint32_t id,
                             const ChannelLevels& channels) override {
        return SetControlValue(handle, id, static_cast<uint32_t>(channels.at(0)));
    }
    int32_t Close(MixerHandle handle) override {
        const uint32_t type = open.at(handle);
        open.erase(handle);
        return failures[{Op::Close, type}];
    }

    // The code each step returns for a line (0 for Open); a line whose Line step fails is missing.
    std::map<std::pair<Op, uint32_t>, int32_t> failures;
    std::map<MixerHandle, uint32_t> open;  // handle -> the line it looked up

    int32_t& Level(uint32_t type) { return levels.try_emplace(type, 1000 + type).first->second; }

    Log& log;
    std::map<uint32_t, int32_t> levels;
};

}  // namespace zel::testing
