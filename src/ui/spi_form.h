// The window of the parallel-port program: port choice, SPI mode buttons, and the link's start
// and stop around the shared window.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "lpt/spi_link.h"
#include "lpt/vcd_recorder.h"
#include "protocol/encodings.h"
#include "session/spi_session.h"
#include "ui/form1.h"
#include "ui/status_indicator.h"

class QComboBox;
class QRadioButton;

namespace ui {

class SpiForm final : public Form1 {
    Q_OBJECT
  public:
    SpiForm(lpt::SpiLink& link, frames::FrameStore& frames, protocol::Clock& clock,
            OperatorDialogs& dialogs, QWidget* parent = nullptr);
    ~SpiForm() override;

    // Port access, the start state of the link and the counter. A failed start is reported with
    // the message box (and its reason on standard error); the start goes on regardless. With the
    // link on its own thread, the status poll is that thread's work between operations from now.
    void Form_Load() override;
    // The running operation is cancelled, then port access stops, once.
    void Form_Unload() override;

    // "LPT1" / "LPT2" picked from the list.
    void Combo1_Click() override;
    // SPI mode 0..3: the module is told in the old mode, then the link switches. A click on a
    // mode button runs its handler even when the button is selected already.
    void Option1_Click() { switchMode(0); }
    void Option2_Click() { switchMode(1); }
    void Option3_Click() { switchMode(2); }
    void Option4_Click() { switchMode(3); }
    // "Считать" of the SPI mode: the mode register read back selects its button, whose handler
    // then switches the link; a value that is no mode selects nothing.
    void Command2_Click();

    // The frame-read command, then at once the download. A click while a download runs does
    // nothing: the running download goes on.
    void readFrame(Then then) override;
    // The reset command in the mode in force; the module is then in mode 0, and the link and
    // mode 0's button follow it.
    void resetModule() override;
    // Status poll: one status read, the indicator follows the ready flag; then the cycle's test.
    // With the link on its own thread, that thread reads the ready flag at Timer1's period
    // between operations and tells the window only when it changes, so Timer1 ticks only while
    // the cycle runs and an idle window sleeps.
    void Timer1_Timer() override;

    // The download: "BUSY", bytes until the ready flag or the limit, "READY".
    void readFrameLPTport() { receiveFrame(&session::SpiSession::download, {}); }

    // The pins' VCD at `path`: a write that fails is told in the window once, without holding
    // the operation that met it. The window's close and "Выход" end the file whole once the link
    // has stopped; a write that failed is then said on standard error and the program's status
    // is 1 (exitStatus()).
    void watchVcd(lpt::VcdRecorder& vcd, const QString& path);

    static QString caption();
    static QString vcdStoppedTitle();
    static const QString kStartFailedTitle;
    static const QString kStartFailedText;

  protected:
    bool ticksNeeded() const override;
    // The read-backs show "BUSY" while they run.
    void showBusy() override { indicator_.showBusy(); }
    void showReady() override { indicator_.showReady(); }

  private:
    using Fetch = protocol::Result<session::FrameFetch> (session::SpiSession::*)(
        frames::FrameStore&, const session::FetchProgress&);
    // "BUSY", the fetch with the count kept up, then the indicator, then `then`.
    void receiveFrame(Fetch fetch, Then then);
    // The link's thread's work between operations: the ready flag read, told when it changed.
    void pollBetweenOperations(bool firstSinceOperation);
    void switchMode(int mode);
    // Selects the button of `mode` without running its handler: the link is there already.
    void showMode(int mode);
    void showPoll(session::StatusPoll result);

    lpt::SpiLink& link_;
    session::SpiSession& spi_;
    std::array<QRadioButton*, 4> modeButtons_{};
    bool modeButtonDown_ = false;  // between a mode button's press and its release
    QLabel* Label3;
    StatusIndicator indicator_;
    // On the link's thread only: what the poll between operations told last.
    std::optional<session::StatusPoll> pollTold_;
    int currentMode_ = protocol::kPowerUpSpiMode;  // the mode the link was last told in
    lpt::VcdRecorder* vcd_ = nullptr;
    QString vcdPath_;
    // Ends the VCD, once the link has stopped; false when it could not be written.
    bool closeVcd();
};

}  // namespace ui
