#include "ui/form1.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFrame>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "frames/frame_file.h"
#include "protocol/registers.h"
#include "protocol/wire.h"
#include "ui/fonts.h"
#include "ui/list_box.h"
#include "ui/twips.h"

namespace ui {

namespace {

constexpr int kClientWidthTwips = 9855;
constexpr int kClientHeightTwips = 7560;
constexpr std::chrono::seconds kViewWait{1};
}  // namespace

// One filter entry whose description and pattern are both "*.jpg".
const QString Form1::kSaveDialogFilter = QStringLiteral("*.jpg (*.jpg)");

// The texts are made when they are shown, so that they come in the language installed then.
QString Form1::saveDialogTitle() {
    return tr("Введите имя файла для сохранения картинки");
}
QString Form1::titleLine2() {
    return tr("Программа отладки на ПК");
}
QString Form1::saveFailedTitle() {
    return tr("Записать кадр в файл");
}
QString Form1::viewFailedTitle() {
    return tr("Просмотреть кадр");
}
QString Form1::linkFaultTitle() {
    return tr("Связь с модулем");
}
QString Form1::traceLossTitle() {
    return tr("Трасса обмена");
}
QString Form1::linkDownTitleSuffix() {
    return tr(" — НЕТ СВЯЗИ");
}
QString Form1::noAnswerTitle() {
    return tr("Модуль не ответил");
}
QString Form1::noAnswerText() {
    return tr("Модуль камеры не ответил на запрос. Значения в окне не изменены.");
}

namespace {
// The picture box's first line when a view shows no frame; why follows.
QString noPicture(const QString& why) {
    return Form1::tr("Кадр не показан:\n%1").arg(why);
}
}  // namespace

Form1::Form1(const QString& caption, std::unique_ptr<session::ModuleSession> session,
             frames::FrameStore& frames, protocol::Clock& clock, OperatorDialogs& dialogs,
             QWidget* parent, const SettingsLayout& settingsLayout)
    : QWidget(parent),
      frames_(frames),
      clock_(clock),
      dialogs_(dialogs),
      captureCycle_(*this, frames),
      owner_(std::make_unique<session::InlineLinkOwner>()),
      session_(std::move(session)),
      // "Выход": no unload handler, no further event.
      exitAction_([this] { std::_Exit(exitStatus_); }) {
    setObjectName("Form1");
    caption_ = caption;
    setWindowTitle(caption);
    // Positions are fixed: the window has no resize handling.
    setFixedSize(twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips));
    setFont(windowFont(kSansFamily, kControlPoints, false));

