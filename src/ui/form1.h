// The part of the window both programs share: the picture, the frame buttons, the byte count and
// the exit button, with their handlers. Each program's window adds its link controls on top.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "frames/frame_file.h"
#include "frames/frame_store.h"
#include "protocol/clock.h"
#include "protocol/exchange_trace.h"
#include "protocol/link_fault.h"
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
    void Command12_Click() { captureFrame(); }  // "Сформировать кадр"
    void Command7_Click() { readFrame(); }      // "Считать кадр"
    void Command3_Click() { resetModule(); }    // "Сброс модуля"
    void Command8_Click() { clearFrame(); }     // "Очистить буфер"
    void Command14_Click() { viewFrame(); }     // "Просмотреть кадр"
    void Command6_Click() { saveFrame(); }      // "Записать кадр в файл"
    void Command5_Click() { exitProgram(); }    // "Выход"

    // The capture command, nothing more. False when the link failed under it.
    bool captureFrame() override;
    // The frame-read command and what each program does to take the frame in.
    void readFrame() override = 0;
    // The reset command and what each program does to follow the module back to its start.
    virtual void resetModule() = 0;
    // Count and every byte to 0, "0" shown.
    void clearFrame() override;
    // A private copy of the frame, a second, the picture, a second, the copy deleted. A copy
    // that cannot be written, or a frame that does not decode, clears the picture and is told
    // (failView).
    void viewFrame() override;
    // The stored bytes, exactly, into the file the operator names.
    void saveFrame();
    // The program ends at once, without the unload handler.
    void exitProgram();

    // What "Выход" does; tests replace it so the test program survives.
    void setExitAction(std::function<void()> exitAction) { exitAction_ = std::move(exitAction); }
    // Runs `close` before "Выход" ends the program, which does not unwind: for a file that must
    // end whole.
    void closeOnExit(std::function<void()> close) { closeOnExit_.push_back(std::move(close)); }

    // Shows the counter in the byte-count box.
    void showReceivedCount();

    // The exchange trace at `path`: its first lost line is told in the window once, and how many
    // were lost goes to standard error when the window closes or "Выход" ends the program.
    void watchTrace(protocol::TraceFile& trace, const QString& path);

    // Window texts shown to the operator.
    static const QString kSaveDialogTitle;
    static const QString kSaveDialogFilter;
    static const QString kSaveFailedTitle;
    static const QString kViewFailedTitle;
    static const QString kTitleLine2;
    static const QString kLinkFaultTitle;
    static const QString kTraceLossTitle;
    static const QString kNoAnswerTitle;
    static const QString kNoAnswerText;
    static const QString kLinkDownTitleSuffix;

    // The status poll's and the cycle test's period: no operator tells it from a 1 ms timer, which
    // many systems fire only at their clock tick (about 16 ms) anyway, and the program sleeps
    // between ticks. 62.5 status reads a second at most.
    static constexpr int kTimer1IntervalMs = 16;

    SettingsPanel& settingsPanel() { return *settingsPanel_; }

    // The session is busy with an operation, or (serial) a frame asked for is on its way: the
    // capture cycle does not step, and capture and frame read wait.
    bool linkBusy() const { return session_->busyWith().has_value(); }

  protected:
    void closeEvent(QCloseEvent* event) override;

    // SettingsHost: the read-backs switch Timer1 and tell the operator of faults; the indicator
    // belongs to the parallel-port window.
    // Also the cycle's timer switch. Once the window has unloaded the timer stays off.
    void setPollingEnabled(bool enabled) override;
    // Timer1 is on: set by setPollingEnabled, whether or not it is ticking just now.
    bool pollingEnabled() const { return pollingEnabled_; }
    // Whether anything waits for Timer1's next tick; when nothing does, it stops after a tick
    // until wakeTimer(). The parallel-port window polls the ready flag at every tick.
    virtual bool ticksNeeded() const { return true; }
    // Timer1 ticking again, if it is on and had stopped for want of work.
    void wakeTimer();
    // Told true when Timer1 stops for want of work while it is on, false when it ticks again or
    // is switched off: a window may watch what it needs from elsewhere in between.
    virtual void timerResting(bool resting) { (void)resting; }
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
    bool cycleMayStep() const override { return !linkBusy(); }

    // Shows the busy state when it has changed (an operation began or ended, a frame began or
    // ended).
    void refreshLinkBusy();
    // A control that talks to the module or changes the frame store: disabled while an operation
    // runs. A frame on its way holds only capture and frame read: a register write, a reset, a
    // clear or another port go at once, and a read-back waits for the frame's end by itself.
    void addModuleControl(QWidget* control) { moduleControls_.push_back(control); }

    bool unloaded() const { return unloaded_; }
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
    std::vector<std::function<void()>> closeOnExit_;
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
