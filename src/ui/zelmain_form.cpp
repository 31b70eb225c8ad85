#include "ui/zelmain_form.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QSocketNotifier>
#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

#include "ui/looks.h"

namespace zel::ui {

namespace {

enum class Kind { Frame, Option, Label, Button };

struct ControlRow {
    const char* name;
    Kind kind;
    const char* container;  // nullptr: the client area
    const char* caption;
    int index;  // the member's Index within its group; -1 outside the option groups
    int left, top, width, height;  // twips, from the container's top-left corner
    int tabIndex;
};

// Every control of the window, containers before what they hold.
constexpr ControlRow kControls[] = {
    {"Frame1", Kind::Frame, nullptr, "Base frequency", -1, 240, 0, 5775, 855, 0},
    {"optFrequency", Kind::Option, "Frame1", "500 Hz", 0, 240, 360, 975, 255, 11},
    {"optFrequency", Kind::Option, "Frame1", "1000 Hz", 1, 1440, 360, 975, 255, 12},
    {"optFrequency", Kind::Option, "Frame1", "2000 Hz", 2, 2520, 360, 975, 255, 13},
    {"optFrequency", Kind::Option, "Frame1", "4000 Hz", 3, 3600, 360, 975, 255, 14},
    {"optFrequency", Kind::Option, "Frame1", "8000 Hz", 4, 4680, 360, 975, 255, 15},
    {"Frame5", Kind::Frame, nullptr, "Test format", -1, 240, 960, 5775, 615, 25},
    {"optTestFormat", Kind::Option, "Frame5", "Frequency difference ", 0, 240, 240, 1935, 195, 26},
    {"optTestFormat", Kind::Option, "Frame5", "Frequency modulation ", 1, 2520, 240, 1935, 195, 27},
    {"Frame4", Kind::Frame, nullptr, "Frequency difference", -1, 240, 1680, 5775, 855, 16},
    {"optFrequencyDifference", Kind::Option, "Frame4", "0.1%", 0, 240, 360, 735, 195, 17},
    {"optFrequencyDifference", Kind::Option, "Frame4", "0.2%", 1, 1080, 360, 735, 195, 18},
    {"optFrequencyDifference", Kind::Option, "Frame4", "0.25%", 2, 1800, 360, 735, 195, 19},
    {"optFrequencyDifference", Kind::Option, "Frame4", "0.5%", 3, 2640, 360, 735, 195, 20},
    {"optFrequencyDifference", Kind::Option, "Frame4", "1.0%", 4, 3360, 360, 735, 195, 21},
    {"optFrequencyDifference", Kind::Option, "Frame4", "2.0%", 5, 4080, 360, 735, 195, 22},
    {"optFrequencyDifference", Kind::Option, "Frame4", "5.0%", 6, 4800, 360, 735, 195, 23},
    {"Frame2", Kind::Frame, nullptr, "Progress", -1, 240, 2640, 2895, 1815, 1},
    {"lblStatus", Kind::Label, "Frame2", "", -1, 120, 360, 2655, 495, 24},
    {"Label2", Kind::Label, "Frame2", "Trials completed", -1, 240, 1080, 1455, 255, 2},
    {"lblTrialNumber", Kind::Label, "Frame2", "", -1, 2160, 1080, 615, 255, 3},
    {"Label4", Kind::Label, "Frame2", "Number correct", -1, 240, 1440, 1332, 252, 5},
    {"lblNumberCorrect", Kind::Label, "Frame2", "", -1, 2160, 1440, 615, 255, 6},
    {"Frame3", Kind::Frame, nullptr, "Controls", -1, 3240, 2640, 2775, 1815, 4},
    {"cmdStart", Kind::Button, "Frame3", "St&art", -1, 120, 360, 1215, 375, 7},
    {"cmdFinish", Kind::Button, "Frame3", "F&inish", -1, 1440, 360, 1215, 375, 9},
    {"cmdResponseA", Kind::Button, "Frame3", "&First", -1, 120, 840, 1215, 855, 8},
    {"cmdResponseB", Kind::Button, "Frame3", "&Second", -1, 1440, 840, 1215, 855, 10},
};

constexpr int kClientWidth = 6192;
constexpr int kClientHeight = 4488;

// Positions in the interface enums, by control name.
const std::map<std::string_view, std::size_t> kSlots = {
    {"cmdStart", static_cast<std::size_t>(CommandButton::cmdStart)},
    {"cmdResponseA", static_cast<std::size_t>(CommandButton::cmdResponseA)},
    {"cmdResponseB", static_cast<std::size_t>(CommandButton::cmdResponseB)},
    {"cmdFinish", static_cast<std::size_t>(CommandButton::cmdFinish)},
    {"optFrequency", static_cast<std::size_t>(OptionGroup::optFrequency)},
    {"optFrequencyDifference", static_cast<std::size_t>(OptionGroup::optFrequencyDifference)},
    {"optTestFormat", static_cast<std::size_t>(OptionGroup::optTestFormat)},
    {"lblStatus", static_cast<std::size_t>(Label::lblStatus)},
    {"lblNumberCorrect", static_cast<std::size_t>(Label::lblNumberCorrect)},
    {"lblTrialNumber", static_cast<std::size_t>(Label::lblTrialNumber)},
};

std::size_t Slot(const char* name) {
    return kSlots.at(name);
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

// Swallows user input for as long as it is installed on the application.
class InputSwallower final : public QObject {
  protected:
    bool eventFilter(QObject*, QEvent* event) override { return IsUserInput(event->type()); }
};

// Gives an option group a single tab stop, on its selected member, as on the desktop the window
// was designed on: Tab lands on the selection, however it was made, and the arrow keys (Qt's own
// handling of auto-exclusive buttons) move it within the group. The other members take focus
// from a click only. Disabling needs no care: the program disables a group as a whole.
void KeepTabStopOnSelection(QButtonGroup* group) {
    const auto update = [group] {
        for (QAbstractButton* member : group->buttons()) {
            member->setFocusPolicy(member == group->checkedButton() ? Qt::StrongFocus
                                                                    : Qt::ClickFocus);
        }
    };
    QObject::connect(group, &QButtonGroup::idToggled, group, update);
    update();
}

}  // namespace

ZelmainForm::ZelmainForm(const TwipsScale& scale) {
    setObjectName(QStringLiteral("Zelmain"));
    setWindowTitle(QStringLiteral("Zel Test"));
    setWindowIcon(ProgramIcon());
    setFont(DialogFont());
    BuildMenus();
    Build(scale);
}

void ZelmainForm::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addAction(QStringLiteral("E&xit"))->setObjectName(QStringLiteral("mnuFileExit"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->addAction(QStringLiteral("&About"))->setObjectName(QStringLiteral("mnuHelpAbout"));
}

void ZelmainForm::Build(const TwipsScale& scale) {
    // No layout: the controls keep their places however the window is sized.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);

    std::map<std::string_view, QWidget*> containers;
    std::vector<std::pair<int, QWidget*>> focusable;
    for (const ControlRow& row : kControls) {
        QWidget* parent = row.container ? containers.at(row.container) : client;
        const QString caption = QString::fromUtf8(row.caption);
        QWidget* control = nullptr;
        switch (row.kind) {
            case Kind::Frame: {
                auto* frame = new QGroupBox(caption, parent);
                containers[row.name] = frame;
                if (std::string_view(row.name) == "Frame4") frame4_ = frame;
                control = frame;
                break;
            }
            case Kind::Option: {
                auto* option = new QRadioButton(caption, parent);
                QButtonGroup*& group = groups_[Slot(row.name)];
                if (!group) {
                    group = new QButtonGroup(this);
                    group->setObjectName(QString::fromUtf8(row.name));
                }
                group->addButton(option, row.index);
                option->setProperty("Index", row.index);
                focusable.emplace_back(row.tabIndex, option);
                control = option;
                break;
            }
            case Kind::Label: {
                auto* label = new QLabel(caption, parent);
                if (kSlots.contains(row.name)) labels_[Slot(row.name)] = label;
                control = label;
                break;
            }
            case Kind::Button: {
                auto* button = new QPushButton(caption, parent);
                buttons_[Slot(row.name)] = button;
                focusable.emplace_back(row.tabIndex, button);
                control = button;
                break;
            }
        }
        control->setObjectName(QString::fromUtf8(row.name));
        control->setGeometry(scale.Rect(row.left, row.top, row.width, row.height));
    }

    // Status line: highlight-coloured, centred, bold, bordered.
    QLabel* status = Caption(Label::lblStatus);
    status->setForegroundRole(QPalette::Highlight);
    status->setAlignment(Qt::AlignCenter);
    status->setFont(RequestedFont(13.5, true));
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The counts look like boxes of a document window, not of the dialog face around them.
    for (Label count : {Label::lblTrialNumber, Label::lblNumberCorrect}) {
        QLabel* label = Caption(count);
        label->setAutoFillBackground(true);
        label->setBackgroundRole(QPalette::Base);
        label->setForegroundRole(QPalette::Text);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }

    Group(OptionGroup::optFrequency)->button(1)->setChecked(true);
    Group(OptionGroup::optFrequencyDifference)->button(6)->setChecked(true);
    Group(OptionGroup::optTestFormat)->button(0)->setChecked(true);

    std::sort(focusable.begin(), focusable.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < focusable.size(); ++i) {
        setTabOrder(focusable[i - 1].second, focusable[i].second);
    }
    for (QButtonGroup* group : groups_) KeepTabStopOnSelection(group);
    Button(CommandButton::cmdStart)->setFocus();

    const int clientWidth = scale.X(kClientWidth);
    resize(clientWidth, scale.Y(kClientHeight) + menuBar()->heightForWidth(clientWidth));
}

void ZelmainForm::Route(Zelmain& logic, ErrorReport& report) {
    logic_ = &logic;
    report_ = &report;
    const auto option = [this](OptionGroup group, std::function<void(int16_t)> handler) {
        connect(Group(group), &QButtonGroup::idClicked, this, [this, handler](int id) {
            Handle([&handler, id] { handler(static_cast<int16_t>(id)); });
        });
    };
    option(OptionGroup::optFrequency, [this](int16_t i) { logic_->optFrequency_Click(i); });
    option(OptionGroup::optFrequencyDifference,
           [this](int16_t i) { logic_->optFrequencyDifference_Click(i); });
    option(OptionGroup::optTestFormat, [this](int16_t i) { logic_->optTestFormat_Click(i); });

    const auto button = [this](CommandButton which, bool presents, std::function<void()> handler) {
        connect(Button(which), &QPushButton::clicked, this, [this, handler, presents] {
            presents ? HandleAndDiscardQueuedInput(handler) : Handle(handler);
        });
    };
    button(CommandButton::cmdStart, true, [this] { logic_->cmdStart_Click(); });
    button(CommandButton::cmdResponseA, true, [this] { logic_->cmdResponseA_Click(); });
    button(CommandButton::cmdResponseB, true, [this] { logic_->cmdResponseB_Click(); });
    button(CommandButton::cmdFinish, false, [this] { logic_->cmdFinish_Click(); });

    connect(findChild<QAction*>(QStringLiteral("mnuFileExit")), &QAction::triggered, this,
            [this] { Handle([this] { logic_->mnuFileExit_Click(); }); });
    connect(findChild<QAction*>(QStringLiteral("mnuHelpAbout")), &QAction::triggered, this,
            [this] { Handle([this] { logic_->mnuHelpAbout_Click(); }); });
}

void ZelmainForm::WatchExitSignal(int fd) {
    exitSignal_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(exitSignal_, &QSocketNotifier::activated, this, [this, fd] {
        // Once is enough: the program is ending.
        exitSignal_->setEnabled(false);
        char discard[256];
        [[maybe_unused]] const ssize_t ignored = ::read(fd, discard, sizeof discard);
        if (report_) report_->End().Signalled();
        Handle([this] { logic_->mnuFileExit_Click(); });
    });
}

void ZelmainForm::Handle(const std::function<void()>& handler) {
    if (report_) report_->Run(handler);
}

void ZelmainForm::HandleAndDiscardQueuedInput(const std::function<void()>& handler) {
    Handle(handler);
    InputSwallower swallower;
    qApp->installEventFilter(&swallower);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&swallower);
}

void ZelmainForm::closeEvent(QCloseEvent* event) {
    if (report_ && !report_->End().Requested()) Handle([this] { logic_->mnuFileExit_Click(); });
    // Without routing (or should Exit not end the program) the window stays.
    if (report_ && report_->End().Requested()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void ZelmainForm::SetButtonEnabled(CommandButton button, bool enabled) {
    Button(button)->setEnabled(enabled);
}

void ZelmainForm::SetOptionEnabled(OptionGroup group, int16_t index, bool enabled) {
    Group(group)->button(index)->setEnabled(enabled);
}

void ZelmainForm::SelectOption(OptionGroup group, int16_t index) {
    // setChecked emits no click, so no handler runs.
    Group(group)->button(index)->setChecked(true);
}

void ZelmainForm::SetLabelCaption(Label label, const std::string& text) {
    Caption(label)->setText(QString::fromStdString(text));
}

void ZelmainForm::SetFrame4Caption(const std::string& text) {
    frame4_->setTitle(QString::fromStdString(text));
}

// Qt paints everything that is out of date whenever it paints at once, so these also put the
// changes made before them on screen, as a trial that is about to block the event loop needs.
void ZelmainForm::RepaintLabel(Label label) {
    Caption(label)->repaint();
}

void ZelmainForm::RepaintWindow() {
    repaint();
}

QPushButton* ZelmainForm::Button(CommandButton button) const {
    return buttons_.at(static_cast<std::size_t>(button));
}

QButtonGroup* ZelmainForm::Group(OptionGroup group) const {
    return groups_.at(static_cast<std::size_t>(group));
}

QLabel* ZelmainForm::Caption(Label label) const {
    return labels_.at(static_cast<std::size_t>(label));
}

}  // namespace zel::ui
