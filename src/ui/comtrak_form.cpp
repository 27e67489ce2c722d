#include "ui/comtrak_form.h"

#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "protocol/encodings.h"
#include "protocol/registers.h"
#include "protocol/wire.h"
#include "serial/line_settings.h"
#include "ui/fonts.h"
#include "ui/list_box.h"
#include "ui/twips.h"

namespace ui {

const QString ComtrakForm::kCaption =
    QStringLiteral("Программа для работы с модулем камеры по RS-232");
const QString ComtrakForm::kPortTitle = QStringLiteral("Порт компьютера");
const QString ComtrakForm::kSpeedTitle = QStringLiteral("Скорость передачи");
const QString ComtrakForm::kReceptionTitle = QStringLiteral("Приём кадра");

namespace {

constexpr int kPortCount = 4;

QString portName(int portNumber) {
    return QStringLiteral("COM%1").arg(portNumber);
}

QString openFailureHint(serial::OpenFault fault) {
    switch (fault) {
        case serial::OpenFault::NotFound:
            return QStringLiteral("Такого устройства нет. Выберите другой порт.");
        case serial::OpenFault::NoPermission:
            return QStringLiteral(
                "Нет прав на устройство: добавьте пользователя в группу dialout "
                "(sudo adduser $USER dialout) и войдите в систему заново.");
        case serial::OpenFault::Busy:
            return QStringLiteral(
                "Порт занят другой программой. Закройте её или выберите "
                "другой порт.");
        case serial::OpenFault::SettingsRefused:
            return QStringLiteral("Порт не принял настройки линии.");
        case serial::OpenFault::Other:
            break;
    }
    return QStringLiteral("Выберите другой порт.");
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
    : Form1(kCaption, link, protocol::kSerialPolicy, frames, clock, dialogs, parent, kSerialLayout),
      control_(control),
      link_(link),
      session_(control),
      speed_(control, link, clock),
      arrival_(control, link, frames, clock) {
    link_.watchLine(arrival_);
    // A query's wait for the end of a frame stores its bytes: the count follows.
    arrival_.onBytesStored = [this] { showReceivedCount(); };
    QStringList ports;
    for (int n = 1; n <= kPortCount; ++n) {
        ports << portName(n);
    }
    addPortGroup(QStringLiteral("Настройка UART"), ports,
                 serial::PortSession::kStartPortNumber - 1);
    addLabel("Label7", QStringLiteral("Скорость передачи"), twipRect(120, 960, 1815, 255));

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

    auto* command13 =
        addButton("Command13", QStringLiteral("Считать"), twipRect(1800, 1320, 1215, 375));
    connect(command13, &QPushButton::clicked, this, [this] { Command13_Click(); });
    auto* command15 =
        addButton("Command15", QStringLiteral("Записать"), twipRect(3120, 1320, 1215, 375));
    connect(command15, &QPushButton::clicked, this, [this] { Command15_Click(); });
    addModuleControl(command13);
    addModuleControl(command15);

    // The camera settings reach the module through the serial link, with the serial line's waits.
    applyTabOrder(kTabOrder);
}

void ComtrakForm::Form_Load() {
    reportOpenFailure(session_.start());
    frames_.resetCount();
    Timer1->start();
}

void ComtrakForm::Form_Unload() {
    Timer1->stop();
    session_.close();
}

void ComtrakForm::Combo1_Click() {
    reportOpenFailure(session_.choosePort(Combo1->currentIndex() + 1));
}

void ComtrakForm::resumeReception() {
    // A window closed during a wait has closed its port: nothing to poll any more.
    if (!unloaded()) {
        Timer1->start();
    }
}

void ComtrakForm::Command13_Click() {
    runExchange([this] { readModuleSpeed(); });
}

void ComtrakForm::readModuleSpeed() {
    Timer1->stop();
    const serial::LineSpeed::ModuleSpeed speed = speed_.readModuleSpeed();
    if (speed.text) {
        // Setting the box's text from code runs no handler.
        showInBox(Combo4, QString::fromStdString(*speed.text));
    }
    resumeReception();
    if (!speed.answered) {
        QString text = QStringLiteral("Модуль не ответил на запрос скорости на %1 (%2).")
                           .arg(portName(session_.portNumber()),
                                QString::fromStdString(serial::lineSettingsFor(control_.baud())));
        if (const auto fault = link_.takeFault()) {
            text += QStringLiteral("\n") + QString::fromStdString(fault->systemText());
        }
        tellOperator(kSpeedTitle, text);
    }
}

void ComtrakForm::Command15_Click() {
    runExchange([this] { writeSpeed(); });
}

void ComtrakForm::writeSpeed() {
    Timer1->stop();
    const QString text = Combo4->currentText();
    const serial::LineSpeed::WriteOutcome outcome = speed_.write(text.toStdString());
    resumeReception();
    switch (outcome) {
        case serial::LineSpeed::WriteOutcome::Switched:
            break;
        case serial::LineSpeed::WriteOutcome::NotASpeed:
            tellOperator(
                kSpeedTitle,
                QStringLiteral("«%1» — не скорость из списка. Модулю ничего не отправлено, "
                               "скорость линии прежняя (%2).")
                    .arg(text, QString::fromStdString(serial::lineSettingsFor(control_.baud()))));
            break;
        case serial::LineSpeed::WriteOutcome::LineRefused:
            tellOperator(
                kSpeedTitle,
                QStringLiteral("Модуль переключён на %1, но порт %2 не принял эту скорость и "
                               "остался на %3. Нажмите «Сброс модуля», чтобы вернуть обоих на "
                               "2400.")
                    .arg(text.trimmed(), portName(session_.portNumber()),
                         QString::fromStdString(serial::lineSettingsFor(control_.baud()))));
            break;
    }
}

void ComtrakForm::readFrame() {
    runExchange([this] {
        protocol::sendCommand(link_, protocol::command::kFrameRead);
        if (control_.isOpen()) {
            arrival_.frameRequested();
        }
    });
}

void ComtrakForm::resetModule() {
    runExchange([this] { speed_.resetModule(); });
}

void ComtrakForm::Timer1_Timer() {
    if (const auto fault = control_.takeLineFault()) {
        warnAfterTick(kPortTitle,
                      QStringLiteral("Ошибка линии %1: %2")
                          .arg(portName(session_.portNumber()), QString::fromStdString(*fault)));
    }
    const serial::Reception::Batch batch = arrival_.poll();
    // A frame that begins or ends frees or takes the controls that would talk to the module.
    refreshLinkBusy();
    if (batch.empty()) {
        // Nothing came. Only a line quiet for its idle time means the frame has ended and the
        // capture cycle may step; a shorter gap is a pause inside the frame.
        if (arrival_.lineQuiet()) {
            captureCycle_.onTick();
        }
        return;
    }
    showReceivedCount();
    if (batch.overflowStarted) {
        warnAfterTick(kReceptionTitle,
                      QStringLiteral("Буфер кадра заполнен (%1 байт): принятые сверх этого байты "
                                     "отброшены. Очистите буфер перед следующим кадром.")
                          .arg(frames::FrameStore::kCapacity));
    }
}

void ComtrakForm::reportOpenFailure(const std::optional<serial::OpenFailure>& failure) {
    if (!failure) {
        return;
    }
    tellOperator(
        kPortTitle,
        QStringLiteral("Не удалось открыть %1 (%2): %3.\n%4")
            .arg(portName(session_.portNumber()), QString::fromStdString(failure->device),
                 QString::fromStdString(failure->reason), openFailureHint(failure->fault)));
}

void ComtrakForm::warnAfterTick(const QString& title, const QString& text) {
    QTimer::singleShot(0, this, [this, title, text] { tellOperator(title, text); });
}

}  // namespace ui
