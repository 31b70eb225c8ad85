#pragma once

// Starting another program for the About box, and the file test that comes before it.

#include <string>

namespace zel::ui {

class ProgramLauncher {
  public:
    virtual ~ProgramLauncher() = default;

    // An existing ordinary file, not hidden (its name does not begin with a dot).
    virtual bool IsOrdinaryFile(const std::string& path) = 0;
    // Starts the program at `path`, without arguments and without waiting for it; false when it
    // could not be started.
    virtual bool Start(const std::string& path) = 0;
};

// Starts programs directly, never through a shell, so nothing in the path is interpreted.
class DetachedLauncher final : public ProgramLauncher {
  public:
    bool IsOrdinaryFile(const std::string& path) override;
    bool Start(const std::string& path) override;
};

}  // namespace zel::ui
