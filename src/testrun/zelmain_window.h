#pragma once

// What the trial cycle does to the main window's controls. The Qt window implements it; the tests
// record it. Every call takes effect at once; the repaint calls put the named part on screen
// before the (blocking) presentation goes on.

#include <cstdint>
#include <string>

namespace zel {

enum class CommandButton { cmdStart, cmdResponseA, cmdResponseB, cmdFinish };
enum class OptionGroup { optFrequency, optFrequencyDifference, optTestFormat };
enum class Label { lblStatus, lblNumberCorrect, lblTrialNumber };

class ZelmainWindow {
  public:
    virtual ~ZelmainWindow() = default;

    virtual void SetButtonEnabled(CommandButton button, bool enabled) = 0;
    // `index` is the member's Index within its group.
    virtual void SetOptionEnabled(OptionGroup group, int16_t index, bool enabled) = 0;
    // Checks that member (and so unchecks the others). Must not change the settings: if it runs
    // the group's click handler, that handler stores the current index again.
    virtual void SelectOption(OptionGroup group, int16_t index) = 0;
    virtual void SetLabelCaption(Label label, const std::string& text) = 0;
    virtual void SetFrame4Caption(const std::string& text) = 0;
    virtual void RepaintLabel(Label label) = 0;
    virtual void RepaintWindow() = 0;
};

}  // namespace zel