    // The load handler starts it once the link is ready; ticks run only from the event loop.
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(kTimer1IntervalMs);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1_Timer();
        if (!ticksNeeded() && Timer1->isActive()) {
            Timer1->stop();
        }
    });

    settingsPanel_ = new SettingsPanel(this, *this, settingsLayout, *session_);
    // An operation that opens or closes frees or takes the controls that would talk to the module.
    // Told on the link's thread: what it found travels with the telling.
    session_->onBusyChanged([this] {
        const LinkState state{session_->busyWith(), session_->operationOpen(),
                              session_->linkDown()};
        owner_->tell([this, state] {
            toldState_ = state;
            refreshLinkBusy();
        });
    });

    Picture1 = new QLabel(this);
    Picture1->setObjectName("Picture1");
    Picture1->setGeometry(twipRect(4440, 120, 5295, 4815));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The frame is shown at its own size from the top-left corner and clipped by the box.
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setScaledContents(false);

    addLabel("Label4", tr("Принято байт"), twipRect(7200, 5400, 1335, 255));
    Text4 = new QLineEdit(QStringLiteral("0"), this);
    Text4->setObjectName("Text4");
    Text4->setGeometry(twipRect(7200, 5640, 1095, 285));

    // The two title lines at the lower left, and the lines that part the window.
    addLabel("Label1", tr("Модуль камеры встраиваемый"), twipRect(120, 6600, 3615, 375))
        ->setFont(windowFont(kSerifFamily, kTitlePoints, true));
    addLabel("Label2", titleLine2(), twipRect(120, 6960, 3615, 375))
        ->setFont(windowFont(kSerifFamily, kTitlePoints, true));
    addLine("Line2", twipPoint(120, 1800), twipPoint(4320, 1800));
    addLine("Line1", twipPoint(5040, 5040), twipPoint(5040, 7440));

    Check1 = new QCheckBox(tr("Цикл"), this);
    Check1->setObjectName("Check1");
    Check1->setGeometry(twipRect(8760, 5520, 855, 375));
    // The cycle's test runs at the ticks.
    connect(Check1, &QCheckBox::toggled, this, [this] { wakeTimer(); });

    // The frame buttons, the same in both windows; each click runs its handler to its end.
    struct FrameButton {
        const char* name;
        const char* caption;  // the source text of its translation
        QRect geometry;
        void (Form1::*handler)();
        // View, save and exit neither talk to the module nor change the frame: they stay usable
        // while an operation runs. Capture and frame read would cut into a frame on its way:
        // they wait for it. Reset and clear may go while a frame comes in.
        enum class Held { WhileOperating, WhileFrameComes, Never } held = Held::WhileOperating;
    };
    const FrameButton frameButtons[] = {
        {"Command12", QT_TR_NOOP("Сформировать кадр"), twipRect(5160, 5160, 1935, 375),
         &Form1::Command12_Click, FrameButton::Held::WhileFrameComes},
        {"Command7", QT_TR_NOOP("Считать кадр"), twipRect(5160, 5640, 1935, 375),
         &Form1::Command7_Click, FrameButton::Held::WhileFrameComes},
        {"Command14", QT_TR_NOOP("Просмотреть кадр"), twipRect(5160, 6120, 1935, 375),
         &Form1::Command14_Click, FrameButton::Held::Never},
        {"Command6", QT_TR_NOOP("Записать кадр в файл"), twipRect(5160, 6600, 1935, 375),
         &Form1::Command6_Click, FrameButton::Held::Never},
        {"Command3", QT_TR_NOOP("Сброс модуля"), twipRect(5160, 7080, 1935, 375),
         &Form1::Command3_Click},
        {"Command8", QT_TR_NOOP("Очистить буфер"), twipRect(7200, 6120, 1935, 375),
         &Form1::Command8_Click},
        {"Command5", QT_TR_NOOP("Выход"), twipRect(8400, 7080, 1335, 375), &Form1::Command5_Click,
         FrameButton::Held::Never},
    };
    for (const FrameButton& b : frameButtons) {
        auto* button = addButton(b.name, tr(b.caption), b.geometry);
        connect(button, &QPushButton::clicked, this,
                [this, handler = b.handler] { (this->*handler)(); });
        if (b.held == FrameButton::Held::WhileOperating) {
            addModuleControl(button);
        } else if (b.held == FrameButton::Held::WhileFrameComes) {
            frameControls_.push_back(button);
        }
    }
}

Form1::~Form1() {
    // The link's thread ends before the session and the window it tells go.
    stopLink();
    session_->onBusyChanged({});
    if (toldNotifier_ != nullptr) {
        toldNotifier_->setEnabled(false);
        ::close(toldWake_);
    }
}

void Form1::runLinkOnItsOwnThread(std::function<void()> interruptWaits) {
    if (threaded_) {
        return;
    }
    threaded_ = true;
    linkThreadStarting();
    toldWake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    toldNotifier_ = new QSocketNotifier(toldWake_, QSocketNotifier::Read, this);
    connect(toldNotifier_, &QSocketNotifier::activated, this, [this] { runTold(); });
    owner_ = std::make_unique<session::LinkThread>(
        [this](session::LinkOwner::Job told) { toWindow(std::move(told)); },
        [interrupt = std::move(interruptWaits)] {
            if (interrupt) {
                interrupt();
            }
        });
}

