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

QString SpiForm::caption() {
    return tr("Программа для работы с модулем камеры через LPT");
}
const QString SpiForm::kStartFailedTitle = QStringLiteral("VBDumpPort32");
const QString SpiForm::kStartFailedText =
    QStringLiteral("Whoops ! There is a problem with InitializeWinIo.");
QString SpiForm::vcdStoppedTitle() {
    return tr("Запись выводов порта");
}

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
// The status poll between operations: as often as Timer1 polled, 62.5 reads a second at most.
constexpr std::chrono::milliseconds kPollPeriod{Form1::kTimer1IntervalMs};
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
// Keeps the window's count up with a download without slowing it: from the link's thread, the
// count is told at display rate, and the front end is let in every few milliseconds where it
// shares the thread; the window shows the exact count when the download ends.
class DownloadPacing {
  public:
    DownloadPacing(protocol::Clock& clock, std::function<void(std::uint32_t)> tellCount)
        : clock_(clock),
          tellCount_(std::move(tellCount)),
          nextEvents_(clock.now()),
          nextRepaint_(nextEvents_) {}

    void counted(std::uint32_t count) {
        const auto now = clock_.now();
        if (now >= nextRepaint_) {
            tellCount_(count);
            nextRepaint_ = now + kDownloadCountRepaintInterval;
        }
        if (now >= nextEvents_) {
            clock_.yieldOnce();
            nextEvents_ = clock_.now() + kDownloadEventInterval;
        }
    }

  private:
    protocol::Clock& clock_;
    std::function<void(std::uint32_t)> tellCount_;
    protocol::Clock::TimePoint nextEvents_;
    protocol::Clock::TimePoint nextRepaint_;
};
}  // namespace

