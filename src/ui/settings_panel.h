// The camera-settings controls of the window ("Настройка камеры", the frame-size rows and
// "Тестовый режим"), their event binding, and the settings' view of them. The behaviour lives in
// protocol::CameraSettings; this class only binds events and holds control state.
#pragma once

#include <QHash>
#include <QObject>
#include <QRect>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/clock.h"
#include "protocol/module_link.h"
#include "protocol/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QWidget;

namespace ui {

// The window's side of the settings: what they need of the window around their controls, and
// how a handler that talks to the module runs as one operation with the link.
class SettingsHost : public protocol::SettingsWindow {
  public:
    virtual void runExchange(const std::function<void()>& operation) = 0;
};

// Where the frame-size rows and the test-mode box sit; the two windows differ only there.
struct SettingsLayout {
    int frameSizeRowTop;  // twips: "Размер кадра", its box and "Считать"
    int arbitraryRowTop;  // twips: "Произвольный", width x height, "Записать"
    QRect testModeBox;    // twips: left, top, width, height of "Тестовый режим"
};
inline const SettingsLayout kParallelPortLayout{5040, 5520, QRect(120, 6120, 1815, 255)};
inline const SettingsLayout kSerialLayout{5160, 5640, QRect(120, 6000, 2655, 255)};

class SettingsPanel final : public QObject, public protocol::SettingsView {
    Q_OBJECT
  public:
    // Every change of a control writes to the module through `link`, with the program's waits.
    SettingsPanel(QWidget* window, SettingsHost& host, const SettingsLayout& layout,
                  protocol::ModuleLink& link, protocol::Clock& clock,
                  protocol::SettingsPolicy policy);

    // While the link is busy the controls that would write or read the module are disabled;
    // the settings' own enabled-state rules hold beneath that and come back when it ends.
    void setLinkBusy(bool busy);

    // The handlers, by the controls' names.
    void Slider1_Change() { sliderChanged(0); }
    void Slider2_Change() { sliderChanged(1); }
    void Slider3_Change() { sliderChanged(2); }
    void Slider4_Change() { sliderChanged(3); }
    void Combo2_Click();
    void Combo3_Click();
    void Combo5_Click();
    void Check2_Click();
    void Check3_Click();
    void Command4_Click();
    void Command9_Click();
    void Command10_Click();
    void Command1_Click();
    void Command2_Click();

    // protocol::SettingsView
    std::string compressionText() const override;
    std::string colourText() const override;
    std::string frameSizeText() const override;
    std::string widthText() const override;
    std::string heightText() const override;
    void showCompressionText(const std::string& text) override;
    void showColourText(const std::string& text) override;
    void showFrameSizeText(const std::string& text) override;
    void showWidthText(const std::string& text) override;
    void showHeightText(const std::string& text) override;
    void setSliderPosition(protocol::LevelSlider slider, int position) override;
    void setArbitrarySizeTicked(bool ticked) override;
    void setControlEnabled(protocol::SettingsControl control, bool enabled) override;

  private:
    void sliderChanged(int index);
    QWidget* controlFor(protocol::SettingsControl control) const;
    // Runs a settings operation as one operation with the link.
    void exchange(void (protocol::CameraSettings::*operation)());
    void applyEnabled(QWidget* control);

    SettingsHost& host_;
    protocol::CameraSettings settings_;

    QComboBox* Combo2;
    QComboBox* Combo3;
    QComboBox* Combo5;
    std::array<QSlider*, protocol::kLevelSliderCount> sliders_{};
    QCheckBox* Check2;
    QCheckBox* Check3;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QPushButton* Command4;
    // The controls that talk to the module, and those a settings rule has disabled.
    std::vector<QWidget*> talking_;
    QHash<QWidget*, bool> disabledByRule_;
    bool linkBusy_ = false;
};

}  // namespace ui
