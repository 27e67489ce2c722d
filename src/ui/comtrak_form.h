// The window of the serial program: port and speed choice, the speed buttons, and the reception
// poll around the shared window. The work is done by the serial layer; this class binds the
// controls to it, keeps reception between the exchanges that need the line to themselves, and
// tells the operator about faults.
#pragma once

#include <optional>

#include "protocol/encodings.h"
#include "serial/serial_control.h"
#include "serial/serial_link.h"
#include "session/serial_session.h"
#include "ui/form1.h"

class QComboBox;

namespace ui {

class ComtrakForm final : public Form1 {
    Q_OBJECT
  public:
    ComtrakForm(serial::SerialControl& control, serial::SerialLink& link,
                frames::FrameStore& frames, protocol::Clock& clock, OperatorDialogs& dialogs,
                QWidget* parent = nullptr);
    ~ComtrakForm() override;

    // 2400 baud, COM2 opened, counter 0, Timer1 running. A port that does not open is reported;
    // the window runs on and another port can be chosen.
    void Form_Load() override;
    // The port is closed.
    void Form_Unload() override;

    // "COM1".."COM4" picked from the list: the port is closed and the chosen one opened.
    void Combo1_Click() override;
    // Speed "Считать": the module's speed into the speed box; a code of no speed leaves it.
    void Command13_Click();
    // Speed "Записать": the module is switched at the old speed, a second later the PC follows.
    void Command15_Click();

    // The frame-read command alone; the frame arrives by the poll.
    void readFrame(Then then) override;
    // The reset command, a second (reception goes on), the PC back to 2400.
    void resetModule() override;
    // Reception: what has arrived goes into the frame store and the count is shown; only a tick
    // that received nothing runs the capture cycle's test. With the link on its own thread,
    // reception is that thread's work between operations, and a tick only runs the cycle's test
    // once the line has been told quiet.
    void Timer1_Timer() override;

    static QString caption();
    static QString portTitle();
    static QString speedTitle();
    static QString receptionTitle();

  protected:
    // Ticks go on while a frame is awaited or arriving (its end is the line's quiet), or while
    // the capture cycle is ticked; otherwise reception waits for the line's own event.
    bool ticksNeeded() const override;
    // The line is read when looked at, and reception moves to the link's thread.
    void linkThreadStarting() override;

  private:
    // Bytes arrived or the line reported a fault: a tick at the next turn of the event loop (not
    // inside the call that told it), then ticks until the line is quiet again.
    void lineEvent();
    void reportOpenFailure(const std::optional<serial::OpenFailure>& failure);
    // A warning shown once the current handler has returned, so a tick that finds a fault does
    // not stop in a modal box with bytes still arriving.
    void warnAfterTick(const QString& title, const QString& text);
    void readModuleSpeed();
    void writeSpeed();

    // "COM2 (2400,N,8,1)": the port in use and its line settings, for messages.
    QString portAndLine() const;

    // The port and the speed in force, as an operation on the link's thread left them.
    struct LineNow {
        int portNumber = session::SerialSession::kStartPortNumber;
        std::uint32_t baud = protocol::kResetBaud;
    };
    static LineNow lineOf(const session::SerialSession& s) { return {s.portNumber(), s.baud()}; }
    // The link's thread's work between operations: what has arrived stored, and the window told
    // when anything changed.
    void receiveBetweenOperations(bool firstSinceOperation);
    struct Reception {
        std::optional<session::Exchange> busyWith;
        bool lineQuiet = true;
        friend bool operator==(const Reception&, const Reception&) = default;
    };
    void showReception(const std::optional<protocol::LinkFault>& fault,
                       const serial::Reception::Batch& batch, const Reception& now);

    serial::SerialControl& control_;
    session::SerialSession& serial_;
    LineNow line_;
    // On the link's thread only: what the reception told last.
    std::optional<Reception> receptionTold_;
    // On the window's thread: the line was quiet at the reception's last telling.
    bool lineToldQuiet_ = true;
    bool lineEventQueued_ = false;

    QComboBox* Combo4;
};

}  // namespace ui
