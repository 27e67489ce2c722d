// Shared pieces of the emulator tests: a clock that moves only when told, and the module with its
// SPI slave behind the emulated port, driven by the PC-side SPI link.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "emulator/camera_module.h"
#include "emulator/emulated_port.h"
#include "emulator/emulator_log.h"
#include "emulator/spi_slave.h"
#include "lpt/spi_link.h"

namespace emulator::testing {

class ManualClock {
  public:
    CameraModule::NowFunction function() {
        return [this] { return now_; };
    }
    void advance(std::chrono::microseconds d) { now_ += d; }

  private:
    CameraModule::TimePoint now_{std::chrono::seconds(1)};
};

inline constexpr std::chrono::milliseconds kTestCaptureTime{50};

inline CameraModule::Options optionsWith(ManualClock& clock,
                                         std::optional<std::vector<std::uint8_t>> fixedFrame = {}) {
    CameraModule::Options options;
    options.captureTime = kTestCaptureTime;
    options.now = clock.function();
    options.fixedFrame = std::move(fixedFrame);
    return options;
}

inline std::vector<LogEntry> entriesWithBytes(const EmulatorLog& log, LogKind kind,
                                              std::vector<std::uint8_t> bytes) {
    std::vector<LogEntry> found;
    for (const LogEntry& e : log.entriesOf(kind)) {
        if (e.bytes == bytes) {
            found.push_back(e);
        }
    }
    return found;
}

}  // namespace emulator::testing
