// An emulated camera module serving its serial port on a pseudo-terminal in this process, for
// tests and benchmarks that drive the serial window through a real serial port.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "emulator/in_process_module.h"
#include "support/compressed_clock.h"

namespace testing_support {

// Serving from the start: a module that cannot be served fails the test that makes it.
struct EmulatedSerialModule : emulator::InProcessSerialModule {
    explicit EmulatedSerialModule(emulator::CameraModule::Options options = {},
                                  emulator::SerialPeer::Options peerOptions = {})
        : InProcessSerialModule(std::move(options), peerOptions) {
        std::string error;
        const auto path = peer.start({}, error);
        if (!path) {
            throw std::runtime_error("cannot serve the emulated module: " + error);
        }
        device = *path;
    }

    // The clock's waits follow this line: skipped while it is quiet for good, and the time
    // stands still while the peer is behind its pace. Given the count of bytes the PC wrote, the
    // line is quiet only once the module has taken them all: a pseudo-terminal hands them over
    // at the kernel's pace, and a loaded machine may keep them in flight past the PC's next step.
    void pace(CompressedClock& clock, const std::atomic<std::uint64_t>* sentByPc = nullptr) const {
        clock.lineQuiet = [this, sentByPc] {
            return peer.lineQuiet() && (sentByPc == nullptr || peer.bytesTaken() >= *sentByPc);
        };
        clock.lineLag = [this] { return peer.sendingLag(); };
    }

    std::string device;  // the pseudo-terminal the PC side opens
};

}  // namespace testing_support
