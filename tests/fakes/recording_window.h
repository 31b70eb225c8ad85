#pragma once

// A window that keeps the state the trial cycle gives its controls and logs every call, so tests
// can check both where the controls end up and what was on screen when.

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "testrun/zelmain_window.h"

namespace zel::testing {

class RecordingWindow final : public ZelmainWindow {
  public:
    // Captions and selection as the window opens.
    RecordingWindow() {
        selected[OptionGroup::optFrequency] = 1;
        selected[OptionGroup::optFrequencyDifference] = 6;
        selected[OptionGroup::optTestFormat] = 0;
        frame4 = "Frequency difference";
        for (auto group : {OptionGroup::optFrequency, OptionGroup::optFrequencyDifference,
                           OptionGroup::optTestFormat}) {
            for (int16_t i = 0; i < MemberCount(group); ++i) optionEnabled[{group, i}] = true;
        }
    }

    static int16_t MemberCount(OptionGroup group) {
        return group == OptionGroup::optFrequency             ? 5
               : group == OptionGroup::optFrequencyDifference ? 7
                                                              : 2;
    }

    void SetButtonEnabled(CommandButton button, bool enabled) override {
        buttonEnabled[button] = enabled;
        log.push_back(std::string(enabled ? "enable " : "disable ") + Name(button));
    }
    void SetOptionEnabled(OptionGroup group, int16_t index, bool enabled) override {
        optionEnabled[{group, index}] = enabled;
    }
    void SelectOption(OptionGroup group, int16_t index) override {
        // A disabled option button cannot be selected.
        if (!optionEnabled[{group, index}]) log.push_back("selected a disabled member");
        selected[group] = index;
    }
    void SetLabelCaption(Label label, const std::string& text) override {
        captions[label] = text;
        log.push_back("set " + Name(label) + "=" + text);
    }
    void SetFrame4Caption(const std::string& text) override { frame4 = text; }
    void RepaintLabel(Label label) override {
        log.push_back("paint " + Name(label) + "=" + captions[label]);
    }
    void RepaintWindow() override { log.push_back("paint window"); }

    bool AllOptionsEnabled(bool enabled) const {
        for (const auto& [member, state] : optionEnabled) {
            if (state != enabled) return false;
        }
        return optionEnabled.size() == 14;
    }

    static std::string Name(CommandButton button) {
        static const std::array<const char*, 4> names{"cmdStart", "cmdResponseA", "cmdResponseB",
                                                      "cmdFinish"};
        return names.at(static_cast<std::size_t>(button));
    }
    static std::string Name(Label label) {
        static const std::array<const char*, 3> names{"lblStatus", "lblNumberCorrect",
                                                      "lblTrialNumber"};
        return names.at(static_cast<std::size_t>(label));
    }

    std::map<CommandButton, bool> buttonEnabled;
    std::map<std::pair<OptionGroup, int16_t>, bool> optionEnabled;
    std::map<OptionGroup, int16_t> selected;
    std::map<Label, std::string> captions;
    std::string frame4;
    std::vector<std::string> log;
};

}  // namespace zel::testing
