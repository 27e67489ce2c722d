// What the SPI download benchmarks share: a 65,000-byte frame of random bytes, an emulated module
// that sends it behind a port taking 1 us per access like an ISA/LPC parallel port, and the bare
// download loop every other path is measured against.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "emulator/in_process_module.h"
#include "lpt/frame_download.h"
#include "protocol/wire.h"

namespace bench {

constexpr std::size_t kFrameBytes = 65000;
constexpr auto kPortAccessTime = std::chrono::microseconds(1);

using Seconds = std::chrono::duration<double>;

inline std::vector<std::uint8_t> randomFrame() {
    std::mt19937 generator(12345);
    std::vector<std::uint8_t> frame(kFrameBytes);
    for (auto& b : frame) {
        b = static_cast<std::uint8_t>(generator());
    }
    return frame;
}

inline emulator::InProcessSpiModule makeModule(const std::vector<std::uint8_t>& frame) {
    emulator::CameraModule::Options module;
    module.captureTime = std::chrono::microseconds(0);
    module.fixedFrame = frame;
    emulator::EmulatedPort::Options port;
    port.accessDelay = kPortAccessTime;
    return emulator::InProcessSpiModule(module, port);
}

// Exits with 1 unless `stored` is exactly the frame: a fast path that loses bytes is no result.
inline void expectWholeFrame(const char* path, const std::vector<std::uint8_t>& frame,
                             std::span<const std::uint8_t> stored) {
    if (stored.size() != frame.size() || !std::equal(frame.begin(), frame.end(), stored.begin())) {
        std::fprintf(stderr, "%s lost bytes: %zu stored\n", path, stored.size());
        std::exit(1);
    }
}

// The bare loop: the frame-read command and the download, nothing else but `watch` (if any) told
// of every access.
inline Seconds bareDownload(const std::vector<std::uint8_t>& frame,
                            lpt::PortWatch* watch = nullptr) {
    auto module = makeModule(frame);
    lpt::SpiLink link(module.port);
    link.setPortWatch(watch);
    frames::FrameStore store;
    link.enterStartState();
    protocol::sendCommand(link, protocol::command::kCapture);
    const auto start = std::chrono::steady_clock::now();
    protocol::sendCommand(link, protocol::command::kFrameRead);
    lpt::downloadFrame(link, store);
    const Seconds took = std::chrono::steady_clock::now() - start;
    expectWholeFrame("bare download", frame, store.frame());
    return took;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace bench
