// The part of the window both programs share: the picture, the frame buttons, the byte count and
// the exit button, with their handlers. Each program's window adds its link controls on top.
//
// Every operation with the module is posted to the session's link owner and heard back when it
// has ended: no handler waits for the module. The programs give the link a thread of its own
// (runLinkOnItsOwnThread); until then, as in the tests, each operation runs at once on the
// window's thread, with the same order of events.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "frames/frame_file.h"
#include "frames/frame_store.h"
#include "protocol/clock.h"
#include "protocol/exchange_trace.h"
#include "protocol/link_fault.h"
#include "session/link_owner.h"
#include "session/module_session.h"
#include "ui/capture_cycle.h"
#include "ui/operator_dialogs.h"
#include "ui/settings_panel.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;
class QTimer;

namespace ui {

class Form1 : public QWidget, protected SettingsHost, protected CycleWindow {
    Q_OBJECT
  public:
    // `session` is the program's module session, held by the window: every operation with the
    // module goes through it.
    Form1(const QString& caption, std::unique_ptr<session::ModuleSession> session,
          frames::FrameStore& frames, protocol::Clock& clock, OperatorDialogs& dialogs,
          QWidget* parent = nullptr, const SettingsLayout& settingsLayout = kParallelPortLayout);
    ~Form1() override;

    // The window's load and unload handlers; unload runs once, when the close box closes it.
    virtual void Form_Load() = 0;
    virtual void Form_Unload() = 0;

    // A pick from the port box's list ("LPT1".., "COM1"..): each program switches its link.
    virtual void Combo1_Click() = 0;

    // Every tick of Timer1 (kTimer1IntervalMs, on from the end of the load). While it is on, a
    // window that finds nothing waiting for a tick lets it stop, and wakes it when something
    // does (see ticksNeeded).
    virtual void Timer1_Timer() = 0;

    // The frame buttons, each bound to the operation it names.
    void Command12_Click() { captureFrame({}); }  // "Сформировать кадр"
    void Command7_Click() { readFrame({}); }      // "Считать кадр"
    void Command3_Click() { resetModule(); }      // "Сброс модуля"
    void Command8_Click() { clearFrame(); }       // "Очистить буфер"
    void Command14_Click() { viewFrame({}); }     // "Просмотреть кадр"
    void Command6_Click() { saveFrame(); }        // "Записать кадр в файл"
    void Command5_Click() { exitProgram(); }      // "Выход"

    // From now on the session's operations run on a thread that owns the link, the window's
    // waits on its timers; `interruptWaits` ends the link thread's waits at once (the clock's),
    // for a close. Before the load.
    void runLinkOnItsOwnThread(std::function<void()> interruptWaits = {});
    bool linkOnItsOwnThread() const { return threaded_; }

    // The capture command, nothing more; `then` is told false when the link failed under it or
    // the command could not go out.
    void captureFrame(std::function<void(bool captured)> then) override;
    // The frame-read command and what each program does to take the frame in; `then` once the
    // operation has ended.
    void readFrame(Then then) override = 0;
    // The reset command and what each program does to follow the module back to its start.
    virtual void resetModule() = 0;
    // Count and every byte to 0, "0" shown.
    void clearFrame() override;
    // A private copy of the frame, a second, the picture, a second, the copy deleted, then
    // `then`. A copy that cannot be written, or a frame that does not decode, clears the picture
    // and is told (failView).
    void viewFrame(Then then) override;
    // `then` after `wait`: from the window's timers once the link has its own thread, else after
    // the clock's wait.
    void after(protocol::Clock::Duration wait, Then then) override;
    // The stored bytes, exactly, into the file the operator names.
    void saveFrame();
    // The program ends at once, without the unload handler.
    void exitProgram();

    // The program's status at its end: 1 once a file it writes could not be ended whole.
    int exitStatus() const { return exitStatus_; }

    // What "Выход" does; tests replace it so the test program survives.
    void setExitAction(std::function<void()> exitAction) { exitAction_ = std::move(exitAction); }
    // Runs `close` before "Выход" ends the program, which does not unwind: for a file that must
    // end whole. It runs once the link has stopped; false (it has said why on standard error)
    // makes the program's status 1.
    void closeOnExit(std::function<bool()> close) { closeOnExit_.push_back(std::move(close)); }

    // The running operation is cancelled and the link's thread ends, with `last` as its last
    // work there (port access stopped). Nothing reaches the module after it; a second call does
    // nothing. For an end that does not come through the window (Ctrl-C), and at the close.
    void stopLink(std::function<void()> last = {});
    // True from stopLink() on, for a link to look at before each access, from its thread.
    const std::atomic<bool>& linkCancelled() const { return linkCancelled_; }

