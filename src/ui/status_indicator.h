// The module's busy/ready indicator: a label with a coloured background and a caption.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>

class QLabel;

namespace ui {

// Colours are given as Windows colour values, 0x00BBGGRR, as the window's design lists them.
constexpr QColor fromWindowsColour(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

class StatusIndicator {
  public:
    static constexpr std::uint32_t kBusyColour = 255;      // red
    static constexpr std::uint32_t kReadyColour = 65280;   // green
    static constexpr std::uint32_t kNoLinkColour = 65535;  // yellow
    static const QString kBusyCaption;
    static const QString kReadyCaption;
    static QString noLinkCaption();  // in the language installed

    explicit StatusIndicator(QLabel* label);

    // Background first, then caption. Setting the state it already shows changes nothing, so
    // the status poll on every timer tick costs no repaint.
    void showBusy();
    void showReady();
    void showReadyFlag(bool ready) { ready ? showReady() : showBusy(); }
    // The port gave no status (no port access, the connection to a simulator gone): neither
    // "BUSY" nor "READY" would be the module's word.
    void showNoLink();

  private:
    enum class State { Empty, Busy, Ready, NoLink };
    void show(State state, std::uint32_t colour, const QString& caption);

    QLabel* label_;
    State state_ = State::Empty;
};

}  // namespace ui
