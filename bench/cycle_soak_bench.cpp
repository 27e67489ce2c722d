// Soak of the capture cycle: 200 cycle steps of the SPI window against the emulated module.
// Every frame the window views must be the frame the module sent in the step before, and the
// program's memory must stay flat. The cycle's one-second waits are shortened (the window still
// processes its events in them), so the soak takes seconds, not ten minutes.
//
//   cmake --build build-rel --target cycle_soak_bench
//   QT_QPA_PLATFORM=offscreen build-rel/bench/cycle_soak_bench
#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "emulator/in_process_module.h"
#include "ui/operator_dialogs.h"
#include "ui/spi_form.h"
#include "ui/wait.h"

namespace {

constexpr int kDefaultSteps = 200;
int gSteps = kDefaultSteps;
constexpr int kWarmUpSteps = 10;

// Real time, but every wait is one pass of the event loop: the cycle runs at full speed.
class ShortWaitClock final : public protocol::Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now() + skipped_; }
    void waitYielding(Duration d) override {
        QApplication::processEvents();
        skipped_ += d;
    }
    void waitBlocking(Duration d) override { skipped_ += d; }
    void yieldOnce() override { QApplication::processEvents(); }

  private:
    Duration skipped_{};
};

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct SoakResult {
    int steps = 0;
    int framesMatching = 0;
    int picturesShown = 0;
    long rssAfterWarmUp = 0;
    long rssAtEnd = 0;
    double seconds = 0;
};

SoakResult soakSpi() {
    emulator::CameraModule::Options options;
    options.captureTime = std::chrono::microseconds(0);
    emulator::InProcessSpiModule module(options);
    lpt::SpiLink link(module.port);
    frames::FrameStore store;
    ShortWaitClock clock;
    ui::QtOperatorDialogs dialogs;
    ui::SpiForm window(link, store, clock, dialogs);
    window.Form_Load();
    window.show();

    // A first frame by hand, then "Цикл".
    window.Command12_Click();
    window.Command7_Click();
    window.findChild<QCheckBox*>("Check1")->setChecked(true);
    auto* picture = window.findChild<QLabel*>("Picture1");

    SoakResult result;
    const auto start = std::chrono::steady_clock::now();
    for (int step = 0; step < gSteps; ++step) {
        // What the module sent last is what the buffer holds and what this step must show.
        const std::vector<std::uint8_t> sent = module.module.currentFrame();
        const bool bufferMatches =
            std::equal(sent.begin(), sent.end(), store.frame().begin(), store.frame().end());
        const qint64 pictureBefore = picture->pixmap().cacheKey();
        const std::uint32_t capturedBefore = module.module.framesCaptured();
        window.Timer1_Timer();  // the tick runs one cycle step
        if (module.module.framesCaptured() != capturedBefore + 1) {
            std::fprintf(stderr, "step %d captured no frame\n", step);
            break;
        }
        ++result.steps;
        result.framesMatching += bufferMatches ? 1 : 0;
        result.picturesShown += picture->pixmap().cacheKey() != pictureBefore ? 1 : 0;
        if (step + 1 == kWarmUpSteps) {
            result.rssAfterWarmUp = residentKilobytes();
        }
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.rssAtEnd = residentKilobytes();
    window.close();
    return result;
}

void report(const char* program, const SoakResult& r) {
    std::printf(
        "%s: %d steps in %.1f s; viewed frame == frame sent the step before: %d/%d; "
        "new picture shown: %d/%d; RSS after %d steps %ld KiB, after %d steps %ld KiB (%+ld KiB)\n",
        program, r.steps, r.seconds, r.framesMatching, r.steps, r.picturesShown, r.steps,
        kWarmUpSteps, r.rssAfterWarmUp, r.steps, r.rssAtEnd, r.rssAtEnd - r.rssAfterWarmUp);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1) {
        gSteps = std::max(kWarmUpSteps + 1, std::atoi(argv[1]));  // more steps for a longer soak
    }
    const SoakResult spi = soakSpi();
    report("SPI", spi);
    return spi.steps == gSteps && spi.framesMatching == gSteps ? 0 : 1;
}