void Form1::toWindow(session::LinkOwner::Job told) {
    // Kept in a queue of ours, so that what the link's thread wrote before telling is seen by
    // the window's thread through one mutex, and the window's loop woken through a descriptor it
    // watches, once for however many come meanwhile: nothing of Qt's is touched from the link's
    // thread (also for ThreadSanitizer, which does not see into Qt's own mutexes).
    bool wake = false;
    {
        const std::lock_guard lock(toldMutex_);
        wake = told_.empty();
        told_.push_back(std::move(told));
    }
    if (wake) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(toldWake_, &one, sizeof one);
    }
}

void Form1::later(session::LinkOwner::Job job) {
    if (threaded_) {
        toWindow(std::move(job));  // from the link's thread, in order with the rest it tells
    } else {
        QTimer::singleShot(0, this, std::move(job));
    }
}

void Form1::runTold() {
    std::uint64_t woken = 0;
    [[maybe_unused]] const auto taken = ::read(toldWake_, &woken, sizeof woken);
    while (!linkCancelled_) {  // from the stop on, nothing told reaches the window
        session::LinkOwner::Job next;
        {
            const std::lock_guard lock(toldMutex_);
            if (told_.empty()) {
                return;
            }
            next = std::move(told_.front());
            told_.pop_front();
        }
        next();
    }
}

void Form1::stopLink(std::function<void()> last) {
    linkCancelled_ = true;
    owner_->stop(std::move(last));
}

Form1::LinkState Form1::linkState() const {
    if (threaded_) {
        return toldState_;
    }
    return {session_->busyWith(), session_->operationOpen(), session_->linkDown()};
}

void Form1::toldBusyOutsideOperations(std::optional<session::Exchange> busyWith) {
    if (!toldState_.operationOpen) {
        toldState_.busyWith = busyWith;
    }
    refreshLinkBusy();
}

bool Form1::post(session::LinkOwner::Job job, session::LinkOwner::Job done) {
    const bool posted = owner_->post(std::move(job), [this, done = std::move(done)] {
        jobsInFlight_ = std::max(0, jobsInFlight_ - 1);
        // An operation that ended after the link was stopped (the window closing, "Выход")
        // has nobody to show its end to.
        if (done && !linkCancelled_) {
            done();
        }
        refreshLinkBusy();
    });
    // On the link's own thread the job has not begun yet: the controls are held from now.
    if (posted && threaded_) {
        ++jobsInFlight_;
        refreshLinkBusy();
    }
    return posted;
}

void Form1::after(protocol::Clock::Duration wait, Then then) {
    if (threaded_) {
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(wait), Qt::PreciseTimer,
                           this, std::move(then));
        return;
    }
    clock_.waitYielding(wait);
    then();
}

void Form1::showLinkState() {
    const bool down = linkState().linkDown;
    if (!down) {
        linkDownTold_ = false;  // the next time it goes down is told again
    }
    if (down != linkDownShown_) {
        linkDownShown_ = down;
        setWindowTitle(down ? caption_ + linkDownTitleSuffix() : caption_);
    }
}

bool Form1::tellOnce(const protocol::LinkFault& fault) {
    if (fault.kind == protocol::LinkFault::Kind::Busy) {
        return false;
    }
    if (!linkState().linkDown) {
        return true;
    }
    return !std::exchange(linkDownTold_, true);
}

