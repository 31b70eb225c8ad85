#include "ui/program_launcher.h"

#include <QProcess>
#include <filesystem>

namespace zel::ui {

bool DetachedLauncher::IsOrdinaryFile(const std::string& path) {
    const std::filesystem::path file(path);
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) &&
           !file.filename().string().starts_with('.');
}

bool DetachedLauncher::Start(const std::string& path) {
    // A path holding a zero byte would be cut short at it by the system: refuse it whole.
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    return QProcess::startDetached(QString::fromLocal8Bit(path), {});
}

}  // namespace zel::ui
