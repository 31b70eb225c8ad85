// The main window, the About box and the program around them; the screen in screen_test.cpp.

#include <unistd.h>

#include <QGroupBox>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "core/runtime_error.h"
#include "ui/about_box.h"
#include "ui/message_box_notices.h"
#include "ui/ui_fakes.h"

using namespace zel;
using zel::testing::WindowRig;

constexpr int kPatience = 20000;  // ms, for a loaded machine; a wait ends when its condition holds

// The window in one line: the 14 options ("on", "off" or each) and Start, Finish, First and
// Second on (+) or off (-); the status, trials and correct boxes.
static QString Seen(WindowRig& rig) {
    QString on;
    for (auto* b : rig.window.centralWidget()->findChildren<QAbstractButton*>())
        on += b->isEnabled() ? '+' : '-';
    const QString options =
        on.left(14).replace(QString(14, '+'), "on").replace(QString(14, '-'), "off");
    return QStringLiteral("%1 %2 [%3] [%4] [%5]")
        .arg(options, on.mid(14), rig.window.Caption(Label::lblStatus)->text(),
             rig.window.Caption(Label::lblTrialNumber)->text(),
             rig.window.Caption(Label::lblNumberCorrect)->text());
}

static void ClickOn(WindowRig& rig, const QString& caption) {
    for (auto* b : rig.window.findChildren<QAbstractButton*>())
        if (b->text() == caption) return QTest::mouseClick(b, Qt::LeftButton);
    QFAIL(qPrintable("no control " + caption));
}

