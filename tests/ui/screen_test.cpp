// The window on a real X server (Xvfb; ctest starts it through xvfb-run). It checks what another
// X client sees while a trial plays, since the presentation blocks the event loop and only the
// window's explicit repaints reach the screen meanwhile; and it gives the window real clicks and
// keys (xdotool) while a trial plays. With ZEL_SCREENSHOTS=DIR it saves the README's pictures.
//
// `screen_test --grab FILE` is the other X client: it saves the whole screen to FILE.

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include "ui/ui_fakes.h"

using namespace zel;
using zel::testing::ModalWatcher;
using zel::testing::WindowRig;

namespace {

// The screen as a separate X client sees it: only what this one has really sent to the server.
QImage ScreenFromAnotherClient() {
    QTemporaryDir dir;
    const QString file = dir.filePath("screen.png");
    const int status = QProcess::execute(QCoreApplication::applicationFilePath(), {"--grab", file});
    return status == 0 ? QImage(file).convertToFormat(QImage::Format_RGB32) : QImage();
}

QImage OnScreen(QWidget& widget) {
    return ScreenFromAnotherClient().copy(QRect(widget.mapToGlobal(QPoint()), widget.size()));
}

QImage Rendered(QWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool Xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

bool ClickWithTheMouse(QWidget* widget) {
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    return Xdotool(
        {"mousemove", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
}

}  // namespace

class ScreenTest : public QObject {
    Q_OBJECT

  private slots:
    void init() {
        rig_ = std::make_unique<WindowRig>();
        // No window manager runs to give the new window the focus: take it.
        QVERIFY(QTest::qWaitForWindowExposed(&rig_->window));
        rig_->window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig_->window));
    }
    void cleanup() { rig_.reset(); }

    // At the first tone of each trial the screen shows exactly the window's current state: the
    // counts, the verdict of the last answer and every button that is off.
    void whatPlaysIsOnScreen() {
        QList<QImage> onScreen, rendered;
        QStringList status;
        rig_->audio.onPlay = [&](int played) {
            if (played % 3 != 1) return;
            onScreen << OnScreen(rig_->window);
            rendered << Rendered(rig_->window);
            status << rig_->window.Caption(Label::lblStatus)->text();
        };
        rig_->random.Feed({0.75f, 0.25f, 0.5f});  // target first
        QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        QTest::mouseClick(rig_->Button(CommandButton::cmdResponseA), Qt::LeftButton);
        QTest::mouseClick(rig_->Button(CommandButton::cmdResponseA), Qt::LeftButton);
        QCOMPARE(status, QStringList({"", "Correct", "Incorrect"}));
        for (int i = 0; i < rendered.size(); ++i) {
            if (onScreen[i] != rendered[i]) {
                const QString saved = QDir::temp().filePath(QStringLiteral("zel-screen-%1").arg(i));
                onScreen[i].save(saved + "-seen.png");
                rendered[i].save(saved + "-expected.png");
                QFAIL(qPrintable("trial " + QString::number(i + 1) +
                                 ": the screen differs from the window; see " + saved + "-*.png"));
            }
        }
    }

    // Real clicks and keys given while a trial plays are dropped; the same click afterwards
    // answers.
    void inputGivenWhilePlayingIsDropped() {
        QPushButton* first = rig_->Button(CommandButton::cmdResponseA);
        bool given = false;
        rig_->audio.onPlay = [&](int played) {
            if (played != 2) return;
            given = ClickWithTheMouse(first) && Xdotool({"key", "alt+s"});
            // The rest of a real presentation: time for the events to reach this client.
            QThread::msleep(200);
        };
        QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        QVERIFY(given);
        QTest::qWait(500);
        QCOMPARE(int(rig_->logic.Settings().TrialsCompleted), 0);
        QCOMPARE(rig_->audio.played, 3);

        rig_->audio.onPlay = nullptr;
        QVERIFY(ClickWithTheMouse(first));
        QTRY_COMPARE(int(rig_->logic.Settings().TrialsCompleted), 1);
        QCOMPARE(rig_->audio.played, 6);
    }

    void screenshots() {
        const QString dir = qEnvironmentVariable("ZEL_SCREENSHOTS");
        if (dir.isEmpty()) QSKIP("ZEL_SCREENSHOTS names no folder");
        const auto save = [&](QWidget& widget, const char* name) {
            const QImage image = OnScreen(widget);
            QVERIFY(!image.isNull());
            QVERIFY(image.save(QDir(dir).filePath(name)));
        };
        save(rig_->window, "zel-test-idle.png");
        rig_->random.Feed({0.75f, 0.25f, 0.5f, 0.5f, 0.5f, 0.5f});
        QTest::mouseClick(rig_->Button(CommandButton::cmdStart), Qt::LeftButton);
        QTest::mouseClick(rig_->Button(CommandButton::cmdResponseA), Qt::LeftButton);
        QTest::mouseClick(rig_->Button(CommandButton::cmdResponseA), Qt::LeftButton);
        QTest::qWait(100);
        save(rig_->window, "zel-test-awaiting.png");
        ModalWatcher watcher([&](QWidget* box) {
            QTest::qWait(100);
            save(*box, "zel-test-about.png");
            testing::PressIn(box, Qt::Key_Escape);
        });
        rig_->window.findChild<QAction*>("mnuHelpAbout")->trigger();
        QCOMPARE(watcher.seen, 1);
    }

  private:
    std::unique_ptr<WindowRig> rig_;
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--grab") == 0) {
        QGuiApplication app(argc, argv);
        return QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[2]))
                   ? 0
                   : 1;
    }
    zel::ui::ZelApplication app(argc, argv);
    ScreenTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "screen_test.moc"
