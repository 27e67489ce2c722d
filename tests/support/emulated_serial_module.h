// An emulated camera module serving its serial port on a pseudo-terminal in this process, for
// tests and benchmarks that drive the serial window through a real serial port.
#pragma once

#include <stdexcept>
#include <string>

#include "emulator/in_process_module.h"

namespace testing_support {

// Serving from the start: a module that cannot be served fails the test that makes it.
struct EmulatedSerialModule : emulator::InProcessSerialModule {
    explicit EmulatedSerialModule(emulator::CameraModule::Options options = {})
        : InProcessSerialModule(std::move(options)) {
        std::string error;
        const auto path = peer.start({}, error);
        if (!path) {
            throw std::runtime_error("cannot serve the emulated module: " + error);
        }
        device = *path;
    }

    std::string device;  // the pseudo-terminal the PC side opens
};

}  // namespace testing_support
