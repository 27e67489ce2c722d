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
#include <chrono>
#include <cstdio>
#include <vector>

#include "session/real_clock.h"
#include "spi_download_rig.h"
#include "ui/operator_dialogs.h"
#include "ui/spi_form.h"

namespace {

using namespace bench;

constexpr int kRounds = 3;

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
    session::RealClock real_;
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
    expectWholeFrame("window download", frame, store.frame());
    window.close();
    return took;
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
