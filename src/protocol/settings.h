// The camera settings: each control writes its register the moment it changes, and four read-backs
// bring the module's registers back into the controls. One implementation for both programs; what
// differs between them (waits, the status indicator) is the policy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/clock.h"
#include "protocol/encodings.h"
#include "protocol/module_link.h"
#include "protocol/registers.h"

namespace protocol {

// Controls whose enabled state the settings change.
enum class SettingsControl {
    FrameSizeBox,
    ArbitrarySizeCheck,
    WidthBox,
    HeightBox,
    BrightnessSlider,
    WriteSizeButton
};

// The four sliders: brightness, then R, G, B.
enum class LevelSlider { Brightness = 0, Red = 1, Green = 2, Blue = 3 };
inline constexpr int kLevelSliderCount = 4;

// The settings' view of their controls: read and show control values. Texts are UTF-8. Setting a
// slider's position or a tick must run that control's change handler when the value changes, as a
// change by the operator does; setting a combo box's text runs nothing.
class SettingsView {
  public:
    virtual ~SettingsView() = default;

    virtual std::string compressionText() const = 0;
    virtual std::string colourText() const = 0;
    virtual std::string frameSizeText() const = 0;
    virtual std::string widthText() const = 0;
    virtual std::string heightText() const = 0;

    virtual void showCompressionText(const std::string& text) = 0;
    virtual void showColourText(const std::string& text) = 0;
    virtual void showFrameSizeText(const std::string& text) = 0;
    virtual void showWidthText(const std::string& text) = 0;
    virtual void showHeightText(const std::string& text) = 0;
    virtual void setSliderPosition(LevelSlider slider, int position) = 0;
    virtual void setArbitrarySizeTicked(bool ticked) = 0;
    virtual void setControlEnabled(SettingsControl control, bool enabled) = 0;
};

// What the settings need of the program's window around their controls: its timer, its status
// indicator, its SPI mode buttons, and a way to tell the operator.
class SettingsWindow {
  public:
    virtual ~SettingsWindow() = default;

    virtual void setPollingEnabled(bool enabled) = 0;  // Timer1
    // The status indicator during a read-back (a window without one shows nothing).
    virtual void showBusy() {}
    virtual void showReady() {}
    // Selects SPI mode button `mode`; its handler runs when the selection changes.
    virtual void selectSpiMode(int /*mode*/) {}

    // A fault the operator must hear of; nothing else changed.
    virtual void tellOperator(const std::string& title, const std::string& text) = 0;
};

// What differs between the programs.
struct SettingsPolicy {
    // The serial program holds the window still for 3 s after a compression write, so the module
    // has finished before anything else goes out.
    bool freezeAfterCompressionWrite = false;
    // The parallel-port program waits a second between the reads of a read-back.
    bool waitBetweenReads = false;
    // The parallel-port program shows "BUSY" during a read-back and "READY" after.
    bool indicatorDuringReadBack = false;
};

inline constexpr SettingsPolicy kParallelPortPolicy{false, true, true};
inline constexpr SettingsPolicy kSerialPolicy{true, false, false};

class CameraSettings {
  public:
    CameraSettings(ModuleLink& link, Clock& clock, SettingsView& view, SettingsWindow& window,
                   SettingsPolicy policy);

    // Writes.
    void sliderChanged(LevelSlider slider, int position);
    void compressionOrColourPicked();
    void standardSizePicked();
    void writeArbitrarySize();
    void arbitrarySizeToggled(bool ticked);
    void testModeToggled(bool ticked);

    // Read-backs.
    void readCompression();
    void readLevels();
    void readFrameSize();
    void readSpiMode();

    // Texts the operator sees when something is refused or fails.
    static const std::string kNoAnswerTitle;
    static const std::string kNoAnswerText;
    static const std::string kCompressionRefusedTitle;

  private:
    void writeFrameSize(FrameSize size);
    void beginReadBack();
    void endReadBack();
    void waitBetweenReads();
    void tellNoAnswer();

    ModuleLink& link_;
    Clock& clock_;
    SettingsView& view_;
    SettingsWindow& window_;
    SettingsPolicy policy_;
};

}  // namespace protocol
