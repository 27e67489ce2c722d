// The camera-settings controls of the window ("Настройка камеры", the frame-size rows and
// "Тестовый режим"), their event binding and their enabled-state rules. Each handler turns its
// control into one typed operation of the module session and shows what comes back; the waits
// and the exchanges live in the session.
#pragma once

#include <QHash>
#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/encodings.h"
#include "protocol/link_fault.h"
#include "session/link_owner.h"
#include "session/module_session.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;

namespace ui {

// Texts of the colour box, as the window shows them in the language installed. Only
// "Черно-белый" exactly (in English, its translation) is black-and-white; any other text,
// "Цветной" included, is colour.
QString colourModeText(protocol::ColourMode mode);
protocol::ColourMode colourModeOfText(const QString& text);

// The window's side of the settings: its link owner, its status indicator and the operator.
class SettingsHost {
  public:
    virtual ~SettingsHost() = default;
    // `job` on the link's thread, then `done` on the window's; false when another operation is
    // posted (nothing runs: its control was held).
    virtual bool post(session::LinkOwner::Job job, session::LinkOwner::Job done) = 0;
    // From a job: `told` on the window's thread.
    virtual void tell(session::LinkOwner::Job told) = 0;
    // An operation is posted or runs: the controls that talk to the module are held.
    virtual bool operating() const = 0;
    // The status indicator during a read-back (a window without one shows nothing).
    virtual void showBusy() {}
    virtual void showReady() {}
    // A refusal the operator must hear of; nothing else changed.
    virtual void tellOperator(const QString& title, const QString& text) = 0;
    // A link fault that ended an operation.
    virtual void tellLinkFault(const protocol::LinkFault& fault) = 0;
    // A read-back that brought nothing: the controls keep their values.
    virtual void tellNoAnswer(const protocol::LinkFault& fault) = 0;
};

// Where the frame-size rows and the test-mode box sit; the two windows differ only there.
struct SettingsLayout {
    int frameSizeRowTop;  // twips: "Размер кадра", its box and "Считать"
    int arbitraryRowTop;  // twips: "Произвольный", width x height, "Записать"
    QRect testModeBox;    // twips: left, top, width, height of "Тестовый режим"
};
inline const SettingsLayout kParallelPortLayout{5040, 5520, QRect(120, 6120, 1815, 255)};
inline const SettingsLayout kSerialLayout{5160, 5640, QRect(120, 6000, 2655, 255)};

class SettingsPanel final : public QObject {
    Q_OBJECT
  public:
    // Every change of a control writes to the module through `session`.
    SettingsPanel(QWidget* window, SettingsHost& host, const SettingsLayout& layout,
                  session::ModuleSession& session);

    // The controls that would write or read the module are disabled while an operation runs;
    // the settings' own enabled-state rules hold beneath that and come back when it ends.
    void refreshEnabled();

    // The handlers, by the controls' names.
    void Slider1_Change() { sliderChanged(0); }
    void Slider2_Change() { sliderChanged(1); }
    void Slider3_Change() { sliderChanged(2); }
    void Slider4_Change() { sliderChanged(3); }
    // Compression or colour picked: both are written together, level + colour flag.
    void Combo2_Click();
    void Combo3_Click();
    // A standard frame size picked.
    void Combo5_Click();
    // "Произвольный": the typed size or the list, never both.
    void Check2_Click();
    // "Тестовый режим": the picture is fixed, so the controls that shape it are held.
    void Check3_Click();
    // The typed size, brought to what the module takes, shown, and written.
    void Command4_Click();
    // Read-backs: compression and colour, the four levels, the frame size.
    void Command9_Click();
    void Command10_Click();
    void Command1_Click();

    static QString compressionRefusedTitle();

  private:
    // `operation(session)` posted; `done` with its result once it has ended.
    template <class Operation, class Done>
    void operate(Operation operation, Done done);
    // A write posted; its fault, if any, told.
    template <class Operation>
    void write(Operation operation);
    void sliderChanged(int index);
    // The indicator busy around a read-back; its result shown or the operator told.
    template <class T, class Show>
    void readBack(protocol::Result<T> (session::ModuleSession::*read)(), Show show);
    void told(const protocol::Result<void>& result);
    void setRuleEnabled(QWidget* control, bool enabled);
    void applyEnabled(QWidget* control);

    SettingsHost& host_;
    session::ModuleSession& session_;

    QComboBox* Combo2;
    QComboBox* Combo3;
    QComboBox* Combo5;
    std::array<QSlider*, session::kLevelCount> sliders_{};
    QCheckBox* Check2;
    QCheckBox* Check3;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QPushButton* Command4;
    // The controls that talk to the module, and those a settings rule has disabled.
    std::vector<QWidget*> talking_;
    QHash<QWidget*, bool> disabledByRule_;
};

}  // namespace ui
