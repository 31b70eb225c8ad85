#include "ui/about_box.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>

#include "core/indexed_array.h"
#include "ui/looks.h"

namespace zel::ui {

namespace {

constexpr const char* kTitle = "Zel_test";
constexpr int16_t kMajor = 1;
constexpr int16_t kMinor = 0;
constexpr int16_t kRevision = 0;

constexpr const char* kDescription =
    "Zel_test measures whether a listener can hear a small change in the pitch of a pure tone.";
constexpr const char* kDisclaimer = "For research use only; not a medical device.";

constexpr const char* kSysInfoKeyPath = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kSysInfoLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr int32_t kValueBufferSize = 1024;

// One member of the etched rule under the description: a plain line of one colour.
class RuleLine final : public QWidget {
  public:
    RuleLine(QColor colour, QWidget* parent) : QWidget(parent), colour_(colour) {}

  protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour_); }

  private:
    QColor colour_;
};

QLabel* MakeLabel(const char* name, const QFont& font, bool black, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (black) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    return label;
}

}  // namespace

AboutBox::AboutBox(Registry& registry, ProgramLauncher& launcher, const TwipsScale& s)
    : registry_(registry), launcher_(launcher) {
    setObjectName(QStringLiteral("frmAbout"));
    // A fixed dialog: title and close command only.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());

    // The etched rule goes first, under everything else.
    auto* grey = new RuleLine(QColor(128, 128, 128), this);
    grey->setGeometry(s.X(90), s.Y(2445), s.X(5654) - s.X(90), 1);
    auto* white = new RuleLine(Qt::white, this);
    white->setGeometry(s.X(105), s.Y(2460), s.X(5654) - s.X(105), 2);
    for (auto [line, index] : {std::pair{white, 0}, std::pair{grey, 1}}) {
        line->setObjectName(QStringLiteral("Line1"));
        line->setProperty("Index", index);
    }

    auto* picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(ProgramIcon().pixmap(32, 32));
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picIcon->setGeometry(s.Rect(240, 240, 480, 480));

    lblTitle_ = MakeLabel("lblTitle", RequestedFont(18, true), true, this);
    lblTitle_->setGeometry(s.Rect(1050, 240, 3885, 480));
    lblVersion_ = MakeLabel("lblVersion", RequestedFont(13.5), false, this);
    lblVersion_->setGeometry(s.Rect(1050, 780, 3885, 345));
    QLabel* description = MakeLabel("lblDescription", RequestedFont(12), true, this);
    description->setText(QString::fromUtf8(kDescription));
    description->setGeometry(s.Rect(1050, 1245, 4005, 1050));
    QLabel* disclaimer = MakeLabel("lblDisclaimer", RequestedFont(12), true, this);
    disclaimer->setText(QString::fromUtf8(kDisclaimer));
    disclaimer->setGeometry(s.Rect(255, 2625, 3870, 825));

    auto* cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(s.Rect(4245, 2625, 1260, 345));
    cmdOK->setDefault(true);
    auto* cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(s.Rect(4260, 3075, 1245, 345));
    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { cmdSysInfo_Click(); });

    // Fixed on the screen: the client area's corner 2340 by 1932 twips from the screen's.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    setGeometry(QRect(origin + QPoint(s.X(2340), s.Y(1932)), QSize(s.X(5736), s.Y(3564))));
    setFixedSize(s.X(5736), s.Y(3564));

    Form_Load();
}

void AboutBox::Form_Load() {
    setWindowTitle(QStringLiteral("About ") + QString::fromUtf8(kTitle));
    lblVersion_->setText(QStringLiteral("Version %1.%2.%3").arg(kMajor).arg(kMinor).arg(kRevision));
    lblTitle_->setText(QString::fromUtf8(kTitle));
}

void AboutBox::cmdOK_Click() {
    done(QDialog::Accepted);
}

void AboutBox::cmdSysInfo_Click() {
    StartSysInfo();
}

void AboutBox::StartSysInfo() {
    bool started = false;
    try {
        std::string path;
        bool found = GetKeyValue(kHkeyLocalMachine, kSysInfoKeyPath, "PATH", path);
        if (!found && GetKeyValue(kHkeyLocalMachine, kSysInfoLocationKey, "MSINFO", path)) {
            // The folder of the tool, to which its file name is appended.
            path += "\\MSINFO32.EXE";
            found = launcher_.IsOrdinaryFile(path);
        }
        // A path read from PATH is started as it is: whether it exists is the start's business.
        started = found && launcher_.Start(path);
    } catch (const std::exception&) {
        // Any run-time error here only means there is no system information to start.
    }
    if (started) return;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kTitle),
                    QString::fromUtf8(kSysInfoUnavailable), QMessageBox::Ok, this);
    box.exec();
}

bool AboutBox::GetKeyValue(const int32_t& KeyRoot, const std::string& KeyName,
                           const std::string& SubKeyRef, std::string& KeyVal) {
    constexpr Where kWhere = "GetKeyValue";
    RegistryKey key = 0;
    // The key is closed on every way out, the run-time error's included.
    struct Closer {
        Registry& registry;
        RegistryKey& key;
        ~Closer() { registry.CloseKey(key); }
    } closer{registry_, key};

    if (registry_.OpenKey(KeyRoot, KeyName, kKeyAllAccess, key) != kRegSuccess) {
        KeyVal.clear();
        return false;
    }
    IndexedArray<uint8_t> buffer(1, kValueBufferSize);
    int32_t size = kValueBufferSize;
    int32_t type = 0;
    if (registry_.QueryValue(key, SubKeyRef, type,
                             std::span<uint8_t>(buffer.Data(), buffer.ByteSize()),
                             size) != kRegSuccess) {
        KeyVal.clear();
        return false;
    }
    // Byte `size` (counting from 1) is the text's terminating zero when there is one; a size of
    // 0 has no such byte and is a subscript error.
    const int32_t length = buffer.At(size, kWhere) == 0 ? size - 1 : size;
    const std::string text(reinterpret_cast<const char*>(buffer.Data()),
                           static_cast<std::size_t>(length));
    if (type == kRegSz) {
        KeyVal = text;
    } else if (type == kRegDword) {
        // Least significant byte first, read as signed.
        uint32_t bits = 0;
        for (int32_t i = 4; i >= 1; --i) bits = (bits << 8) | buffer.At(i, kWhere);
        KeyVal = std::to_string(static_cast<int32_t>(bits));
    }
    return true;
}

}  // namespace zel::ui
