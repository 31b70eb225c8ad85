#pragma once

// Fakes of the audio platform services. Each keeps what it was asked in one shared log, so a
// test sees the order of notices, mixer changes and plays, and each can fail at a chosen step.

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/platform/mixer_service.h"
#include "audio/platform/notice_presenter.h"
#include "audio/platform/output_device.h"
#include "audio/platform/profile_reader.h"
#include "audio/platform/sound_player.h"

namespace zel::testing {

using Log = std::vector<std::string>;

class FakeNoticePresenter final : public NoticePresenter {
  public:
    explicit FakeNoticePresenter(Log& log) : log_(log) {}
    void ShowInformation(const std::string& title, const std::string& message) override {
        log_.push_back("notice [" + title + "] " + message);
    }
    void ShowCritical(const std::string& message) override {
        log_.push_back("critical " + message);
    }

  private:
    Log& log_;
};

class FakeOutputDevice final : public OutputDevice {
  public:
    explicit FakeOutputDevice(Log& log) : log_(log) {}
    int32_t GetDevCaps(uint32_t deviceId, WaveOutCaps& caps) override {
        log_.push_back("caps " + std::to_string(deviceId));
        if (result == 0) caps.dwFormats = formats;
        return result;
    }

    int32_t result = 0;
    uint32_t formats = kWaveFormat2M16;

  private:
    Log& log_;
};

class FakeSoundPlayer final : public SoundPlayer {
  public:
    explicit FakeSoundPlayer(Log& log) : log_(log) {}
    int32_t Queue(const void* image, int32_t byteCount) override {
        log_.push_back("play " + std::to_string(byteCount));
        const auto* bytes = static_cast<const uint8_t*>(image);
        played.emplace_back(bytes, bytes + byteCount);
        return result;
    }
    int32_t Finish() override {
        log_.push_back("finish");
        return finished;
    }
    std::string Problem() const override { return problem; }
    PresentationReport LastPresentation() const override { return {}; }

    int32_t result = 1;
    int32_t finished = 1;
    std::string problem;
    std::vector<std::vector<uint8_t>> played;

  private:
    Log& log_;
};

// A mixer whose lines are a table; any operation can be made to fail, for every line or one.
class FakeMixerService final : public MixerService {
  public:
    enum class Op { Open, GetLineInfo, GetLineControl, GetControlValue, SetControlValue, Close };

    struct Line {
        int32_t level = 0;
        int32_t minimum = 0;
        int32_t maximum = 65535;
        bool hasVolume = true;
    };

    explicit FakeMixerService(Log& log) : log_(log) {}

    // All eight lines the program touches, each at a distinct level.
    void AddAllLines() {
        for (const uint32_t type :
             {component::kSynthesizer, component::kCompactDisc, component::kLine,
              component::kMicrophone, component::kMonitor, component::kTelephone,
              component::kSpeakers, component::kWaveOut}) {
            lines[type] = Line{static_cast<int32_t>(1000 + type)};
        }
    }

    // Makes `op` fail with `code`, for every line or only for `type`.
    void Fail(Op op, int32_t code, std::optional<uint32_t> type = std::nullopt) {
        failures_.push_back({op, code, type});
    }

