// Does the window slow a frame download down? Downloads a 65,000-byte frame from the emulated
// module, whose port takes 1 us per access like an ISA/LPC parallel port, twice over: through
// the real SPI window (count shown live, events processed) and through the bare download loop
// with nothing else to do. Reports both times and their ratio; the target is at most 1.05.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-rel --target spi_download_bench
//   QT_QPA_PLATFORM=offscreen build-rel/bench/spi_download_bench
//   xvfb-run -a build-rel/bench/spi_download_bench
#include <QApplication>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "emulator/in_process_module.h"
#include "lpt/frame_download.h"
#include "protocol/wire.h"
#include "serial/real_clock.h"
#include "ui/operator_dialogs.h"
#include "ui/spi_form.h"

namespace {

constexpr std::size_t kFrameBytes = 65000;
constexpr auto kPortAccessTime = std::chrono::microseconds(1);
constexpr int kRounds = 3;

using Seconds = std::chrono::duration<double>;

std::vector<std::uint8_t> randomFrame() {
    std::mt19937 generator(12345);
    std::vector<std::uint8_t> frame(kFrameBytes);
    for (auto& b : frame) {
        b = static_cast<std::uint8_t>(generator());
    }
    return frame;
}

emulator::InProcessSpiModule makeModule(const std::vector<std::uint8_t>& frame) {
    emulator::CameraModule::Options module;
    module.captureTime = std::chrono::microseconds(0);
    module.fixedFrame = frame;
    emulator::EmulatedPort::Options port;
    port.accessDelay = kPortAccessTime;
    return emulator::InProcessSpiModule(module, port);
}

// The bare loop: the frame-read command and the download, nothing else.
Seconds bareDownload(const std::vector<std::uint8_t>& frame) {
    auto module = makeModule(frame);
    lpt::SpiLink link(module.port);
    frames::FrameStore store;
    link.enterStartState();
    protocol::sendCommand(link, protocol::command::kCapture);
    const auto start = std::chrono::steady_clock::now();
    protocol::sendCommand(link, protocol::command::kFrameRead);
    lpt::downloadFrame(link, store);
    const Seconds took = std::chrono::steady_clock::now() - start;
    if (store.count() != kFrameBytes ||
        !std::equal(frame.begin(), frame.end(), store.frame().begin())) {
        std::fprintf(stderr, "bare download lost bytes: %u stored\n", store.count());
        std::exit(1);
    }
    return took;
}

// The real clock, with the time the window spends processing events added up.
class MeasuringClock final : public protocol::Clock {
  public:
    TimePoint now() const override { return real_.now(); }
    void waitYielding(Duration d) override { real_.waitYielding(d); }
    void waitBlocking(Duration d) override { real_.waitBlocking(d); }
    void yieldOnce() override {
        const auto start = std::chrono::steady_clock::now();
        real_.yieldOnce();
        inEvents += std::chrono::steady_clock::now() - start;
        ++yields;
    }
    Duration inEvents{};
    int yields = 0;

  private:
    serial::RealClock real_;
};

// The same through the window the operator sees, shown on the current platform.
Seconds windowDownload(const std::vector<std::uint8_t>& frame) {
    auto module = makeModule(frame);
    lpt::SpiLink link(module.port);
    frames::FrameStore store;
    ui::QtOperatorDialogs dialogs;
    MeasuringClock clock;
    ui::SpiForm window(link, store, clock, dialogs);
    window.Form_Load();
    window.show();
    QApplication::processEvents();
    window.Command12_Click();
    const auto start = std::chrono::steady_clock::now();
    window.Command7_Click();
    const Seconds took = std::chrono::steady_clock::now() - start;
    std::printf("  window: %d event passes, %.1f ms in them\n", clock.yields,
                std::chrono::duration<double, std::milli>(clock.inEvents).count());
    if (store.count() != kFrameBytes ||
        !std::equal(frame.begin(), frame.end(), store.frame().begin())) {
        std::fprintf(stderr, "window download lost bytes: %u stored\n", store.count());
        std::exit(1);
    }
    window.close();
    return took;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::vector<std::uint8_t> frame = randomFrame();
    std::vector<double> bare;
    std::vector<double> window;
    for (int round = 0; round < kRounds; ++round) {
        bare.push_back(bareDownload(frame).count());
        window.push_back(windowDownload(frame).count());
        std::printf("round %d: bare %.3f s, window %.3f s\n", round + 1, bare.back(),
                    window.back());
    }
    const double b = median(bare);
    const double w = median(window);
    std::printf("platform %s: %zu bytes at %lld us per port access\n",
                qPrintable(QGuiApplication::platformName()), kFrameBytes,
                static_cast<long long>(kPortAccessTime.count()));
    std::printf("bare loop   %.3f s\nwindow      %.3f s\nratio       %.4f (target <= 1.05)\n", b, w,
                w / b);
    return 0;
}