void Form1::refreshLinkBusy() {
    showLinkState();
    const bool operating = this->operating();
    const bool frameComes = linkBusy();
    if (operating == operatingShown_ && frameComes == frameComesShown_) {
        return;
    }
    if (operating && !operatingShown_) {
        focusBeforeBusy_ = focusWidget();
    }
    operatingShown_ = operating;
    frameComesShown_ = frameComes;
    for (QWidget* control : moduleControls_) {
        control->setEnabled(!operating);
    }
    for (QWidget* control : frameControls_) {
        control->setEnabled(!frameComes);
    }
    settingsPanel_->refreshEnabled();
    if (!operating && focusBeforeBusy_ != nullptr && focusBeforeBusy_->isEnabled()) {
        focusBeforeBusy_->setFocus();
    }
}

void Form1::captureFrame(std::function<void(bool)> then) {
    const bool posted = operate(
        *session_, [](session::ModuleSession& s) { return s.capture(); },
        [this, then](const protocol::Result<void>& captured) {
            if (!captured) {
                tellLinkFault(captured.fault());
            }
            if (then) {
                then(captured.ok());
            }
        });
    if (!posted && then) {
        then(false);  // another operation runs: the command did not go out
    }
}

namespace {

// What happened to the link, in the window's words.
QString faultWords(const protocol::LinkFault& fault) {
    using Cause = protocol::LinkFault::Cause;
    using Kind = protocol::LinkFault::Kind;
    switch (fault.cause) {
        case Cause::LineHungUp:
            return Form1::tr("линия оборвалась (устройство отключено)");
        case Cause::LineNotQuiet:
            return Form1::tr("линия не затихла перед запросом");
        case Cause::FrameNotEnded:
            return Form1::tr("кадр на линии не закончился за отведённое время");
        case Cause::ExtraBytes:
            return Form1::tr("пришло байт сверх ответа: %1, ответ под сомнением").arg(fault.count);
        case Cause::None:
            break;
    }
    switch (fault.kind) {
        case Kind::NoPort:
            return Form1::tr("порт не открыт");
        case Kind::Lost:
            return Form1::tr("ошибка порта");
        case Kind::Silent:
            return Form1::tr("нет ответа за отведённое время");
        case Kind::StrayByte:
            return Form1::tr("на линии посторонние байты");
        case Kind::Refused:
            return Form1::tr("порт не принял настройку");
        case Kind::Busy:
            return Form1::tr("идёт другая операция с модулем");
    }
    return {};
}

}  // namespace

std::optional<QString> Form1::faultDetail(const protocol::LinkFault& fault) {
    if (fault.kind == protocol::LinkFault::Kind::Silent && fault.reason.empty()) {
        return std::nullopt;
    }
    QString text =
        QStringLiteral("%1: %2.").arg(QString::fromStdString(fault.link), faultWords(fault));
    if (!fault.reason.empty()) {
        // The system's own words, as it gave them: what an engineer searches for.
        text += QStringLiteral("\n") +
                tr("Сообщение системы: %1").arg(QString::fromStdString(fault.reason));
    }
    return text;
}

void Form1::tellLinkFault(const protocol::LinkFault& fault) {
    if (!tellOnce(fault)) {
        return;
    }
    tellOperator(linkFaultTitle(), tr("Связь с модулем прервана, операция не выполнена.\n%1")
                                       .arg(faultDetail(fault).value_or(faultWords(fault))));
}

void Form1::tellNoAnswer(const protocol::LinkFault& fault) {
    if (!tellOnce(fault)) {
        return;
    }
    const auto detail = faultDetail(fault);
    tellOperator(noAnswerTitle(),
                 detail ? noAnswerText() + QStringLiteral("\n") + *detail : noAnswerText());
}

QPushButton* Form1::addButton(const char* name, const QString& caption, QRect geometry) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setGeometry(geometry);
    return button;
}

