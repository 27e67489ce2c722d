#include "ui/spi_form.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include "protocol/registers.h"
#include "protocol/wire.h"

#include "ui/fonts.h"
#include "ui/twips.h"

namespace ui {

const QString SpiForm::kCaption = QStringLiteral("Программа для работы с модулем камеры через LPT");
const QString SpiForm::kStartFailedTitle = QStringLiteral("VBDumpPort32");
const QString SpiForm::kStartFailedText =
    QStringLiteral("Whoops ! There is a problem with InitializeWinIo.");

namespace {
struct ModeButton {
    const char* name;
    const char* caption;
    int leftTwips;
};
constexpr ModeButton kModeButtons[] = {
    {"Option1", "0", 1560}, {"Option2", "1", 2040}, {"Option3", "2", 2520}, {"Option4", "3", 3000}};
constexpr int kModeButtonTopTwips = 1080;
constexpr int kModeButtonWidthTwips = 495;
constexpr int kModeButtonHeightTwips = 255;
}  // namespace

namespace {
constexpr std::chrono::milliseconds kDownloadEventInterval{2};
constexpr std::chrono::milliseconds kDownloadCountRepaintInterval{33};  // about 30 Hz

// Keyboard focus order of the parallel-port window, lowest tab index first.
constexpr const char* kTabOrder[] = {
    "Command5",  "Combo1",  "Text4",   "Command6", "Command8",  "Label4",  "Picture1", "Command12",
    "Command14", "Check1",  "Combo2",  "Combo3",   "Label8",    "Label9",  "Command3", "Command7",
    "Command9",  "Label5",  "Label6",  "Label12",  "Slider1",   "Slider2", "Slider3",  "Slider4",
    "Label10",   "Label11", "Label13", "Label14",  "Command10", "Label15", "Combo5",   "Check2",
    "Text5",     "Text6",   "Label16", "Command4", "Command1",  "Label1",  "Label2",   "Label3",
    "Label17",   "Option1", "Option2", "Option3",  "Option4",   "Label7",  "Command2", "Check3"};

QLabel* makeIndicatorLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName("Label3");
    label->setGeometry(twipRect(3720, 6120, 1215, 255));
    label->setFont(windowFont(kSansFamily, kIndicatorPoints, true));
    return label;
}
}  // namespace

namespace {
// Keeps the window up with a download without slowing it: events every few milliseconds and the
// count repainted at display rate; the caller shows the exact count when the download ends.
class DownloadPacing {
  public:
    DownloadPacing(protocol::Clock& clock, std::function<void(std::uint32_t)> showCount)
        : clock_(clock),
          showCount_(std::move(showCount)),
          nextEvents_(clock.now()),
          nextRepaint_(nextEvents_) {}

    void counted(std::uint32_t count) {
        const auto now = clock_.now();
        if (now >= nextRepaint_) {
            showCount_(count);
            nextRepaint_ = now + kDownloadCountRepaintInterval;
        }
        if (now >= nextEvents_) {
            clock_.yieldOnce();
            nextEvents_ = clock_.now() + kDownloadEventInterval;
        }
    }

  private:
    protocol::Clock& clock_;
    std::function<void(std::uint32_t)> showCount_;
    protocol::Clock::TimePoint nextEvents_;
    protocol::Clock::TimePoint nextRepaint_;
};
}  // namespace

