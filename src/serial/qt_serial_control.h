// The serial control on a real serial device, through QSerialPort. COMn stands for /dev/ttyS(n-1)
// unless the port map says otherwise (the command line's --comN=DEV, a pseudo-terminal of the
// emulator).
//
// The QSerialPort is made by the open and goes with the close, on the thread that talks to the
// line. That thread need not run an event loop: told so (readWhenLookedAt), every look at the
// line takes in what has arrived with QSerialPort's blocking calls, as in Qt's blocking serial
// examples; otherwise its own notifier does, and tells of it (readyRead).
#pragma once

#include <QSerialPort>
#include <array>
#include <memory>

#include "protocol/encodings.h"
#include "serial/serial_control.h"

namespace serial {

// Which device each of COM1..COM4 stands for.
class PortMap {
  public:
    static constexpr int kPortCount = 4;

    PortMap();
    // COMn (1..4) is `device` from now on.
    void assign(int portNumber, std::string device);
    // The device of COMn; an empty string for a number outside 1..4.
    std::string deviceOf(int portNumber) const;

  private:
    std::array<std::string, kPortCount> devices_;
};

class QtSerialControl final : public SerialControl {
  public:
    explicit QtSerialControl(PortMap ports);
    ~QtSerialControl() override;

    void setCommPort(int portNumber) override { portNumber_ = portNumber; }
    int commPort() const override { return portNumber_; }
    std::string deviceOf(int portNumber) const override { return ports_.deviceOf(portNumber); }

    bool setBaud(std::uint32_t baud) override;
    std::uint32_t baud() const override { return baud_; }

    std::optional<OpenFailure> open() override;
    void close() override;
    bool isOpen() const override { return port_ != nullptr && port_->isOpen(); }

    void output(std::span<const std::uint8_t> bytes) override;
    std::size_t inBufferCount() override;
    std::vector<std::uint8_t> input() override;

    std::optional<LineFault> takeLineFault() override;
    void readWhenLookedAt() override { readOnLook_ = true; }
    int descriptor() const override {
        return isOpen() && !deviceLost_ ? static_cast<int>(port_->handle()) : -1;
    }

  private:
    bool applyLine(std::uint32_t baud);
    void noteError(QSerialPort::SerialPortError error);
    void noteFault(LineFault fault);
    void closeLostDevice();
    // What the system has received goes into QSerialPort's buffer, without waiting.
    void takeInArrived();

    PortMap ports_;
    std::unique_ptr<QSerialPort> port_;  // while open
    int portNumber_ = 1;
    std::uint32_t baud_ = protocol::kResetBaud;
    bool opening_ = false;
    // One report per open: a line that keeps failing would otherwise report at every tick.
    bool faultReported_ = false;
    std::optional<LineFault> pendingFault_;
    bool deviceLost_ = false;
    bool readOnLook_ = false;
    // Bytes Qt had received when the device was lost, until input() takes them.
    std::vector<std::uint8_t> receivedBeforeLoss_;
};

}  // namespace serial
