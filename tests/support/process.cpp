#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace zel::testing {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create " + pattern);
    path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& changes,
                           const fs::path& out, const fs::path& err) {
    // Everything the child needs is prepared before the fork.
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    Environment environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            environment[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : changes) {
        if (value.empty()) {
            environment.erase(name);
        } else {
            environment[name] = value;
        }
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string outPath = out.string();
    const std::string errPath = err.string();
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ == -1) throw std::runtime_error("cannot fork");
    if (pid_ == 0) {
        // A crashed or killed test must not leave servers behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        setpgid(0, 0);
        const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (outFd < 0 || errFd < 0 || nullFd < 0) _exit(127);
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        // The test process may have blocked or caught signals; the child starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (!status_) Stop(std::chrono::milliseconds(0));
}

void ChildProcess::Signal(int signal) const {
    if (!status_) kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int raw = 0;
        const pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return status_;
        }
        if (done == -1) {
            status_ = -1;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int ChildProcess::Stop(std::chrono::milliseconds grace) {
    if (status_) return *status_;
    if (grace.count() > 0) {
        kill(pid_, SIGTERM);
        if (const auto status = Wait(grace)) return *status;
    }
    kill(pid_, SIGKILL);
    return Wait(std::chrono::seconds(10)).value_or(-1);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

Outcome RunProgram(const std::vector<std::string>& argv, const Environment& changes,
                   std::chrono::milliseconds timeout) {
    TemporaryFolder folder("zel-run");
    Outcome outcome;
    {
        ChildProcess child(argv, changes, folder.Path() / "out", folder.Path() / "err");
        const auto status = child.Wait(timeout);
        outcome.status = status ? *status : child.Stop();
        if (!status) outcome.err = "(did not end within the time allowed)\n";
    }
    outcome.out = ReadFile(folder.Path() / "out");
    outcome.err += ReadFile(folder.Path() / "err");
    return outcome;
}

}  // namespace zel::testing
