// The window of the parallel-port program: port choice, SPI mode buttons, and the link's start
// and stop around the shared window.
#pragma once

#include <array>

#include "lpt/spi_link.h"
#include "ui/form1.h"

class QComboBox;
class QRadioButton;

namespace ui {

class SpiForm final : public Form1 {
    Q_OBJECT
  public:
    SpiForm(lpt::SpiLink& link, frames::FrameStore& frames, protocol::Clock& clock,
            OperatorDialogs& dialogs, QWidget* parent = nullptr);

    // Port access, the start state of the link and the counter. A failed start is reported with
    // the message box (and its reason on standard error); the start goes on regardless.
    void Form_Load() override;
    // Port access stops.
    void Form_Unload() override;

    // "LPT1" / "LPT2" picked from the list.
    void Combo1_Click();
    // SPI mode 0..3: the module is told in the old mode, then the link switches.
    void Option1_Click() { switchMode(0); }
    void Option2_Click() { switchMode(1); }
    void Option3_Click() { switchMode(2); }
    void Option4_Click() { switchMode(3); }

    static const QString kCaption;
    static const QString kStartFailedTitle;
    static const QString kStartFailedText;

  private:
    void switchMode(int mode);

    lpt::SpiLink& link_;
    QComboBox* Combo1;
    std::array<QRadioButton*, 4> modeButtons_{};
};

}  // namespace ui