QFrame* Form1::addLine(const char* name, QPoint from, QPoint to) {
    auto* line = new QFrame(this);
    line->setObjectName(name);
    const bool horizontal = from.y() == to.y();
    line->setFrameShape(horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    // A line is drawn across the middle of its frame; the frame is a few pixels thick.
    constexpr int kThickness = 3;
    line->setGeometry(horizontal
                          ? QRect(from.x(), from.y() - 1, to.x() - from.x() + 1, kThickness)
                          : QRect(from.x() - 1, from.y(), kThickness, to.y() - from.y() + 1));
    return line;
}

void Form1::addPortGroup(const QString& heading, const QStringList& ports, int startIndex) {
    addLabel("Label6", heading, twipRect(120, 120, 2055, 255))
        ->setFont(windowFont(kSansFamily, kHeadingPoints, true));
    addLabel("Label5", tr("Порт компьютера "), twipRect(120, 480, 1575, 255));
    Combo1 = new QComboBox(this);
    Combo1->setObjectName("Combo1");
    Combo1->setEditable(true);
    Combo1->addItems(ports);
    Combo1->setCurrentIndex(startIndex);
    Combo1->setGeometry(twipRect(2280, 480, 1095, 315));
    addModuleControl(Combo1);
    onListPick(Combo1, this, [this] { Combo1_Click(); });
}

void Form1::applyTabOrder(std::span<const char* const> namesInOrder) {
    QWidget* previous = nullptr;
    for (const char* name : namesInOrder) {
        auto* widget = findChild<QWidget*>(QString::fromLatin1(name));
        if (widget == nullptr || widget->focusPolicy() == Qt::NoFocus) {
            continue;  // labels, lines and the picture take no keyboard focus
        }
        if (previous != nullptr) {
            setTabOrder(previous, widget);
        }
        previous = widget;
    }
}

QLabel* Form1::addLabel(const char* name, const QString& caption, QRect geometry) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setGeometry(geometry);
    return label;
}

int Form1::portIndex() const {
    return Combo1->currentIndex();
}

void Form1::showCount(std::uint32_t count) {
    Text4->setText(QString::number(count));
}

void Form1::showReceivedCount() {
    Text4->setText(QString::number(frames_.count()));
}

void Form1::clearFrame() {
    frames_.clear();
    showReceivedCount();
}

void Form1::viewFrame(Then then) {
    const auto done = [&then] {
        if (then) {
            then();
        }
    };
    std::string error;
    // Each view has its own private copy, so a view started inside another one's waits cannot
    // touch the first one's file. The window holds the copies of the views in progress, so
    // "Выход" in a view's wait deletes them too; each view drops its own on every path out.
    auto written = frames::PrivateFrameFile::write(frames_.frame(), error);
    if (!written) {
        failView(ViewFailure::CopyNotWritten, tr("копия кадра не записана"),
                 tr("Кадр не показан: не удалось записать его временную копию.\n%1")
                     .arg(QString::fromStdString(error)));
        done();
        return;
    }
    const frames::PrivateFrameFile* copy = written.get();
    viewCopies_.push_back(std::move(written));
    after(kViewWait, [this, copy, then = std::move(then)] {
        if (!holdsViewCopy(copy)) {
            return;  // "Выход" came in the wait
        }
        showViewCopy(copy, then);
    });
}

bool Form1::holdsViewCopy(const frames::PrivateFrameFile* copy) const {
    return std::any_of(viewCopies_.begin(), viewCopies_.end(),
                       [copy](const auto& held) { return held.get() == copy; });
}

void Form1::dropViewCopy(const frames::PrivateFrameFile* copy) {
    std::erase_if(viewCopies_, [copy](const auto& held) { return held.get() == copy; });
}

void Form1::showViewCopy(const frames::PrivateFrameFile* copy, const Then& then) {
    QImageReader reader(QFile::decodeName(copy->path().c_str()));
    reader.setDecideFormatFromContent(true);
    const QImage picture = reader.read();
    const auto finish = [this, copy, then] {
        dropViewCopy(copy);
        if (then) {
            then();
        }
    };
    if (picture.isNull() && frames_.count() == 0) {
        // Nothing held, nothing to tell: the cycle's first step views an empty buffer.
        Picture1->setText(noPicture(tr("буфер пуст")));
        finish();
        return;
    }
    if (picture.isNull()) {
        failView(ViewFailure::NotAPicture,
                 tr("%1 байт не читаются как изображение").arg(frames_.count()),
                 tr("Кадр не показан: принятые байты не читаются как изображение."));
        finish();
        return;
    }
    viewFailureTold_.reset();
    Picture1->setPixmap(QPixmap::fromImage(picture));
    after(kViewWait, finish);
}

