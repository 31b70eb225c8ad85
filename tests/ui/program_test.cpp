// The ways the program ends: the close box, the exit signal, and the report of a run-time error
// that escapes a handler; and the message boxes that carry the sound code's notices.

#include <unistd.h>

#include <QMessageBox>
#include <QtTest>

#include "core/runtime_error.h"
#include "ui/message_box_notices.h"
#include "ui/ui_fakes.h"

using namespace zel;
using zel::testing::ModalWatcher;
using zel::testing::WindowRig;

namespace {

// An object whose every event handler fails, as a handler outside the window's routing might.
class FailingObject final : public QObject {
  protected:
    bool event(QEvent*) override { throw RuntimeError(ErrorKind::Overflow, "SomeHandler"); }
};

QString Describe(QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (!box) return "not a message box";
    return QStringLiteral("%1 | %2 | icon %3 | %4")
        .arg(box->windowTitle(), box->text())
        .arg(box->icon())
        .arg(box->standardButtons() == QMessageBox::Ok ? "OK only" : "other buttons");
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { rig_ = std::make_unique<WindowRig>(); }
    void cleanup() { rig_.reset(); }

    // However the end is asked for, the mixer is written back once and the status is 0; after
    // it no handler runs.
    void closeBoxAndExitSignalLeaveLikeExit_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("close box") << "close";
        QTest::newRow("File > Exit") << "exit";
        QTest::newRow("exit signal") << "signal";
    }
    void closeBoxAndExitSignalLeaveLikeExit() {
        QFETCH(QString, way);
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        rig_->window.WatchExitSignal(fds[0]);
        if (way == "close") {
            QVERIFY(rig_->window.close());
        } else if (way == "exit") {
            rig_->window.findChild<QAction*>("mnuFileExit")->trigger();
        } else {
            QCOMPARE(::write(fds[1], "x", 1), 1);
        }
        QTRY_COMPARE(rig_->ends, std::vector<int>{0});
        // Every other way out, after the first, changes nothing.
        QCOMPARE(::write(fds[1], "x", 1), 1);
        rig_->window.findChild<QAction*>("mnuFileExit")->trigger();
        rig_->window.close();
        QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(rig_->audio.restores, 1);
        QCOMPARE(rig_->ends, std::vector<int>{0});
        QCOMPARE(rig_->audio.played, 0);
        ::close(fds[0]);
        ::close(fds[1]);
    }

    // A level draw far out of range overflows in PlaySamples; an event handler outside the
    // window's routing fails through the application's notify.
    void runTimeErrorIsReported_data() {
        QTest::addColumn<bool>("throughNotify");
        QTest::addColumn<QString>("line");
        QTest::newRow("handler") << false << "Overflow in PlaySamples";
        QTest::newRow("notify") << true << "Overflow in SomeHandler";
    }
    void runTimeErrorIsReported() {
        QFETCH(bool, throughNotify);
        QFETCH(QString, line);
        auto* app = static_cast<ui::ZelApplication*>(qApp);
        app->SetErrorReport(&rig_->report);
        QStringList shown;
        ModalWatcher watcher([&](QWidget* box) {
            shown << Describe(box);
            // Nothing is written back or ended before the box is dismissed.
            QCOMPARE(rig_->audio.restores, 0);
            QVERIFY(rig_->ends.empty());
            testing::PressIn(box, Qt::Key_Return);
        });
        if (throughNotify) {
            FailingObject failing;
            QEvent event(QEvent::User);
            QCoreApplication::sendEvent(&failing, &event);
        } else {
            rig_->random.Feed({0.5f, -2.0f, 0.5f});
            QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        }
        app->SetErrorReport(nullptr);
        QCOMPARE(shown, QStringList{"Zel_test | " + line + " | icon 3 | OK only"});
        QCOMPARE(QString::fromStdString(rig_->log.str()), "zel-test: " + line + "\n");
        QCOMPARE(rig_->audio.restores, 1);
        QCOMPARE(rig_->ends, std::vector<int>{1});
        // The close box afterwards writes nothing back again.
        rig_->window.close();
        QCOMPARE(rig_->audio.restores, 1);
    }

    void notices_data() {
        QTest::addColumn<bool>("critical");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("seen");
        QTest::newRow("information, empty title") << false << ""
                                                  << "Zel_test | m | icon 1 | OK only";
        QTest::newRow("information, titled") << false << "Sound"
                                             << "Sound | m | icon 1 | OK only";
        QTest::newRow("critical") << true << ""
                                  << "Zel_test | m | icon 3 | OK only";
    }
    void notices() {
        QFETCH(bool, critical);
        QFETCH(QString, title);
        QFETCH(QString, seen);
        QStringList shown;
        ModalWatcher watcher([&](QWidget* box) {
            shown << Describe(box);
            testing::PressIn(box, Qt::Key_Return);
        });
        ui::MessageBoxNotices notices;
        if (critical) {
            notices.ShowCritical("m");
        } else {
            notices.ShowInformation(title.toStdString(), "m");
        }
        QCOMPARE(shown, QStringList{seen});
    }

  private:
    std::unique_ptr<WindowRig> rig_;
};

int main(int argc, char** argv) {
    zel::ui::ZelApplication app(argc, argv);
    ProgramTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "program_test.moc"
