// Which serial port is in use and when it is open: COM2 at 2400 baud from the start, a close and
// reopen on every choice of port, closed when the window goes.
#pragma once

#include <optional>

#include "serial/serial_control.h"

namespace serial {

class PortSession {
  public:
    static constexpr int kStartPortNumber = 2;

    explicit PortSession(SerialControl& control) : control_(control) {}

    // Line settings for 2400 baud, COM2, open. The failure, if the port did not open.
    std::optional<OpenFailure> start();
    // Close, the new port number (1..4), open at the settings in force; also for the port in use.
    std::optional<OpenFailure> choosePort(int portNumber);
    void close() { control_.close(); }

    int portNumber() const { return portNumber_; }

  private:
    SerialControl& control_;
    int portNumber_ = kStartPortNumber;
};

}  // namespace serial
