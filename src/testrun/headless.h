#pragma once

// The trial cycle without a display, for the stimulus tool and the benchmarks: the controls
// accept every change and show nothing; notices are kept for the caller; there is no About box
// and nothing to end.

#include <string>
#include <vector>

#include "testrun/program_shell.h"
#include "testrun/zelmain_window.h"

namespace zel {

class HeadlessWindow final : public ZelmainWindow {
  public:
    void SetButtonEnabled(CommandButton, bool) override {}
    void SetOptionEnabled(OptionGroup, int16_t, bool) override {}
    void SelectOption(OptionGroup, int16_t) override {}
    void SetLabelCaption(Label, const std::string&) override {}
    void SetFrame4Caption(const std::string&) override {}
    void RepaintLabel(Label) override {}
    void RepaintWindow() override {}
};

class HeadlessShell final : public ProgramShell {
  public:
    void ShowNotice(const std::string& message) override { notices.push_back(message); }
    void ShowAboutBox() override {}
    void EndProgram() override {}

    std::vector<std::string> notices;
};

}  // namespace zel
