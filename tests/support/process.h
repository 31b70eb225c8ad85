#pragma once

// Starting helper programs for the tests: with an environment of their own, output into files,
// and killed when the test process dies.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zel::testing {

using Environment = std::map<std::string, std::string>;

// A fresh temporary folder, removed with everything in it when the object goes.
class TemporaryFolder {
  public:
    explicit TemporaryFolder(const std::string& prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

class ChildProcess {
  public:
    // Starts `argv` (argv[0] found on PATH) with the current environment changed by `changes`
    // (an empty value removes the variable), stdout and stderr into the given files. Throws
    // std::runtime_error when it cannot start.
    ChildProcess(const std::vector<std::string>& argv, const Environment& changes,
                 const std::filesystem::path& out, const std::filesystem::path& err);
    // Kills the process if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal) const;
    // The exit status (128+N when killed by signal N), or nothing if it did not end in time.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    // Asks politely, then kills; returns the status.
    int Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

std::string ReadFile(const std::filesystem::path& path);

// Runs a program to its end (at most `timeout`) and returns its status, stdout and stderr.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};
Outcome RunProgram(const std::vector<std::string>& argv, const Environment& changes,
                   std::chrono::milliseconds timeout = std::chrono::seconds(120));

}  // namespace zel::testing
