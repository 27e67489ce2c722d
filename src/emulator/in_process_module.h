// A whole emulated module in this process, behind either link: on a parallel port, what SPI
// --emulator, camctl --emulator=spi, the end-to-end tests and the benchmarks put behind the SPI
// link; with its serial port on a pseudo-terminal, what comtrak --emulator, camctl
// --emulator=serial and the serial end-to-end tests open.
#pragma once

#include "emulator/camera_module.h"
#include "emulator/emulated_port.h"
#include "emulator/emulator_log.h"
#include "emulator/serial_peer.h"
#include "emulator/spi_slave.h"

namespace emulator {

struct InProcessSpiModule {
    explicit InProcessSpiModule(CameraModule::Options moduleOptions = {},
                                EmulatedPort::Options portOptions = {})
        : module(log, std::move(moduleOptions)),
          slave(module),
          port(slave, std::move(portOptions)) {}

    EmulatorLog log;
    CameraModule module;
    SpiSlave slave;
    EmulatedPort port;
};

// The pseudo-terminal is there once peer.start() has given its path; it goes with the module.
struct InProcessSerialModule {
    explicit InProcessSerialModule(CameraModule::Options moduleOptions = {},
                                   SerialPeer::Options peerOptions = {})
        : module(log, std::move(moduleOptions)), peer(module, log, peerOptions) {}

    EmulatorLog log;
    CameraModule module;
    SerialPeer peer;
};

}  // namespace emulator
