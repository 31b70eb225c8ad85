#pragma once

// Programs the tests start, through QProcess, whose waits need no event loop.

#include <signal.h>
#include <sys/prctl.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <functional>
#include <memory>
#include <string>

namespace zel::testing {

// A started program, killed when it goes.
struct Child : QProcess {
    ~Child() override {
        kill();
        waitForFinished();
    }
};

// Starts argv[0] (found on PATH) with stdout and stderr into the files named, or into pipes. A
// test that dies takes the child with it: a server left running would outlive its folder.
inline std::unique_ptr<Child> Start(const QStringList& argv, const QString& out = {},
                                    const QString& err = {}) {
    auto child = std::make_unique<Child>();
    child->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    if (!out.isEmpty()) child->setStandardOutputFile(out);
    if (!err.isEmpty()) child->setStandardErrorFile(err);
    child->start(argv.first(), argv.mid(1));
    return child;
}

// The status as a shell gives it (128+N: ended by signal N); -1 when not started, or not ended
// within 30 s.
inline int Status(QProcess& child) {
    if (child.state() != QProcess::NotRunning && !child.waitForFinished(30'000)) return -1;
    if (child.error() == QProcess::FailedToStart) return -1;
    return child.exitCode() + (child.exitStatus() == QProcess::CrashExit ? 128 : 0);
}

struct Outcome {
    int status;
    std::string out, err;
};
inline Outcome Run(const QStringList& argv) {
    const auto child = Start(argv);
    const int status = Status(*child);
    return {status, child->readAllStandardOutput().toStdString(),
            child->readAllStandardError().toStdString()};
}

inline std::string ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "";
}

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Polls `ready` until it holds; false when it does not within 30 s.
inline bool WaitFor(const std::function<bool()>& ready) {
    for (const QDeadlineTimer deadline(30'000); !ready(); QThread::msleep(10))
        if (deadline.hasExpired()) return false;
    return true;
}

}  // namespace zel::testing