    // Shows the counter in the byte-count box.
    void showReceivedCount();

    // The exchange trace at `path`: its first lost line is told in the window once, and how many
    // were lost goes to standard error when the window closes or "Выход" ends the program.
    void watchTrace(protocol::TraceFile& trace, const QString& path);

    // Window texts shown to the operator, in the language installed.
    static QString saveDialogTitle();
    static const QString kSaveDialogFilter;
    static QString saveFailedTitle();
    static QString viewFailedTitle();
    static QString titleLine2();
    static QString linkFaultTitle();
    static QString traceLossTitle();
    static QString noAnswerTitle();
    static QString noAnswerText();
    static QString linkDownTitleSuffix();

    // The status poll's and the cycle test's period: no operator tells it from a 1 ms timer, which
    // many systems fire only at their clock tick (about 16 ms) anyway, and the program sleeps
    // between ticks. 62.5 status reads a second at most.
    static constexpr int kTimer1IntervalMs = 16;

    SettingsPanel& settingsPanel() { return *settingsPanel_; }

    // The session is busy with an operation (or one posted has not ended), or (serial) a frame
    // asked for is on its way: the capture cycle does not step, and capture and frame read wait.
    bool linkBusy() const { return jobsInFlight_ > 0 || linkState().busyWith.has_value(); }
    // An operation is posted or runs: the controls that talk to the module are held.
    bool operating() const override { return jobsInFlight_ > 0 || linkState().operationOpen; }

    // SettingsHost: operations go to the link owner, what they tell comes back here.
    bool post(session::LinkOwner::Job job, session::LinkOwner::Job done = {}) override;
    void tell(session::LinkOwner::Job told) override { owner_->tell(std::move(told)); }

  protected:
    void closeEvent(QCloseEvent* event) override;

    // What the window knows of the session's state: read from it when it shares the window's
    // thread, else as the link's thread last told it.
    struct LinkState {
        std::optional<session::Exchange> busyWith;
        bool operationOpen = false;
        bool linkDown = false;
    };
    LinkState linkState() const;
    // The link's thread is about to start: what each program sets up for it.
    virtual void linkThreadStarting() {}
    // Something other than an operation keeps the link busy, or no longer (a frame arriving over
    // serial), as the link's thread found it.
    void toldBusyOutsideOperations(std::optional<session::Exchange> busyWith);
    session::LinkOwner& owner() { return *owner_; }
    // Posts `operation(session)` and, once it has ended, runs `done` with what it returned on
    // the window's thread; false (nothing run) when another operation is posted or the link has
    // stopped.
    template <class Session, class Operation, class Done>
    bool operate(Session& session, Operation operation, Done done) {
        using Value = decltype(operation(session));
        auto value = std::make_shared<std::optional<Value>>();
        return post([&session, operation, value] { value->emplace(operation(session)); },
                    [done, value] { done(std::move(**value)); });
    }

    // Timer1 on from the load, off at the unload; once the window has unloaded it stays off.
    void setPollingEnabled(bool enabled);
    // Timer1 is on: set by setPollingEnabled, whether or not it is ticking just now.
    bool pollingEnabled() const { return pollingEnabled_; }
    // Whether anything waits for Timer1's next tick; when nothing does, it stops after a tick
    // until wakeTimer(). The parallel-port window polls the ready flag at every tick.
    virtual bool ticksNeeded() const { return true; }
    // Timer1 ticking again, if it is on and had stopped for want of work.
    void wakeTimer();
    // A warning box, unless the window has closed.
    void tellOperator(const QString& title, const QString& text) override;
    // "Связь с модулем прервана, операция не выполнена." with the link and its reason, once when
    // the link goes down: while it stays down the window's title says so, and the box comes
    // again only after an operation has gone through. An operation refused because another one
    // runs says nothing: its control was disabled.
    void tellLinkFault(const protocol::LinkFault& fault) override;
    // "Модуль камеры не ответил на запрос...", with the link's fault when it was one.
    void tellNoAnswer(const protocol::LinkFault& fault) override;
    // Whether `fault` is to be told in a box: not a refusal as busy, and a link that is down only
    // once until an operation has gone through again.
    bool tellOnce(const protocol::LinkFault& fault);
    // The link and its reason, for the line under a message; nullopt for a module that only
    // did not answer in time.
    static std::optional<QString> faultDetail(const protocol::LinkFault& fault);

    // CycleWindow: the cycle runs the window's own frame operations (above).
    bool cycleTicked() const override;
    bool cycleMayStep() const override { return !linkBusy() && !unloaded_; }

