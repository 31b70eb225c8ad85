#include "ui/message_box_notices.h"

#include <QMessageBox>

#include "ui/program_end.h"

namespace zel::ui {

namespace {

void Show(QMessageBox::Icon icon, const QString& title, const std::string& message) {
    QMessageBox box(icon, title, QString::fromStdString(message), QMessageBox::Ok);
    box.exec();
}

}  // namespace

void MessageBoxNotices::ShowInformation(const std::string& title, const std::string& message) {
    // The notices' title is empty; a box without a title would look orphaned.
    Show(QMessageBox::Information,
         title.empty() ? ApplicationTitle() : QString::fromStdString(title), message);
}

void MessageBoxNotices::ShowCritical(const std::string& message) {
    Show(QMessageBox::Critical, ApplicationTitle(), message);
}

}  // namespace zel::ui
