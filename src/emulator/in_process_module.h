// A whole emulated module on a parallel port, in this process: what SPI --emulator, the
// end-to-end tests and the benchmarks put behind the SPI link.
#pragma once

#include "emulator/camera_module.h"
#include "emulator/emulated_port.h"
#include "emulator/emulator_log.h"
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

}  // namespace emulator