SpiForm::SpiForm(lpt::SpiLink& link, frames::FrameStore& frames, protocol::Clock& clock,
                 OperatorDialogs& dialogs, QWidget* parent)
    : Form1(kCaption, link, protocol::kParallelPortPolicy, frames, clock, dialogs, parent),
      link_(link),
      Label3(makeIndicatorLabel(this)),
      indicator_(Label3) {
    addLabel("Label17", QStringLiteral("Статус камеры"), twipRect(2280, 6120, 1335, 255));
    addPortGroup(QStringLiteral("Настройка SPI"), {QStringLiteral("LPT1"), QStringLiteral("LPT2")},
                 0);
    addLabel("Label7", QStringLiteral("Регистр SPI"), twipRect(120, 1080, 1095, 255));

    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (std::size_t mode = 0; mode < modeButtons_.size(); ++mode) {
        const ModeButton& place = kModeButtons[mode];
        auto* button = new QRadioButton(QString::fromLatin1(place.caption), this);
        button->setObjectName(place.name);
        button->setGeometry(twipRect(place.leftTwips, kModeButtonTopTwips, kModeButtonWidthTwips,
                                     kModeButtonHeightTwips));
        group->addButton(button, static_cast<int>(mode));
        modeButtons_[mode] = button;
    }
    modeButtons_[0]->setChecked(true);
    auto* command2 =
        addButton("Command2", QStringLiteral("Считать"), twipRect(3120, 1320, 1215, 375));
    connect(command2, &QPushButton::clicked, this, [this] { settingsPanel().Command2_Click(); });
    addModuleControl(command2);
    for (QRadioButton* button : modeButtons_) {
        addModuleControl(button);
    }
    applyTabOrder(kTabOrder);
    // A mode button's handler runs when the selection changes, by a click or from code.
    for (std::size_t mode = 0; mode < modeButtons_.size(); ++mode) {
        connect(modeButtons_[mode], &QRadioButton::toggled, this, [this, mode](bool selected) {
            if (selected) {
                switchMode(static_cast<int>(mode));
            }
        });
    }
}

void SpiForm::Form_Load() {
    if (!link_.startPortAccess()) {
        // The box keeps its words and adds why, so a program started from a menu says it too.
        const std::string reason = link_.failureReason();
        std::fprintf(stderr, "SPI: port access failed: %s\n", reason.c_str());
        dialogs_.showStop(
            this, kStartFailedTitle,
            kStartFailedText + QStringLiteral("\n\n") + QString::fromStdString(reason));
    }
    frames_.resetCount();
    link_.enterStartState();
    Timer1->start();
}

void SpiForm::Form_Unload() {
    Timer1->stop();
    link_.stopPortAccess();
}

void SpiForm::readFrame() {
    if (downloading_) {
        return;
    }
    runExchange([this] {
        protocol::sendCommand(link_, protocol::command::kFrameRead);
        readFrameLPTport();
    });
}

void SpiForm::readFrameLPTport() {
    downloading_ = true;
    Timer1->stop();
    indicator_.showBusy();
    DownloadPacing pacing(clock_,
                          [this](std::uint32_t count) { Text4->setText(QString::number(count)); });
    const lpt::DownloadProgress progress{
        [&pacing](std::uint32_t count) { pacing.counted(count); },
        // The window closing stops port access; not one more access after that.
        [this] { return link_.portAccessStopped(); }};
    const lpt::DownloadResult result = lpt::downloadFrame(link_, frames_, progress);
    downloading_ = false;
    if (result.cancelled) {
        return;  // the window is gone: no timer, no more port access
    }
    showReceivedCount();
    Timer1->start();
    // A frame cut short by the link is no frame the module called ready.
    result.linkFault ? indicator_.showNoLink() : indicator_.showReady();
}

void SpiForm::resetModule() {
    runExchange([this] {
        protocol::sendCommand(link_, protocol::command::kReset);
        // Selecting from code runs Option1_Click when the selection changes...
        modeButtons_[0]->setChecked(true);
        // ...and the direct call tells the module mode 0 once more, now in mode 0.
        Option1_Click();
    });
}

void SpiForm::Timer1_Timer() {
    if (link_.portAccessStopped()) {
        return;
    }
    if (const auto status = link_.pollStatus()) {
        indicator_.showReadyFlag((*status & lpt::kReadyBit) != 0);
    } else {
        indicator_.showNoLink();
    }
    captureCycle_.onTick();
}

void SpiForm::Combo1_Click() {
    link_.choosePort(Combo1->currentIndex());
}

void SpiForm::selectSpiMode(int mode) {
    modeButtons_[static_cast<std::size_t>(mode)]->setChecked(true);
}

void SpiForm::switchMode(int mode) {
    runExchange([this, mode] { link_.switchMode(mode); });
}

}  // namespace ui
