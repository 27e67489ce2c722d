#include "ui/spi_form.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

#include "protocol/encodings.h"
#include "ui/fonts.h"
#include "ui/twips.h"

namespace ui {

const QString SpiForm::kCaption = QStringLiteral("Программа для работы с модулем камеры через LPT");
const QString SpiForm::kStartFailedTitle = QStringLiteral("VBDumpPort32");
const QString SpiForm::kStartFailedText =
    QStringLiteral("Whoops ! There is a problem with InitializeWinIo.");
const QString SpiForm::kVcdStoppedTitle = QStringLiteral("Запись выводов порта");

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
    : Form1(kCaption, std::make_unique<session::SpiSession>(link, clock), frames, clock, dialogs,
            parent),
      spi_(static_cast<session::SpiSession&>(session())),
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
    modeButtons_[static_cast<std::size_t>(protocol::kPowerUpSpiMode)]->setChecked(true);
    auto* command2 =
        addButton("Command2", QStringLiteral("Считать"), twipRect(3120, 1320, 1215, 375));
    connect(command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    addModuleControl(command2);
    for (QRadioButton* button : modeButtons_) {
        addModuleControl(button);
    }
    applyTabOrder(kTabOrder);
    // A mode button's handler runs on every click of it, also on the selected button: the
    // operator sends the mode again to a module that was power-cycled. A selection from code
    // runs it when the selection changes. A click changes the selection between its press and
    // its release, so the change a click makes is left to the click.
    for (std::size_t mode = 0; mode < modeButtons_.size(); ++mode) {
        QRadioButton* button = modeButtons_[mode];
        connect(button, &QRadioButton::pressed, this, [this] { modeButtonDown_ = true; });
        connect(button, &QRadioButton::released, this, [this] { modeButtonDown_ = false; });
        connect(button, &QRadioButton::toggled, this, [this, mode](bool selected) {
            if (selected && !modeButtonDown_) {
                switchMode(static_cast<int>(mode));
            }
        });
        connect(button, &QRadioButton::clicked, this,
                [this, mode] { switchMode(static_cast<int>(mode)); });
    }
}

void SpiForm::Form_Load() {
    const auto started = spi_.start();
    frames().resetCount();
    if (!started) {
        // The box keeps its words and adds why, so a program started from a menu says it too.
        const std::string& reason = started.fault().reason;
        std::fprintf(stderr, "SPI: port access failed: %s\n", reason.c_str());
        dialogs().showStop(
            this, kStartFailedTitle,
            kStartFailedText + QStringLiteral("\n\n") + QString::fromStdString(reason));
    }
    setPollingEnabled(true);
}

void SpiForm::Form_Unload() {
    setPollingEnabled(false);
    spi_.stop();
}

void SpiForm::readFrame() {
    if (linkBusy()) {
        return;  // a download (or another exchange) is running: it goes on
    }
    receiveFrame(&session::SpiSession::readFrame);
}

void SpiForm::receiveFrame(Fetch fetch) {
    setPollingEnabled(false);
    indicator_.showBusy();
    DownloadPacing pacing(clock(), [this](std::uint32_t count) { showCount(count); });
    const session::FetchProgress progress{
        [&pacing](std::uint32_t count) { pacing.counted(count); },
        // The window closing stops port access; not one more access after that.
        [this] { return spi_.stopped(); }};
    const auto fetched = (spi_.*fetch)(frames(), progress);
    if (fetched && fetched->cancelled) {
        return;  // the window is gone: no timer, no more port access
    }
    showReceivedCount();
    setPollingEnabled(true);
    // A frame cut short by the link is no frame the module called ready.
    if (!fetched) {
        indicator_.showNoLink();
        tellLinkFault(fetched.fault());
        return;
    }
    indicator_.showReady();
}

void SpiForm::resetModule() {
    const auto reset = spi_.reset();
    showMode(spi_.mode());
    if (!reset) {
        tellLinkFault(reset.fault());
    }
}

void SpiForm::Command2_Click() {
    const auto mode = spi_.readSpiMode();
    if (!mode) {
        tellNoAnswer(mode.fault());
        return;
    }
    if (*mode) {
        // Selecting from code runs the button's handler when the selection changes.
        modeButtons_[static_cast<std::size_t>(**mode)]->setChecked(true);
    }
}

void SpiForm::Timer1_Timer() {
    if (spi_.stopped()) {
        return;
    }
    showPoll(spi_.pollReady());
    runCycleTest();
}

void SpiForm::pollFromAThreadWhileIdle() {
    if (idlePoll_) {
        return;
    }
    idlePoll_ = std::make_unique<session::IdleStatusPoll>(
        spi_, std::chrono::milliseconds(kTimer1IntervalMs),
        [this](session::StatusPoll result, std::uint64_t run) {
            // Shown from the window's loop, unless a pause came in between: the indicator
            // may say "BUSY" by then.
            QMetaObject::invokeMethod(
                this,
                [this, result, run] {
                    if (idlePoll_->current(run)) {
                        showPoll(result);
                    }
                },
                Qt::QueuedConnection);
        });
    // The program may end from a handler without unwinding: no read may run on meanwhile.
    closeOnExit([this] { pauseIdlePoll(); });
}

void SpiForm::pauseIdlePoll() {
    if (idlePoll_) {
        idlePoll_->pause();
    }
}

bool SpiForm::ticksNeeded() const {
    return cycleTicked() || !idlePoll_;
}

void SpiForm::timerResting(bool resting) {
    if (!resting) {
        pauseIdlePoll();
    } else if (idlePoll_) {
        idlePoll_->resume();
    }
}

void SpiForm::showPoll(session::StatusPoll result) {
    switch (result) {
        case session::StatusPoll::Ready:
            indicator_.showReadyFlag(true);
            break;
        case session::StatusPoll::NotReady:
            indicator_.showReadyFlag(false);
            break;
        case session::StatusPoll::NoLink:
            indicator_.showNoLink();
            break;
        case session::StatusPoll::LinkInUse:
            break;  // nothing was read
    }
}

void SpiForm::watchVcd(lpt::VcdRecorder& vcd, const QString& path) {
    closeOnExit([&vcd] { vcd.close(); });
    // The failure is met inside an exchange, maybe the idle poll's on its thread; the box comes
    // from the window's loop once that has returned.
    vcd.onWriteError([this, path](const std::string& reason) {
        QMetaObject::invokeMethod(
            this,
            [this, path, reason] {
                tellOperator(kVcdStoppedTitle,
                             QStringLiteral("Запись выводов порта в %1 остановлена: %2.\nФайл "
                                            "сохранён до этого места; программа работает дальше.")
                                 .arg(path, QString::fromStdString(reason)));
            },
            Qt::QueuedConnection);
    });
}

void SpiForm::Combo1_Click() {
    spi_.choosePort(portIndex());
}

void SpiForm::showMode(int mode) {
    // The button that loses the selection says so too; its handler acts only on a selection.
    QRadioButton* button = modeButtons_[static_cast<std::size_t>(mode)];
    const QSignalBlocker blocker(button);
    button->setChecked(true);
}

void SpiForm::switchMode(int mode) {
    const auto switched = spi_.switchMode(mode);
    // A switch that could not start leaves the link where it was, and its button with it.
    showMode(spi_.mode());
    if (!switched) {
        tellLinkFault(switched.fault());
    }
}

}  // namespace ui
