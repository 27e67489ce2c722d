#include "ui/comtrak_form.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "protocol/encodings.h"
#include "protocol/registers.h"
#include "protocol/wire.h"
#include "serial/line_settings.h"
#include "ui/fonts.h"
#include "ui/list_box.h"
#include "ui/twips.h"

namespace ui {

QString ComtrakForm::caption() {
    return tr("Программа для работы с модулем камеры по RS-232");
}
QString ComtrakForm::portTitle() {
    return tr("Порт компьютера");
}
QString ComtrakForm::speedTitle() {
    return tr("Скорость передачи");
}
QString ComtrakForm::receptionTitle() {
    return tr("Приём кадра");
}

namespace {

constexpr int kPortCount = 4;
// Reception between operations while a frame is under way: as often as Timer1 looked.
constexpr std::chrono::milliseconds kReceptionPeriod{Form1::kTimer1IntervalMs};

QString portName(int portNumber) {
    return QStringLiteral("COM%1").arg(portNumber);
}

QString openFailureHint(serial::OpenFault fault) {
    switch (fault) {
        case serial::OpenFault::NotFound:
            return ComtrakForm::tr("Такого устройства нет. Выберите другой порт.");
        case serial::OpenFault::NoPermission:
            return ComtrakForm::tr(
                "Нет прав на устройство: добавьте пользователя в группу dialout "
                "(sudo adduser $USER dialout) и войдите в систему заново.");
        case serial::OpenFault::Busy:
            return ComtrakForm::tr(
                "Порт занят другой программой. Закройте её или выберите другой порт.");
        case serial::OpenFault::SettingsRefused:
        case serial::OpenFault::SpeedRefused:
            return ComtrakForm::tr("Порт не принял настройки линии.");
        case serial::OpenFault::Other:
            break;
    }
    return ComtrakForm::tr("Выберите другой порт.");
}

// Keyboard focus order of the serial window, lowest tab index first.
constexpr const char* kTabOrder[] = {
    "Command5",  "Combo1",  "Text4",   "Command6", "Command8", "Label4",  "Picture1",  "Command12",
    "Command14", "Check1",  "Combo2",  "Combo3",   "Label8",   "Label9",  "Command3",  "Command7",
    "Command9",  "Label5",  "Label6",  "Label7",   "Combo4",   "Label12", "Command13", "Command15",
    "Slider1",   "Slider2", "Slider3", "Slider4",  "Label10",  "Label11", "Label13",   "Label14",
    "Command10", "Label15", "Combo5",  "Check2",   "Text5",    "Text6",   "Label16",   "Command4",
    "Command1",  "Label1",  "Label2",  "Check3"};

}  // namespace

ComtrakForm::ComtrakForm(serial::SerialControl& control, serial::SerialLink& link,
                         frames::FrameStore& frames, protocol::Clock& clock,
                         OperatorDialogs& dialogs, QWidget* parent)
    : Form1(caption(), std::make_unique<session::SerialSession>(control, link, frames, clock),
            frames, clock, dialogs, parent, kSerialLayout),
      control_(control),
      serial_(static_cast<session::SerialSession&>(session())) {
    // A query's wait for the end of a frame stores its bytes: the count follows.
    serial_.onBytesStored([this] { tell([this] { showReceivedCount(); }); });
    serial_.onLineEvent([this] { lineEvent(); });
    QStringList ports;
    for (int n = 1; n <= kPortCount; ++n) {
        ports << portName(n);
    }
    addPortGroup(tr("Настройка UART"), ports, session::SerialSession::kStartPortNumber - 1);
    addLabel("Label7", tr("Скорость передачи"), twipRect(120, 960, 1815, 255));

    // The speed box is read by its two buttons only: choosing an entry sends nothing.
    Combo4 = new QComboBox(this);
    Combo4->setObjectName("Combo4");
    Combo4->setEditable(true);
    for (const protocol::SpeedCode& row : protocol::kSpeedCodes) {
        Combo4->addItem(QString::number(row.baud));
    }
    showInBox(Combo4, QString::number(protocol::kResetBaud));
    Combo4->setGeometry(twipRect(2280, 960, 1095, 315));
    makeListBox(Combo4);

    auto* command13 = addButton("Command13", tr("Считать"), twipRect(1800, 1320, 1215, 375));
    connect(command13, &QPushButton::clicked, this, [this] { Command13_Click(); });
    auto* command15 = addButton("Command15", tr("Записать"), twipRect(3120, 1320, 1215, 375));
    connect(command15, &QPushButton::clicked, this, [this] { Command15_Click(); });
    addModuleControl(command13);
    addModuleControl(command15);

    // The camera settings reach the module through the serial link, with the serial line's waits.
    applyTabOrder(kTabOrder);
}

ComtrakForm::~ComtrakForm() {
    stopLink();
    serial_.onLineEvent({});
}

void ComtrakForm::linkThreadStarting() {
    control_.readWhenLookedAt();
    serial_.onLineEvent({});  // nobody there to hear it: the link's thread looks
}

void ComtrakForm::Form_Load() {
    operate(
        serial_,
        [](session::SerialSession& s) {
            return std::pair{s.start(), lineOf(s)};
        },
        [this](const std::pair<std::optional<serial::OpenFailure>, LineNow>& started) {
            line_ = started.second;
            reportOpenFailure(started.first);
            frames().resetCount();
            setPollingEnabled(true);
            if (linkOnItsOwnThread()) {
                owner().setIdleWork(kReceptionPeriod, [this](bool first) {
                    receiveBetweenOperations(first);
                    // While a frame is awaited or arriving its end is the line's quiet, seen by
                    // the clock; otherwise the thread sleeps until the line has something.
                    return session::LinkOwner::IdleNext{
                        serial_.arrivalUnderWay() ? std::optional(kReceptionPeriod) : std::nullopt,
                        serial_.lineDescriptor()};
                });
            }
        });
}

void ComtrakForm::Form_Unload() {
    setPollingEnabled(false);
    stopLink([this] { serial_.close(); });
}

void ComtrakForm::Combo1_Click() {
    const int portNumber = portIndex() + 1;
    operate(
        serial_,
        [portNumber](session::SerialSession& s) {
            return std::pair{s.choosePort(portNumber), lineOf(s)};
        },
        [this](const std::pair<std::optional<serial::OpenFailure>, LineNow>& chosen) {
            line_ = chosen.second;
            reportOpenFailure(chosen.first);
        });
}

QString ComtrakForm::portAndLine() const {
    return QStringLiteral("%1 (%2)").arg(
        portName(line_.portNumber), QString::fromStdString(serial::lineSettingsFor(line_.baud)));
}

void ComtrakForm::Command13_Click() {
    readModuleSpeed();
}

void ComtrakForm::readModuleSpeed() {
    if (operating()) {
        return;  // its button is held: another operation runs
    }
    using Read = std::pair<protocol::Result<session::SerialSession::ModuleSpeed>, LineNow>;
    operate(
        serial_,
        [](session::SerialSession& s) {
            return Read{s.readSpeed(), lineOf(s)};
        },
        [this](const Read& read) {
            line_ = read.second;
            const auto& speed = read.first;
            if (speed && speed->baud) {
                // Setting the box's text from code runs no handler.
                showInBox(Combo4, QString::number(*speed->baud));
            }
            if (!speed && tellOnce(speed.fault())) {
                QString text = tr("Модуль не ответил на запрос скорости на %1.").arg(portAndLine());
                if (const auto detail = faultDetail(speed.fault())) {
                    text += QStringLiteral("\n") + *detail;
                }
                tellOperator(speedTitle(), text);
            }
        });
}

void ComtrakForm::Command15_Click() {
    writeSpeed();
}

void ComtrakForm::writeSpeed() {
    const QString text = Combo4->currentText();
    // Sending a code the module does not know and then switching the PC to the typed speed
    // would leave the two at different speeds with no way to reach the module again.
    const auto speed = serial::speedForText(serial::trimBlanks(text.toStdString()));
    if (!speed) {
        tellOperator(speedTitle(),
                     tr("«%1» — не скорость из списка. Модулю ничего не отправлено, скорость "
                        "линии прежняя (%2).")
                         .arg(text, QString::fromStdString(serial::lineSettingsFor(line_.baud))));
        return;
    }
    if (operating()) {
        return;  // its button is held: another operation runs
    }
    using Write = std::pair<protocol::Result<void>, LineNow>;
    operate(
        serial_,
        [code = *speed](session::SerialSession& s) {
            return Write{s.writeSpeed(code), lineOf(s)};
        },
        [this, text](const Write& written) {
            line_ = written.second;
            const auto& switched = written.first;
            if (switched) {
                return;
            }
            if (switched.fault().kind == protocol::LinkFault::Kind::Refused) {
                tellOperator(
                    speedTitle(),
                    tr("Модуль переключён на %1, но порт %2 не принял эту скорость и остался на "
                       "%3. Нажмите «Сброс модуля», чтобы вернуть обоих на 2400.")
                        .arg(text.trimmed(), portName(line_.portNumber),
                             QString::fromStdString(serial::lineSettingsFor(line_.baud))));
                return;
            }
            tellLinkFault(switched.fault());
        });
}

void ComtrakForm::readFrame(Then then) {
    const bool posted = operate(
        serial_, [](session::SerialSession& s) { return s.requestFrame(); },
        [this, then](const protocol::Result<void>& requested) {
            if (!requested) {
                tellLinkFault(requested.fault());
            } else {
                wakeTimer();  // the frame is awaited: its start, or its absence, is seen at ticks
            }
            if (then) {
                then();
            }
        });
    if (!posted && then) {
        then();
    }
}

void ComtrakForm::resetModule() {
    using Reset = std::pair<protocol::Result<void>, LineNow>;
    operate(
        serial_,
        [](session::SerialSession& s) {
            return Reset{s.reset(), lineOf(s)};
        },
        [this](const Reset& reset) {
            line_ = reset.second;
            if (!reset.first) {
                tellLinkFault(reset.first.fault());
            }
        });
}

void ComtrakForm::Timer1_Timer() {
    if (linkOnItsOwnThread()) {
        if (lineToldQuiet_) {
            runCycleTest();
        }
        return;
    }
    if (operating()) {
        return;  // reception is the work between operations: a reply is the query's own
    }
    auto fault = serial_.takeLineFault();
    const serial::Reception::Batch batch = serial_.receive();
    // A frame that begins or ends frees or takes the controls that would talk to the module.
    const Reception now{serial_.busyWith(), serial_.lineQuiet()};
    showReception(fault, batch, now);
    // Only a line quiet for its idle time means the frame has ended and the capture cycle may
    // step; a shorter gap is a pause inside the frame.
    if (batch.empty() && now.lineQuiet) {
        runCycleTest();
    }
}

bool ComtrakForm::ticksNeeded() const {
    if (linkOnItsOwnThread()) {
        return cycleTicked();
    }
    return linkBusy() || !serial_.lineQuiet() || cycleTicked();
}

void ComtrakForm::receiveBetweenOperations(bool firstSinceOperation) {
    auto fault = serial_.takeLineFault();
    const serial::Reception::Batch batch = serial_.receive();
    const Reception now{serial_.busyWith(), serial_.lineQuiet()};
    if (!firstSinceOperation && !fault && batch.empty() && receptionTold_ == now) {
        return;
    }
    receptionTold_ = now;
    tell([this, fault = std::move(fault), batch, now] { showReception(fault, batch, now); });
}

void ComtrakForm::showReception(const std::optional<protocol::LinkFault>& fault,
                                const serial::Reception::Batch& batch, const Reception& now) {
    lineToldQuiet_ = now.lineQuiet;
    toldBusyOutsideOperations(now.busyWith);
    if (fault) {
        warnAfterTick(portTitle(), tr("Ошибка линии.") + QStringLiteral("\n") +
                                       faultDetail(*fault).value_or(QString()));
    }
    if (batch.empty()) {
        return;
    }
    showReceivedCount();
    if (batch.overflowStarted) {
        warnAfterTick(receptionTitle(),
                      tr("Буфер кадра заполнен (%1 байт): принятые сверх этого байты отброшены. "
                         "Очистите буфер перед следующим кадром.")
                          .arg(frames::FrameStore::kCapacity));
    }
}

void ComtrakForm::lineEvent() {
    if (std::exchange(lineEventQueued_, true)) {
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            lineEventQueued_ = false;
            // While Timer1 is off (a query waits for its reply) the bytes are not the poll's.
            if (pollingEnabled()) {
                Timer1_Timer();
                wakeTimer();
            }
        },
        Qt::QueuedConnection);
}

void ComtrakForm::reportOpenFailure(const std::optional<serial::OpenFailure>& failure) {
    if (!failure) {
        return;
    }
    tellOperator(
        portTitle(),
        tr("Не удалось открыть %1 (%2): %3.\n%4")
            .arg(portName(line_.portNumber), QString::fromStdString(failure->device),
                 QString::fromStdString(failure->reason), openFailureHint(failure->fault)));
}

void ComtrakForm::warnAfterTick(const QString& title, const QString& text) {
    QTimer::singleShot(0, this, [this, title, text] { tellOperator(title, text); });
}

}  // namespace ui
