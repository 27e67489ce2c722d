// A frame download over an FTDI adapter's MPSSE engine, the adapter the tests' fake one in front
// of the emulated module: prints the USB round trips per downloaded byte and the rate the
// download would have at an assumed 125 us a round trip (a USB 2.0 high-speed adapter's
// microframe). Exits 1 when the frame does not arrive whole.
//
//   cmake --build build --target ftdi_download_bench
//   build/bench/ftdi_download_bench
#include <cstdio>

#include "lpt/ftdi_port.h"
#include "spi_download_rig.h"
#include "support/fake_mpsse_adapter.h"

int main() {
    constexpr double kRoundTripSeconds = 125e-6;
    const std::vector<std::uint8_t> frame = bench::randomFrame();
    emulator::CameraModule::Options options;
    options.captureTime = std::chrono::microseconds(0);
    options.fixedFrame = frame;
    emulator::InProcessSpiModule module(options);
    testing_support::FakeMpsseAdapter adapter(module.port);
    lpt::FtdiPort ftdi(adapter);
    lpt::SpiLink link(ftdi);
    if (!link.startPortAccess()) {
        std::fprintf(stderr, "cannot start: %s\n", ftdi.fault().c_str());
        return 1;
    }
    link.enterStartState();
    protocol::sendCommand(link, protocol::command::kCapture);
    protocol::sendCommand(link, protocol::command::kFrameRead);
    frames::FrameStore store;
    const std::uint64_t before = ftdi.roundTrips();
    lpt::downloadFrame(link, store);
    bench::expectWholeFrame("ftdi", frame, store.frame());
    const auto trips = static_cast<double>(ftdi.roundTrips() - before);
    const auto bytes = static_cast<double>(frame.size());
    std::printf(
        "%zu bytes, %.0f round trips: %.2f a byte; at 125 us a round trip %.1f KB/s "
        "(%.1f s a frame)\n",
        frame.size(), trips, trips / bytes, bytes / (trips * kRoundTripSeconds) / 1000,
        trips * kRoundTripSeconds);
    return 0;
}
