// One camctl command over one link, as the program runs it: the link started (and put in the
// mode or at the speed asked for), the command, its lines on standard output and its messages on
// standard error, and the exit status. The program makes the port, or the emulated module, and
// the clock; the command runs the same on any of them.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "camctl/command_line.h"
#include "protocol/clock.h"
#include "protocol/exchange_trace.h"
#include "protocol/port_io.h"

namespace camctl {

// Ctrl-C: `catchInterrupt` is called as a capture begins (before it, Ctrl-C ends the run as
// usual), and the handler it installs sets `interrupted`.
struct Interrupt {
    const std::atomic<bool>& interrupted;
    std::function<void()> catchInterrupt;
};

// The SPI link on `port`.
int runSpi(const Options& o, protocol::PortIo& port, protocol::ExchangeTrace* trace,
           protocol::Clock& clock, const Interrupt& interrupt);

// The serial link on `device`. With `o.emulator` the module there starts at 2400 baud, like a
// module after its reset, and --baud is reached by a speed write, module first.
int runSerial(const Options& o, const std::string& device, protocol::ExchangeTrace* trace,
              protocol::Clock& clock, const Interrupt& interrupt);

}  // namespace camctl
