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

    void getKeyValue_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<std::string>("bytes");
        QTest::addColumn<bool>("found");
        QTest::addColumn<std::string>("keyVal");
        const std::string longText(1023, 'x');
        QTest::newRow("text with its zero")
            << 1 << std::string("/bin/tool\0", 10) << true << std::string("/bin/tool");
        QTest::newRow("text without")
            << 1 << std::string("/bin/tool") << true << std::string("/bin/tool");
        QTest::newRow("zeros inside stay")
            << 1 << std::string("a\0b\0\0", 5) << true << std::string("a\0b\0", 4);
        QTest::newRow("1024 bytes") << 1 << longText + '\0' << true << longText;
        QTest::newRow("1025 bytes") << 1 << longText + "xx" << false << std::string();
        QTest::newRow("number 261") << 4 << Bytes({5, 1, 0, 0}) << true << std::string("261");
        QTest::newRow("number with top bit")
            << 4 << Bytes({0xfe, 0xff, 0xff, 0xff}) << true << std::string("-2");
        QTest::newRow("type 2 leaves it")
            << 2 << std::string("%SystemRoot%\0", 13) << true << std::string("before");
    }
    void getKeyValue() {
        QFETCH(int, type);
        QFETCH(std::string, bytes);
        QFETCH(bool, found);
        QFETCH(std::string, keyVal);
        FakeRegistry registry;
        registry.Set(kPathKey, "PATH", {type, bytes});
        FakeLauncher launcher;
        ui::AboutBox box(registry, launcher, ui::TwipsScale(96, 96));
        std::string value = "before";
        QCOMPARE(box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "path", value), found);
        QCOMPARE(value, keyVal);
        QCOMPARE(registry.lastAccess, 0x2003Fu);
        QCOMPARE(registry.openKeys, 0);
    }

    void getKeyValueFailures() {
        FakeLauncher launcher;
        FakeRegistry registry;
        ui::AboutBox box(registry, launcher, ui::TwipsScale(96, 96));
        std::string value = "before";
        // Missing key, then missing value: not found, and the text emptied.
        QVERIFY(!box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "PATH", value));
        QCOMPARE(value, std::string());
        registry.Set(kPathKey, "OTHER", {1, "x"});
        value = "before";
        QVERIFY(!box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "PATH", value));
        QCOMPARE(value, std::string());
        // A value of no bytes is a run-time error; the key is closed all the same.
        registry.Set(kPathKey, "PATH", {1, ""});
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "PATH", value));
        QCOMPARE(registry.openKeys, 0);
        // A user who may not write to the key cannot open it.
        registry.Set(kPathKey, "PATH", {1, "/bin/tool"});
        registry.FailOpens(ui::kRegAccessDenied);
        value = "before";
        QVERIFY(!box.GetKeyValue(ui::kHkeyLocalMachine, kPathKey, "PATH", value));
        QCOMPARE(value, std::string());
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
        ui::PathRegistry registry(":" + other.path().toStdString() +
                                  "::" + bin.path().toStdString());
        FakeLauncher launcher;
        ui::AboutBox box(registry, launcher, ui::TwipsScale(96, 96));
        std::string value;
        QVERIFY(box.GetKeyValue(ui::kHkeyLocalMachine, "software\\microsoft\\shared tools\\msinfo",
                                "Path", value));
        QCOMPARE(value, bin.filePath("kinfocenter").toStdString());
        QVERIFY(!box.GetKeyValue(ui::kHkeyLocalMachine, kLocationKey, "MSINFO", value));

        // Nothing on PATH (the current folder, an empty entry, is not searched).
        QVERIFY(QDir::setCurrent(bin.path()));
        MakeFile(bin.filePath("hardinfo"), true);
        ui::PathRegistry empty("::");
        int32_t type = 0;
        int32_t size = 1024;
        std::vector<uint8_t> buffer(1024);
        ui::RegistryKey key = 0;
        QCOMPARE(empty.OpenKey(ui::kHkeyLocalMachine, kPathKey, ui::kKeyAllAccess, key), 0);
        QCOMPARE(empty.QueryValue(key, "PATH", type, buffer, size), ui::kRegFileNotFound);
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