void Form1::failView(ViewFailure failure, const QString& why, const QString& text) {
    // The picture goes: left up, an earlier frame would pass for the one the window holds.
    Picture1->setText(noPicture(why));
    // The capture cycle views at every step, and a box stops the cycle until it is answered: one
    // per failing step would hold the cycle at each for news the picture box already gives. The
    // box comes again once a view has shown its frame, or when views fail for another reason.
    if (viewFailureTold_ != failure) {
        viewFailureTold_ = failure;
        tellOperator(viewFailedTitle(), text);
    }
}

void Form1::saveFrame() {
    const auto chosen =
        dialogs_.chooseSaveFile(this, saveDialogTitle(), QDir::homePath(), kSaveDialogFilter);
    if (!chosen) {
        return;  // cancelled: nothing is written anywhere
    }
    if (auto failure =
            frames::writeFrameFile(QFile::encodeName(*chosen).toStdString(), frames_.frame())) {
        dialogs_.showStop(this, saveFailedTitle(),
                          tr("Не удалось записать кадр в файл %1: %2")
                              .arg(*chosen, QString::fromStdString(*failure)));
    }
}

bool Form1::cycleTicked() const {
    return Check1->isChecked();
}

void Form1::setPollingEnabled(bool enabled) {
    pollingEnabled_ = enabled && !unloaded_;
    if (pollingEnabled_) {
        Timer1->start();
    } else {
        Timer1->stop();
    }
}

void Form1::wakeTimer() {
    if (pollingEnabled_ && !Timer1->isActive()) {
        Timer1->start();
    }
}

void Form1::tellOperator(const QString& title, const QString& text) {
    // A wait that ends after the window has closed has nobody left to tell.
    if (!unloaded_) {
        dialogs_.showWarning(this, title, text);
    }
}

void Form1::exitProgram() {
    // The program ends without unwinding: what would be cleaned up on the way goes now, once the
    // running operation has been cancelled and the link's thread has ended (port access is left
    // as it is: no unload handler runs).
    stopLink();
    viewCopies_.clear();
    reportTraceLoss();
    for (const auto& close : closeOnExit_) {
        if (!close()) {
            failExit();
        }
    }
    exitAction_();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!unloaded_) {
        unloaded_ = true;
        Form_Unload();
        reportTraceLoss();
    }
    event->accept();
}

void Form1::watchTrace(protocol::TraceFile& trace, const QString& path) {
    trace_ = &trace;
    tracePath_ = path;
    // The loss is met inside an exchange; the box comes once that has returned.
    trace.onFirstLoss([this](const std::string& reason) {
        later([this, reason] {
            tellOperator(traceLossTitle(),
                         tr("Трасса обмена не записывается в %1: %2.\nПотеряно обменов: %3. "
                            "Программа работает дальше; число потерянных обменов будет "
                            "выведено при выходе.")
                             .arg(tracePath_, QString::fromStdString(reason))
                             .arg(trace_->linesLost()));
        });
    });
}

void Form1::reportTraceLoss() {
    if (trace_ != nullptr && trace_->linesLost() > 0) {
        failExit();
        std::fprintf(stderr, "%s: trace %s: %llu exchange line(s) lost\n",
                     qPrintable(QCoreApplication::applicationName()), qPrintable(tracePath_),
                     static_cast<unsigned long long>(trace_->linesLost()));
    }
}

}  // namespace ui