SpiForm::SpiForm(lpt::SpiLink& link, frames::FrameStore& frames, protocol::Clock& clock,
                 OperatorDialogs& dialogs, QWidget* parent)
    : Form1(caption(), std::make_unique<session::SpiSession>(link, clock), frames, clock, dialogs,
            parent),
      link_(link),
      spi_(static_cast<session::SpiSession&>(session())),
      Label3(makeIndicatorLabel(this)),
      indicator_(Label3) {
    // Closing the window ends the operation in progress at its next port access.
    link.cancelWhen(&linkCancelled());
    addLabel("Label17", tr("Статус камеры"), twipRect(2280, 6120, 1335, 255));
    addPortGroup(tr("Настройка SPI"), {QStringLiteral("LPT1"), QStringLiteral("LPT2")}, 0);
    addLabel("Label7", tr("Регистр SPI"), twipRect(120, 1080, 1095, 255));

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
    auto* command2 = addButton("Command2", tr("Считать"), twipRect(3120, 1320, 1215, 375));
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

SpiForm::~SpiForm() {
    // The link's thread reads and tells through what this window holds: it ends first.
    stopLink();
    link_.cancelWhen(nullptr);  // the flag goes with the window; the link may stay
    if (vcd_ != nullptr) {
        vcd_->onWriteError({});
    }
}

void SpiForm::Form_Load() {
    frames().resetCount();
    operate(
        spi_, [](session::SpiSession& s) { return s.start(); },
        [this](const protocol::Result<void>& started) {
            if (!started) {
                // The box keeps its words and adds why, so a program started from a menu says it
                // too.
                const std::string& reason = started.fault().reason;
                std::fprintf(stderr, "SPI: port access failed: %s\n", reason.c_str());
                dialogs().showStop(
                    this, kStartFailedTitle,
                    kStartFailedText + QStringLiteral("\n\n") + QString::fromStdString(reason));
            }
            setPollingEnabled(true);
            if (linkOnItsOwnThread()) {
                owner().setIdleWork(kPollPeriod, [this](bool first) {
                    pollBetweenOperations(first);
                    return session::LinkOwner::IdleNext{kPollPeriod, -1};
                });
            }
        });
}

void SpiForm::Form_Unload() {
    setPollingEnabled(false);
    // The running operation ends at its next access; port access stops after it, on the link's
    // thread, and nothing reaches the port after that.
    stopLink([this] { spi_.stop(); });
    if (!closeVcd()) {
        failExit();
    }
}

void SpiForm::readFrame(Then then) {
    if (linkBusy()) {
        // A download (or another exchange) is running: it goes on, and a cycle's step that asked
        // for this read ends here.
        if (then) {
            then();
        }
        return;
    }
    receiveFrame(&session::SpiSession::readFrame, std::move(then));
}

void SpiForm::receiveFrame(Fetch fetch, Then then) {
    indicator_.showBusy();
    const bool posted = operate(
        spi_,
        [this, fetch](session::SpiSession& s) {
            DownloadPacing pacing(clock(), [this](std::uint32_t count) {
                tell([this, count] { showCount(count); });
            });
            const session::FetchProgress progress{
                [&pacing](std::uint32_t count) { pacing.counted(count); },
                // The window closing cancels it: not one more access after that.
                [this] { return owner().cancelled(); }};
            return (s.*fetch)(frames(), progress);
        },
        [this, then](const protocol::Result<session::FrameFetch>& fetched) {
            showReceivedCount();
            // A frame cut short by the link is no frame the module called ready.
            if (!fetched) {
                indicator_.showNoLink();
                tellLinkFault(fetched.fault());
            } else {
                indicator_.showReady();
            }
            if (then) {
                then();
            }
        });
    if (!posted && then) {
        then();
    }
}

void SpiForm::resetModule() {
    operate(
        spi_,
        [](session::SpiSession& s) {
            return std::pair{s.reset(), s.mode()};
        },
        [this](const std::pair<protocol::Result<void>, int>& reset) {
            showMode(reset.second);
            if (!reset.first) {
                tellLinkFault(reset.first.fault());
            }
        });
}

void SpiForm::Command2_Click() {
    operate(
        spi_, [](session::SpiSession& s) { return s.readSpiMode(); },
        [this](const protocol::Result<std::optional<int>>& mode) {
            if (!mode) {
                tellNoAnswer(mode.fault());
                return;
            }
            if (*mode) {
                // Selecting from code runs the button's handler when the selection changes.
                modeButtons_[static_cast<std::size_t>(**mode)]->setChecked(true);
            }
        });
}

void SpiForm::Timer1_Timer() {
    if (unloaded() || owner().stopped()) {
        return;
    }
    if (!linkOnItsOwnThread()) {
        // A tick while an operation runs reads nothing: its post is refused.
        operate(
            spi_, [](session::SpiSession& s) { return s.pollReady(); },
            [this](session::StatusPoll result) { showPoll(result); });
    }
    runCycleTest();
}

void SpiForm::pollBetweenOperations(bool firstSinceOperation) {
    const session::StatusPoll result = spi_.pollReadyAhead();
    if (result == session::StatusPoll::LinkInUse || (!firstSinceOperation && pollTold_ == result)) {
        return;
    }
    pollTold_ = result;
    tell([this, result] { showPoll(result); });
}

bool SpiForm::ticksNeeded() const {
    return cycleTicked() || !linkOnItsOwnThread();
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
    vcd_ = &vcd;
    vcdPath_ = path;
    // "Выход" ends the program without unwinding: the file ends first.
    closeOnExit([this] { return closeVcd(); });
    // The failure is met inside an exchange, on the link's thread; the box comes from the
    // window's loop while the operation goes on.
    vcd.onWriteError([this, path](const std::string& reason) {
        tell([this, path, reason] {
            tellOperator(vcdStoppedTitle(),
                         tr("Запись выводов порта в %1 остановлена: %2.\nФайл сохранён до "
                            "этого места; программа работает дальше.")
                             .arg(path, QString::fromStdString(reason)));
        });
    });
}

bool SpiForm::closeVcd() {
    if (vcd_ == nullptr) {
        return true;
    }
    // The window is going: a write the end meets has nobody to tell but standard error.
    vcd_->onWriteError({});
    vcd_->close();
    const std::string failure = vcd_->writeFailure();
    vcd_ = nullptr;
    if (failure.empty()) {
        return true;
    }
    std::fprintf(stderr, "SPI: the VCD file %s could not be written: %s\n", qPrintable(vcdPath_),
                 failure.c_str());
    return false;
}

void SpiForm::Combo1_Click() {
    const int index = portIndex();
    post([this, index] { spi_.choosePort(index); });
}

void SpiForm::showMode(int mode) {
    // The button that loses the selection says so too; its handler acts only on a selection.
    currentMode_ = mode;
    QRadioButton* button = modeButtons_[static_cast<std::size_t>(mode)];
    const QSignalBlocker blocker(button);
    button->setChecked(true);
}

void SpiForm::switchMode(int mode) {
    const bool posted = operate(
        spi_,
        [mode](session::SpiSession& s) {
            return std::pair{s.switchMode(mode), s.mode()};
        },
        [this](const std::pair<protocol::Result<void>, int>& switched) {
            // A switch that could not start leaves the link where it was, and its button with
            // it.
            showMode(switched.second);
            if (!switched.first) {
                tellLinkFault(switched.first.fault());
            }
        });
    if (!posted) {
        showMode(currentMode_);
    }
}

}  // namespace ui