// The captions of the controls that `count` presses of Tab land on.
static QString TabPath(WindowRig& rig, int count) {
    QStringList path;
    for (int i = 0; i < count; ++i) {
        QTest::keyClick(rig.window.focusWidget(), Qt::Key_Tab);
        path << static_cast<QAbstractButton*>(rig.window.focusWidget())->text();
    }
    return path.join('|');
}

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    // From a fresh start (target first, then second): Start, two answers, Finish, the other
    // format, Start, Finish; the window while each trial plays ("": none) and after. A press on
    // First while a trial plays waits behind the blocked event loop: it must not answer afterwards.
    void wholeRun() {
        const char* steps[][3] = {
            {"St&art", "off ---- [] [0] [0]", "off -+++ [Select higher] [0] [0]"},
            {"&First", "off ---- [Correct] [1] [1]", "off -+++ [Select higher] [1] [1]"},
            {"&First", "off ---- [Incorrect] [2] [1]", "off -+++ [Select higher] [2] [1]"},
            {"F&inish", "", "on +--- [] [2] [1]"},
            {"Frequency modulation ", "", "on +--- [] [2] [1]"},
            {"St&art", "off ---- [] [0] [0]", "off -+++ [Select modulated] [0] [0]"},
            {"F&inish", "", "on +--- [] [0] [0]"},
        };
        WindowRig rig;
        const auto* frame4 = rig.window.findChild<QGroupBox*>("Frame4");
        QCOMPARE(rig.window.centralWidget()->size(), QSize(413, 299));  // at 96 DPI
        QVERIFY(rig.window.Caption(Label::lblStatus)->font().bold());   // the verdict stands out
        QVERIFY(!rig.window.Caption(Label::lblTrialNumber)->font().bold());
        QCOMPARE(Seen(rig) + " " + frame4->title(), "on +--- [] [] [] Frequency difference");
        rig.random.Feed({0.75f, 0.25f, 0.5f});
        QStringList whilePlaying;
        rig.audio.onPlay = [&](int played) {
            whilePlaying << Seen(rig);
            for (auto type : {QEvent::KeyPress, QEvent::KeyRelease}) {
                if (played != 2) continue;
                QCoreApplication::postEvent(rig.window.Button(CommandButton::cmdResponseA),
                                            new QKeyEvent(type, Qt::Key_Space, Qt::NoModifier));
            }
        };
        for (auto [click, playing, after] : steps) {
            whilePlaying.clear();
            ClickOn(rig, click);
            QCoreApplication::processEvents();
            QCOMPARE(whilePlaying, QStringList(*playing ? 3 : 0, playing));
            QCOMPARE(Seen(rig), after);
        }
        QCOMPARE(frame4->title(), "Frequency modulation");
        for (auto* b : rig.window.findChildren<QAbstractButton*>())  // the format chosen is kept
            if (b->text().startsWith("Frequency "))
                QCOMPARE(b->isChecked(), b->text() == "Frequency modulation ");
    }

    // An access key clicks its button by a timer; that of a button that is off does nothing.
    // Those go just before a key that acts, whose click would come after theirs.
    void accessKeys() {
        WindowRig rig;  // every target second: the draws are 0
        const auto alt = [&](Qt::Key key) { QTest::keyClick(&rig.window, key, Qt::AltModifier); };
        for (Qt::Key key : {Qt::Key_I, Qt::Key_S, Qt::Key_A}) alt(key);
        QTRY_COMPARE_WITH_TIMEOUT(rig.audio.played.size(), 3u, kPatience);
        for (Qt::Key key : {Qt::Key_A, Qt::Key_S}) alt(key);
        QTRY_COMPARE_WITH_TIMEOUT(rig.audio.played.size(), 6u, kPatience);
        QCOMPARE(Seen(rig), "off -+++ [Select higher] [1] [1]");
        alt(Qt::Key_I);
        QTRY_COMPARE_WITH_TIMEOUT(Seen(rig), "on +--- [] [1] [1]", kPatience);
    }

    // Tab goes round the enabled controls in order, from Start; an option group is one stop, on
    // its selected member however selected; an arrow moves within it. Handlers get the Index.
    void tabOrder() {
        WindowRig rig;
        QCOMPARE(TabPath(rig, 6), "1000 Hz|5.0%|Frequency difference |St&art|1000 Hz|5.0%");
        QTest::keyClick(rig.window.focusWidget(), Qt::Key_Left);
        ClickOn(rig, "4000 Hz");
        QCOMPARE(rig.logic.Settings().StepIndex, 5);
        QCOMPARE(rig.logic.Settings().FrequencyIndex, 3);
        rig.window.SelectOption(OptionGroup::optTestFormat, 1);
        QCOMPARE(TabPath(rig, 4), "2.0%|Frequency modulation |St&art|4000 Hz");
        rig.Click(CommandButton::cmdStart);
        rig.window.Button(CommandButton::cmdResponseA)->setFocus();
        QCOMPARE(TabPath(rig, 4), "F&inish|&Second|&First|F&inish");
    }

    // Whichever way the end is asked for first, the mixer is written back once, the status is 0,
    // and the other ways do nothing after it. A write-back that could not put everything back
    // ends with status 1, told in a box unless a signal ended it (nobody may be there to answer).
    void waysOut() {
        for (const bool failing : {false, true}) {
            for (const QString first : {"close box", "File > Exit", "exit signal"}) {
                WindowRig rig;
                testing::ModalWatcher watcher;
                if (failing) rig.audio.writeBackProblems = {"could not put back X"};
                int fds[2];
                QCOMPARE(::pipe(fds), 0);
                rig.window.WatchExitSignal(fds[0]);
                const auto leave = [&](const QString& way) {
                    if (way == "close box") rig.window.close();
                    if (way == "File > Exit")
                        rig.window.findChild<QAction*>("mnuFileExit")->trigger();
                    if (way == "exit signal") QCOMPARE(::write(fds[1], "x", 1), 1);
                };
                leave(first);
                QTRY_COMPARE_WITH_TIMEOUT(rig.ends, std::vector<int>{failing}, kPatience);
                for (auto way : {"exit signal", "File > Exit", "close box"}) leave(way);
                QCoreApplication::processEvents();
                QCOMPARE(rig.audio.restores, 1);
                QCOMPARE(rig.ends, std::vector<int>{failing});
                QCOMPARE(watcher.shown.size(), failing && first != "exit signal" ? 1 : 0);
                ::close(fds[0]), ::close(fds[1]);
            }
        }
    }

    // A level far out of range overflows in PlaySamples; a handler outside the window's routing
    // fails through the application's notify. Nothing is written back or ended before OK.
    void runTimeError() {
        for (const QString line : {"Overflow in PlaySamples", "Overflow in SomeHandler"}) {
            WindowRig rig;
            static_cast<ui::ZelApplication*>(qApp)->SetErrorReport(&rig.report);
            testing::ModalWatcher watcher([&](QWidget* box) {
                const int doneBefore = rig.audio.restores + int(rig.ends.size());
                return testing::Answer(box) + " | " + QString::number(doneBefore);
            });
            rig.random.Feed({0.5f, -2.0f});
            if (line.endsWith("PlaySamples")) rig.Click(CommandButton::cmdStart);
            const auto fail = [] { throw RuntimeError(ErrorKind::Overflow, "SomeHandler"); };
            if (line.endsWith("SomeHandler"))
                QMetaObject::invokeMethod(qApp, fail, Qt::QueuedConnection);
            QCoreApplication::processEvents();
            static_cast<ui::ZelApplication*>(qApp)->SetErrorReport(nullptr);
            QCOMPARE(watcher.shown,
                     QStringList{"Zel_test | " + line + " | icon 3 | buttons 1024 | 0"});
            QCOMPARE(QString::fromStdString(rig.log.str()), "zel-test: " + line + "\n");
            QCOMPARE(rig.ends, std::vector<int>{1});
            QCOMPARE(rig.audio.restores, 1);
        }
    }

    void notices() {
        testing::ModalWatcher watcher;
        ui::MessageBoxNotices notices;
        notices.ShowInformation("", "m");  // the audio's notices have no title of their own
        notices.ShowCritical("m");
        QCOMPARE(watcher.shown, QStringList({"Zel_test | m | icon 1 | buttons 1024",
                                             "Zel_test | m | icon 3 | buttons 1024"}));
    }

    // Help > About twice, closed by Esc and by Enter on OK, which has the focus.
    void shownAndClosed() {
        WindowRig rig;
        QList<Qt::Key> keys{Qt::Key_Escape, Qt::Key_Return};
        testing::ModalWatcher watcher([&](QWidget* box) {
            const QString seen = box->windowTitle() + '|' + box->focusWidget()->objectName() + '|' +
                                 box->findChild<QLabel*>("lblTitle")->text() + '|' +
                                 box->findChild<QLabel*>("lblVersion")->text();
            QTest::keyClick(box->findChild<QPushButton*>("cmdOK"), keys.takeFirst());
            return seen + (box->isHidden() ? "" : "|left open");
        });
        for (int i = 0; i < 2; ++i) rig.window.findChild<QAction*>("mnuHelpAbout")->trigger();
        QCOMPARE(watcher.shown, QStringList(2, "About Zel_test|cmdOK|Zel_test|Version 1.0.0"));
    }

    // The first known program on PATH by the list's order, then PATH's; not in the current folder
    // (A). A has a hardinfo that is no program and a kinfocenter, B a gnome-system-monitor, C a
    // kinfocenter; L's hardinfo fills the value's 1024 bytes with its zero, MM's one more. All
    // are empty, so fail to start, but T's (/bin/true): the message comes once or not at all.
    void lookUpAndStart() {
        QTemporaryDir root;
        QString base = root.path();  // deepened until base/L/hardinfo has 1023 characters
        while (base.size() < 812) base += '/' + QString(99, 'x');
        base += '/' + QString(1011 - base.size(), 'x');
        const auto at = [&](const QString& entry) {  // L and MM are below base
            if (entry.isEmpty()) return entry;
            return (entry.startsWith('L') || entry.startsWith('M') ? base : root.path()) + '/' +
                   entry;
        };
        for (QString file : {"A/hardinfo", "A/kinfocenter", "B/gnome-system-monitor",
                             "C/kinfocenter", "L/hardinfo", "MM/hardinfo"}) {
            QFile program(at(file));
            QVERIFY(QDir().mkpath(QFileInfo(program).path()) && program.open(QIODevice::WriteOnly));
            QVERIFY(program.setPermissions(
                file == "A/hardinfo" ? QFile::ReadOwner : QFile::ReadOwner | QFile::ExeOwner));
        }
        QVERIFY(QDir().mkpath(at("T")) && QFile::link("/bin/true", at("T/hardinfo")));
        const auto restore = qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
        QVERIFY(QDir::setCurrent(at("A")));
        for (const QString row :
             {"B:C:A>C/kinfocenter", "B:A:C>A/kinfocenter", "B>B/gnome-system-monitor", "::>",
              "L>L/hardinfo", "MM>", "T>T/hardinfo"}) {
            const QString found = row.section('>', 1);
            QStringList path;
            for (const QString& entry : row.section('>', 0, 0).split(':')) path << at(entry);
            ui::PathRegistry registry(path.join(':').toStdString());
            ui::DetachedLauncher launcher;
            ui::AboutBox about(registry, launcher, ui::TwipsScale(96, 96));
            std::string value = "was";
            QCOMPARE(about.GetKeyValue(ui::kHkeyLocalMachine, ui::kSysInfoKey, "PATH", value),
                     !found.isEmpty());
            QCOMPARE(QString::fromStdString(value), at(found));
            testing::ModalWatcher watcher;
            about.findChild<QPushButton*>("cmdSysInfo")->click();
            QCOMPARE(watcher.shown, QStringList(row.startsWith('T') ? 0 : 1,
                                                "Zel_test | " + QString(ui::kSysInfoUnavailable) +
                                                    " | icon 0 | buttons 1024"));
        }
    }

    // A number in the settings is read as a signed one (least significant byte first); a program
    // found in the first place that does not start is not looked for in the second; a hidden
    // file is no program.
    void numbersSecondPlaceAndHiddenFiles() {
        struct Registry final : ui::Registry {
            int32_t OpenKey(int32_t, const std::string&, uint32_t, ui::RegistryKey& k) override {
                k = ++opened;
                return ui::kRegSuccess;
            }
            int32_t QueryValue(ui::RegistryKey, const std::string& name, int32_t& type,
                               std::span<uint8_t> buffer, int32_t& size) override {
                const std::string value =
                    name == "PATH" ? std::string("/first") + '\0' : std::string(4, '\xFE');
                std::copy(value.begin(), value.end(), buffer.begin());
                size = static_cast<int32_t>(value.size());
                type = name == "PATH" ? ui::kRegSz : ui::kRegDword;
                return ui::kRegSuccess;
            }
            void CloseKey(ui::RegistryKey) override {}
            int opened = 0;
        } registry;
        struct Launcher final : ui::ProgramLauncher {
            bool IsOrdinaryFile(const std::string& path) override {
                return asked.push_back(path), true;
            }
            bool Start(const std::string& path) override { return asked.push_back(path), false; }
            std::vector<std::string> asked;
        } launcher;
        ui::AboutBox about(registry, launcher, ui::TwipsScale(96, 96));
        std::string value;
        QVERIFY(about.GetKeyValue(ui::kHkeyLocalMachine, "any", "MSINFO", value));
        QCOMPARE(value, "-16843010");
        testing::ModalWatcher watcher;
        about.findChild<QPushButton*>("cmdSysInfo")->click();
        QCOMPARE(launcher.asked, std::vector<std::string>{"/first"});
        QCOMPARE(watcher.shown.size(), 1);
        QTemporaryDir folder;
        for (const QString name : {".hidden", "plain"})
            QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
        ui::DetachedLauncher real;
        QVERIFY(!real.IsOrdinaryFile(folder.filePath(".hidden").toStdString()));
        QVERIFY(real.IsOrdinaryFile(folder.filePath("plain").toStdString()));
        QVERIFY(!real.IsOrdinaryFile(folder.path().toStdString()));
    }
};

int main(int argc, char** argv) {
    zel::ui::ZelApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "zelmain_form_test.moc"
