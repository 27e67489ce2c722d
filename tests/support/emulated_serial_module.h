// An emulated camera module serving its serial port on a pseudo-terminal in this process, for
// tests and benchmarks that drive the serial window through a real serial port.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "emulator/camera_module.h"
#include "emulator/emulator_log.h"
#include "emulator/serial_peer.h"

namespace testing_support {

struct EmulatedSerialModule {
    explicit EmulatedSerialModule(emulator::CameraModule::Options options = {})
        : module(log, std::move(options)), peer(module, log) {
        std::string error;
        const auto path = peer.start({}, error);
        if (!path) {
            throw std::runtime_error("cannot serve the emulated module: " + error);
        }
        device = *path;
    }

    emulator::EmulatorLog log;
    emulator::CameraModule module;
    emulator::SerialPeer peer;
    std::string device;  // the pseudo-terminal the PC side opens
};

}  // namespace testing_support