    // Shows the busy state when it has changed (an operation began or ended, a frame began or
    // ended).
    void refreshLinkBusy();
    // A control that talks to the module or changes the frame store: disabled while an operation
    // runs. A frame on its way holds only capture and frame read: a register write, a reset, a
    // clear or another port go at once, and a read-back waits for the frame's end by itself.
    void addModuleControl(QWidget* control) { moduleControls_.push_back(control); }

    bool unloaded() const { return unloaded_; }
    // A file the program writes could not be ended whole (it has been said why): status 1.
    void failExit() { exitStatus_ = EXIT_FAILURE; }
    session::ModuleSession& session() { return *session_; }

    QPushButton* addButton(const char* name, const QString& caption, QRect geometry);
    QLabel* addLabel(const char* name, const QString& caption, QRect geometry);
    QFrame* addLine(const char* name, QPoint from, QPoint to);
    // The top-left group both windows open with: its bold heading, "Порт компьютера " and the
    // port box, whose handler runs only on a pick from its list (typing in it does nothing).
    void addPortGroup(const QString& heading, const QStringList& ports, int startIndex);
    // Chains the keyboard focus through the named controls, in the order given.
    void applyTabOrder(std::span<const char* const> namesInOrder);

    // The parts the windows share, for each program's own handlers.
    frames::FrameStore& frames() { return frames_; }
    protocol::Clock& clock() { return clock_; }
    OperatorDialogs& dialogs() { return dialogs_; }
    // The index picked in the port box.
    int portIndex() const;
    // A count in the byte-count box, while a frame comes in.
    void showCount(std::uint32_t count);
    // The capture cycle's test, at the end of a timer tick.
    void runCycleTest() { captureCycle_.onTick(); }

  private:
    frames::FrameStore& frames_;
    protocol::Clock& clock_;
    OperatorDialogs& dialogs_;
    CaptureCycle captureCycle_;
    // Who runs the operations: inline until the program gives the link a thread.
    std::unique_ptr<session::LinkOwner> owner_;
    bool threaded_ = false;
    std::atomic<bool> linkCancelled_ = false;
    // What the link's thread told, in order, until the window's loop runs it.
    void toWindow(session::LinkOwner::Job told);
    // `job` on the window's thread once the handler (or the exchange) under way has returned.
    void later(session::LinkOwner::Job job);
    void runTold();
    std::mutex toldMutex_;
    std::deque<session::LinkOwner::Job> told_;
    int toldWake_ = -1;  // an eventfd the link's thread writes when the queue fills
    QSocketNotifier* toldNotifier_ = nullptr;
    int jobsInFlight_ = 0;  // posted to the link's thread, their end not yet heard
    LinkState toldState_;

    QLabel* Picture1;
    QLineEdit* Text4;
    QTimer* Timer1;
    QComboBox* Combo1 = nullptr;
    QCheckBox* Check1;
    SettingsPanel* settingsPanel_;

    std::unique_ptr<session::ModuleSession> session_;
    bool unloaded_ = false;
    bool pollingEnabled_ = false;
    std::function<void()> exitAction_;
    std::vector<std::function<bool()>> closeOnExit_;
    int exitStatus_ = 0;  // what "Выход" ends the program with
    // The title with the link's state.
    void showLinkState();
    QString caption_;
    bool linkDownTold_ = false;
    bool linkDownShown_ = false;
    bool operatingShown_ = false;
    bool frameComesShown_ = false;
    // Held while an operation runs (the rest of the module controls), and while a frame is on
    // its way too (capture and frame read, which would cut into it).
    std::vector<QWidget*> frameControls_;
    std::vector<QWidget*> moduleControls_;
    // The control that had the keyboard focus when the controls were disabled gets it back.
    QPointer<QWidget> focusBeforeBusy_;
    // The private copies of the views in progress.
    std::vector<std::unique_ptr<frames::PrivateFrameFile>> viewCopies_;
    bool holdsViewCopy(const frames::PrivateFrameFile* copy) const;
    void dropViewCopy(const frames::PrivateFrameFile* copy);
    // The picture of the copy, a second, the copy dropped, `then`.
    void showViewCopy(const frames::PrivateFrameFile* copy, const Then& then);
    // The kind of view failure last told in a box; none once a view has shown its frame.
    enum class ViewFailure { CopyNotWritten, NotAPicture };
    std::optional<ViewFailure> viewFailureTold_;
    protocol::TraceFile* trace_ = nullptr;
    QString tracePath_;

    void reportTraceLoss();
    // `why` in the picture box in place of any picture; `text` in a box unless the views have
    // failed so since one last showed its frame.
    void failView(ViewFailure failure, const QString& why, const QString& text);
};

}  // namespace ui
