// The --port-io choice of the SPI program, turned into a port-I/O back-end. The in-process
// emulated module is chosen by the program itself, since this library knows nothing of it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "lpt/ppdev_port.h"
#include "protocol/port_io.h"

namespace lpt {

struct PortIoChoice {
    std::unique_ptr<protocol::PortIo> port;  // null when the value is not understood
    std::string error;                       // why, when `port` is null
};

// Accepts "auto" (ppdev when a parport device exists, else a back-end that fails to start
// with that reason), "ppdev", "direct" and "unix:PATH".
PortIoChoice makePortIo(std::string_view choice, const ParportPaths& paths = {});

}  // namespace lpt
