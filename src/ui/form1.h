// The part of the window both programs share: the picture, the frame buttons, the byte count and
// the exit button, with their handlers. Each program's window adds its link controls on top.
#pragma once

#include <QWidget>
#include <functional>
#include <span>

#include "frames/capture_cycle.h"
#include "frames/frame_store.h"
#include "protocol/clock.h"
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

class Form1 : public QWidget, protected SettingsHost, protected frames::CycleWindow {
    Q_OBJECT
  public:
    Form1(const QString& caption, frames::FrameStore& frames, protocol::Clock& clock,
          OperatorDialogs& dialogs, QWidget* parent = nullptr,
          const SettingsLayout& settingsLayout = kParallelPortLayout);

    // The window's load and unload handlers; unload runs once, when the close box closes it.
    virtual void Form_Load() = 0;
    virtual void Form_Unload() = 0;

    // A pick from the port box's list ("LPT1".., "COM1"..): each program switches its link.
    virtual void Combo1_Click() = 0;

    // The frame buttons whose work depends on the link: "Сформировать кадр", "Считать кадр",
    // "Сброс модуля".
    virtual void Command12_Click() = 0;
    virtual void Command7_Click() = 0;
    virtual void Command3_Click() = 0;
    // Every tick of Timer1 (1 ms, running from the end of the load).
    virtual void Timer1_Timer() = 0;

    // "Очистить буфер": count and every byte to 0, "0" shown.
    void Command8_Click();
    // "Просмотреть кадр": a private copy of the frame, a second, the picture, a second, the copy
    // deleted. A frame that does not decode leaves the picture as it was, without a message.
    void Command14_Click();
    // "Записать кадр в файл": the stored bytes, exactly, into the file the operator names.
    void Command6_Click();
    // "Выход": the program ends at once, without the unload handler.
    void Command5_Click();

    // What "Выход" does; tests replace it so the test program survives.
    void setExitAction(std::function<void()> exitAction) { exitAction_ = std::move(exitAction); }

    // Shows the counter in the byte-count box.
    void showReceivedCount();

    // Window texts shown to the operator.
    static const QString kSaveDialogTitle;
    static const QString kSaveDialogFilter;
    static const QString kSaveFailedTitle;
    static const QString kTitleLine2;

    static constexpr int kTimer1IntervalMs = 1;

    SettingsPanel& settingsPanel() { return *settingsPanel_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

    // SettingsHost: the read-backs switch Timer1 and tell the operator of faults; the indicator
    // and the SPI mode buttons belong to the parallel-port window.
    // Also the cycle's timer switch. Once the window has unloaded the timer stays off.
    void setPollingEnabled(bool enabled) override;

    // frames::CycleWindow: the cycle presses the window's own buttons.
    bool cycleTicked() const override;
    void viewFrame() override { Command14_Click(); }
    void clearFrame() override { Command8_Click(); }
    void captureFrame() override { Command12_Click(); }
    void readFrame() override { Command7_Click(); }

    void showBusy() override {}
    void showReady() override {}
    void selectSpiMode(int) override {}
    void tellOperator(const QString& title, const QString& text) override;
    bool unloaded() const { return unloaded_; }

    QPushButton* addButton(const char* name, const QString& caption, QRect geometry);
    QLabel* addLabel(const char* name, const QString& caption, QRect geometry);
    QFrame* addLine(const char* name, QPoint from, QPoint to);
    // The top-left group both windows open with: its bold heading, "Порт компьютера " and the
    // port box, whose handler runs only on a pick from its list (typing in it does nothing).
    void addPortGroup(const QString& heading, const QStringList& ports, int startIndex);
    // Chains the keyboard focus through the named controls, in the order given.
    void applyTabOrder(std::span<const char* const> namesInOrder);

    frames::FrameStore& frames_;
    protocol::Clock& clock_;
    OperatorDialogs& dialogs_;
    frames::CaptureCycle captureCycle_;

    QLabel* Picture1;
    QLineEdit* Text4;
    QTimer* Timer1;
    QComboBox* Combo1 = nullptr;
    QCheckBox* Check1;
    SettingsPanel* settingsPanel_;

  private:
    bool unloaded_ = false;
    std::function<void()> exitAction_;
};

}  // namespace ui
