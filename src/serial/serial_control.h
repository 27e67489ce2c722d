// The serial communications control the comtrak program talks through: the port number, the line
// settings string, open/close, and the send and receive buffers. An interface so the link can run
// on QSerialPort in the program and on a scripted line in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace serial {

// Why a port did not open: what the operator has to do about it differs.
// SpeedRefused: the line did not take the speed asked for before it was opened.
enum class OpenFault { NotFound, NoPermission, Busy, SettingsRefused, SpeedRefused, Other };

struct OpenFailure {
    OpenFault fault;
    std::string device;  // the system device the port number stands for
    std::string reason;  // the system's own words
};

// A fault the line reported under way: the system's own words, and whether the device went away
// with it (after which the port is closed).
struct LineFault {
    bool hungUp = false;
    std::string systemError;

    friend bool operator==(const LineFault&, const LineFault&) = default;
};

class SerialControl {
  public:
    virtual ~SerialControl() = default;

    // CommPort: 1 for COM1 ... 4 for COM4. Takes effect at the next open.
    virtual void setCommPort(int portNumber) = 0;
    virtual int commPort() const = 0;
    // The device COMn stands for.
    virtual std::string deviceOf(int portNumber) const = 0;

    // Settings: the line speed in baud; the framing is always no parity, 8 data bits, 1 stop bit
    // ("speed,N,8,1"). Applies to an open line at once. False when the line refuses the speed;
    // the speed in force then stays. A control starts at the module's start speed.
    virtual bool setBaud(std::uint32_t baud) = 0;
    virtual std::uint32_t baud() const = 0;

    // PortOpen = true: nullopt when the port is open, else why it is not.
    virtual std::optional<OpenFailure> open() = 0;
    // PortOpen = false. Closing a closed port does nothing.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Output: the bytes go to the line in order, handed to the system at once. Nothing happens
    // while the port is closed.
    virtual void output(std::span<const std::uint8_t> bytes) = 0;
    // InBufferCount: bytes received and not yet taken.
    virtual std::size_t inBufferCount() = 0;
    // Input: every byte waiting, in arrival order; empty when none wait.
    virtual std::vector<std::uint8_t> input() = 0;

    // A fault the line reported since the last call (the device went away, a read failed), once
    // each; nullopt when there is none.
    virtual std::optional<LineFault> takeLineFault() = 0;

    // From now on, every look at the line (inBufferCount, input) takes in what has arrived: for a
    // control on a thread that runs no event loop. A control that reads by itself ignores it.
    virtual void readWhenLookedAt() {}
    // The system's descriptor of the open line, to wait on for bytes or a hang-up; -1 while
    // closed, or for a control that has none.
    virtual int descriptor() const { return -1; }

    // Told when bytes have arrived or the line has reported a fault, so a reader need not look at
    // the line on a timer. It may be told inside a call of this control (a send the far end
    // answers at once, a write that meets a hang-up): the one told defers its work.
    void onLineEvent(std::function<void()> told) { lineEvent_ = std::move(told); }

  protected:
    void tellLineEvent() {
        if (lineEvent_) {
            lineEvent_();
        }
    }

  private:
    std::function<void()> lineEvent_;
};

}  // namespace serial
