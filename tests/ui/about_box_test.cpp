// The About box: what it shows at every showing, how it closes, and how System Info finds and
// starts the system's information program through the registry.

#include "ui/about_box.h"

#include <sys/stat.h>

#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "core/runtime_error.h"
#include "ui/path_registry.h"
#include "ui/ui_fakes.h"

using namespace zel;
using zel::testing::FakeLauncher;
using zel::testing::FakeRegistry;
using zel::testing::ModalWatcher;
using zel::testing::WindowRig;

Q_DECLARE_METATYPE(std::string)

namespace {

constexpr const char* kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values) bytes += static_cast<char>(v);
    return bytes;
}

void MakeFile(const QString& path, bool executable) {
    std::ofstream(path.toStdString()) << "#!/bin/sh\n";
    ::chmod(path.toLocal8Bit().constData(), executable ? 0755 : 0644);
}

}  // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

  private slots:
    // Help > About, twice in a row, closed by Esc or by Enter on OK.
    void shownTwiceWithTheSameTexts_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Esc") << int(Qt::Key_Escape);
        QTest::newRow("Enter on OK") << int(Qt::Key_Return);
    }
    void shownTwiceWithTheSameTexts() {
        QFETCH(int, key);
        WindowRig rig;
        QStringList seen;
        ModalWatcher watcher([&](QWidget* box) {
            seen << box->objectName() + " | " + box->windowTitle() + " | " +
                        box->findChild<QLabel*>("lblTitle")->text() + " | " +
                        box->findChild<QLabel*>("lblVersion")->text() + " | focus " +
                        QApplication::focusWidget()->objectName();
            testing::PressIn(box, static_cast<Qt::Key>(key));
            QVERIFY(!box->isVisible());
        });
        auto* about = rig.window.findChild<QAction*>("mnuHelpAbout");
        about->trigger();
        about->trigger();
        const QString expected =
            "frmAbout | About Zel_test | Zel_test | Version 1.0.0 | focus cmdOK";
        QCOMPARE(seen, QStringList({expected, expected}));
    }

    // Every way a value can come back. Found: 1 yes, 0 no, -1 a run-time error.
    void getKeyValue_data() {
        QTest::addColumn<int>("type");  // 0: the key holds no such value
        QTest::addColumn<std::string>("bytes");
        QTest::addColumn<bool>("openFails");  // as it does for a user who may not write
        QTest::addColumn<int>("found");
        QTest::addColumn<std::string>("keyVal");
        const std::string longText(1023, 'x');
        const std::string tool("/bin/tool");
        QTest::newRow("text with its zero") << 1 << tool + '\0' << false << 1 << tool;
        QTest::newRow("text without") << 1 << tool << false << 1 << tool;
        QTest::newRow("zeros inside stay")
            << 1 << std::string("a\0b\0\0", 5) << false << 1 << std::string("a\0b\0", 4);
        QTest::newRow("1024 bytes") << 1 << longText + '\0' << false << 1 << longText;
        QTest::newRow("1025 bytes") << 1 << longText + "xx" << false << 0 << std::string();
        QTest::newRow("number 261") << 4 << Bytes({5, 1, 0, 0}) << false << 1 << std::string("261");
        QTest::newRow("number with top bit")
            << 4 << Bytes({0xfe, 0xff, 0xff, 0xff}) << false << 1 << std::string("-2");
        QTest::newRow("type 2 leaves it") << 2 << tool + '\0' << false << 1 << std::string("was");
        QTest::newRow("size 0") << 1 << std::string() << false << -1 << std::string("was");
        QTest::newRow("no such value") << 0 << std::string() << false << 0 << std::string();
        QTest::newRow("failed open") << 1 << tool << true << 0 << std::string();
    }
    void getKeyValue() {
        QFETCH(int, type);
        QFETCH(std::string, bytes);
        QFETCH(bool, openFails);
        QFETCH(int, found);
        QFETCH(std::string, keyVal);
        FakeRegistry registry;
        if (type != 0) registry.Set(kPathKey, "PATH", {type, bytes});
        if (openFails) registry.FailOpens(ui::kRegAccessDenied);
        FakeLauncher launcher;
        ui::AboutBox box(registry, launcher, ui::TwipsScale(96, 96));
        std::string value = "was";
        if (found < 0) {
            QVERIFY_THROWS_EXCEPTION(
                RuntimeError, box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "path", value));
        } else {
            QCOMPARE(box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "path", value), found == 1);
        }
        QCOMPARE(value, keyVal);
        QCOMPARE(registry.lastAccess, 0x2003Fu);
        QCOMPARE(registry.openKeys, 0);  // closed on every way out
    }

    void startSysInfo_data() {
        QTest::addColumn<int>("pathType");  // 0: no PATH value
        QTest::addColumn<std::string>("pathValue");
        QTest::addColumn<bool>("locationKey");  // holds "C:\Tools"
        QTest::addColumn<bool>("fileThere");    // C:\Tools\MSINFO32.EXE
        QTest::addColumn<QStringList>("tried");
        QTest::addColumn<bool>("message");
        const QString located = "C:\\Tools\\MSINFO32.EXE";
        QTest::newRow("PATH starts") << 1 << std::string("/bin/info\0", 10) << true << true
                                     << QStringList{"/bin/info"} << false;
        QTest::newRow("PATH fails to start, second key not asked")
            << 1 << std::string("/gone\0", 6) << true << true << QStringList{"/gone"} << true;
        QTest::newRow("PATH of type 2 starts an empty path")
            << 2 << std::string("%x%\0", 4) << true << true << QStringList{""} << true;
        QTest::newRow("PATH of no bytes")
            << 1 << std::string() << true << true << QStringList{} << true;
        QTest::newRow("folder with the program")
            << 0 << std::string() << true << true << QStringList{located} << false;
        QTest::newRow("folder without it")
            << 0 << std::string() << true << false << QStringList{} << true;
        QTest::newRow("nothing") << 0 << std::string() << false << false << QStringList{} << true;
    }
    void startSysInfo() {
        QFETCH(int, pathType);
        QFETCH(std::string, pathValue);
        QFETCH(bool, locationKey);
        QFETCH(bool, fileThere);
        QFETCH(QStringList, tried);
        QFETCH(bool, message);
        FakeRegistry registry;
        if (pathType != 0) registry.Set(kPathKey, "PATH", {pathType, pathValue});
        if (locationKey) registry.Set(kLocationKey, "MSINFO", {1, std::string("C:\\Tools\0", 9)});
        FakeLauncher launcher;
        launcher.startable = {"/bin/info", "C:\\Tools\\MSINFO32.EXE"};
        if (fileThere) launcher.files = {"C:\\Tools\\MSINFO32.EXE"};
        ui::AboutBox box(registry, launcher, ui::TwipsScale(96, 96));

        QString shown;
        ModalWatcher watcher([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            shown = box->windowTitle() + " | " + box->text();
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QCOMPARE(box->standardButtons(), QMessageBox::Ok);
            testing::PressIn(box, Qt::Key_Return);
        });
        box.StartSysInfo();
        QStringList started;
        for (const std::string& path : launcher.tried) started << QString::fromStdString(path);
        QCOMPARE(started, tried);
        QCOMPARE(shown, message ? "Zel_test | System Information Is Unavailable At This Time" : "");
        // The second key is asked only when PATH is missing.
        QCOMPARE(registry.opened.size(), pathType == 0 ? std::size_t{2} : std::size_t{1});
    }

    // This system's registry: the first known program found on PATH, with its terminating zero.
    void pathRegistry() {
        QTemporaryDir bin, other;
        MakeFile(bin.filePath("hardinfo"), false);  // not a program
        MakeFile(bin.filePath("kinfocenter"), true);
        MakeFile(other.filePath("gnome-system-monitor"), true);
        const auto lookUp = [](const QString& path, const char* key) {
            ui::PathRegistry registry(path.toStdString());
            FakeLauncher launcher;
            std::string value = "none";
            ui::AboutBox(registry, launcher, ui::TwipsScale(96, 96))
                .GetKeyValue(ui::kHkeyLocalMachine, key, "Path", value);
            return QString::fromStdString(value);
        };
        // Earlier in the list beats earlier on PATH; names ignore case.
        QCOMPARE(
            lookUp(other.path() + ":" + bin.path(), "software\\microsoft\\shared tools\\msinfo"),
            bin.filePath("kinfocenter"));
        QCOMPARE(lookUp(bin.path(), kLocationKey), "");
        // An empty entry (the current folder) is never searched.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(bin.path()));
        QCOMPARE(lookUp("::kinfocenter", kPathKey), "");
        QVERIFY(QDir::setCurrent(before));
    }

    void detachedLauncher() {
        QTemporaryDir dir;
        MakeFile(dir.filePath("tool"), true);
        MakeFile(dir.filePath(".hidden"), true);
        ui::DetachedLauncher launcher;
        QVERIFY(launcher.IsOrdinaryFile(dir.filePath("tool").toStdString()));
        QVERIFY(!launcher.IsOrdinaryFile(dir.filePath(".hidden").toStdString()));
        QVERIFY(!launcher.IsOrdinaryFile(dir.path().toStdString()));
        QVERIFY(launcher.Start("/bin/true"));
        QVERIFY(!launcher.Start(""));
        QVERIFY(!launcher.Start(dir.filePath("missing").toStdString()));
        QVERIFY(!launcher.Start(std::string("/bin/true\0 -x", 13)));
    }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