    int32_t Open(MixerHandle& handle, uint32_t mixerId) override {
        if (const int32_t code = Failure(Op::Open, std::nullopt)) return code;
        if (mixerId != 0) return 2;  // the bad-device code of this fake
        handle = ++lastHandle_;
        open_[handle] = 0;
        return 0;
    }
    int32_t GetLineInfo(MixerHandle handle, uint32_t type, uint32_t& lineId) override {
        if (!open_.contains(handle)) return 5;
        open_[handle] = type;
        if (const int32_t code = Failure(Op::GetLineInfo, type)) return code;
        if (!lines.contains(type)) return 1024;
        lineId = type + 0x10000;
        return 0;
    }
    int32_t GetLineControl(MixerHandle handle, uint32_t lineId, uint32_t controlType,
                           MixerControl& control) override {
        const uint32_t type = lineId - 0x10000;
        if (!open_.contains(handle) || controlType != kVolumeControlType) return 5;
        if (const int32_t code = Failure(Op::GetLineControl, type)) return code;
        if (!lines.at(type).hasVolume) return 1025;
        control.dwControlID = type + 0x20000;
        control.lMinimum = lines.at(type).minimum;
        control.lMaximum = lines.at(type).maximum;
        return 0;
    }
    int32_t GetControlValue(MixerHandle handle, uint32_t controlId, uint32_t& value) override {
        const uint32_t type = controlId - 0x20000;
        if (!open_.contains(handle)) return 5;
        if (const int32_t code = Failure(Op::GetControlValue, type)) return code;
        std::memcpy(&value, &lines.at(type).level, sizeof value);
        log_.push_back("get " + std::to_string(type));
        return 0;
    }
    int32_t SetControlValue(MixerHandle handle, uint32_t controlId, uint32_t value) override {
        const uint32_t type = controlId - 0x20000;
        if (!open_.contains(handle)) return 5;
        if (const int32_t code = Failure(Op::SetControlValue, type)) return code;
        std::memcpy(&lines.at(type).level, &value, sizeof value);
        log_.push_back("set " + std::to_string(type) + " " + std::to_string(lines.at(type).level));
        return 0;
    }
    // A line has one channel here; failures follow those of the value's get and set.
    int32_t GetChannelLevels(MixerHandle handle, uint32_t controlId,
                             ChannelLevels& levels) override {
        uint32_t value = 0;
        const int32_t result = GetControlValue(handle, controlId, value);
        if (result == 0) levels = {lines.at(controlId - 0x20000).level};
        return result;
    }
    int32_t SetChannelLevels(MixerHandle handle, uint32_t controlId,
                             const ChannelLevels& levels) override {
        if (levels.size() != 1) return 6;
        return SetControlValue(handle, controlId, static_cast<uint32_t>(levels[0]));
    }
    int32_t Close(MixerHandle handle) override {
        if (!open_.contains(handle)) return 5;
        const uint32_t type = open_[handle];
        open_.erase(handle);
        return Failure(Op::Close, type);
    }

    std::size_t OpenHandles() const { return open_.size(); }

    std::map<uint32_t, Line> lines;

  private:
    struct Rule {
        Op op;
        int32_t code;
        std::optional<uint32_t> type;
    };
    int32_t Failure(Op op, std::optional<uint32_t> type) const {
        for (const auto& failure : failures_) {
            if (failure.op == op && (!failure.type || failure.type == type)) return failure.code;
        }
        return 0;
    }

    Log& log_;
    std::vector<Rule> failures_;
    std::map<MixerHandle, uint32_t> open_;  // handle -> the line it last looked up
    MixerHandle lastHandle_ = 0;
};

// A profile reader over an in-memory table of (section, key) -> value, names compared as they
// are given (the tests use the exact names); it records the arguments it was handed.
class FakeProfileReader final : public ProfileReader {
  public:
    int32_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, int32_t size, const char* path,
                                    std::string& problemOut) override {
        calls.push_back({section, key, defaultValue, path, size});
        problemOut = problem;
        const auto entry = values.find({section, key});
        std::string value =
            entry != values.end() && problem.empty() ? entry->second : std::string(defaultValue);
        value.resize(std::min<std::size_t>(value.size(), static_cast<std::size_t>(size) - 1));
        std::memcpy(buffer, value.c_str(), value.size() + 1);
        // A reader that miscounts, to see that the caller does not trust it blindly.
        return placedOverride.value_or(static_cast<int32_t>(value.size()));
    }

    struct Call {
        std::string section, key, defaultValue, path;
        int32_t size;
    };
    std::map<std::pair<std::string, std::string>, std::string> values;
    std::string problem;
    std::optional<int32_t> placedOverride;
    std::vector<Call> calls;
};

}  // namespace zel::testing
