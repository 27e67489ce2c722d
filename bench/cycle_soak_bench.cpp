// Soak of the capture cycle: 200 cycle steps of each program's window against the emulated
// module (SPI on the emulated parallel port, comtrak through QSerialPort on a pseudo-terminal at
// 115200 baud). Every frame a step views must be the frame the module sent in the step before,
// and the program's memory must stay flat. The cycle's one-second waits are shortened (the window
// still processes its events in them), so the soak takes a minute, not half an hour.
//
//   cmake --build build-rel --target cycle_soak_bench
//   QT_QPA_PLATFORM=offscreen build-rel/bench/cycle_soak_bench [steps]
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>

#include "emulator/in_process_module.h"
#include "emulator/serial_peer.h"
#include "serial/qt_serial_control.h"
#include "serial/serial_link.h"
#include "ui/comtrak_form.h"
#include "ui/operator_dialogs.h"
#include "ui/spi_form.h"

namespace {

constexpr int kDefaultSteps = 200;
constexpr int kWarmUpSteps = 10;
constexpr std::uint32_t kSoakBaud = 115200;

// Real time, but every wait is one short pass of the event loop, and a hook sees each wait.
class ShortWaitClock final : public protocol::Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now() + skipped_; }
    void waitYielding(Duration d) override {
        if (onWait) {
            onWait();
        }
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(2), &loop, &QEventLoop::quit);
        loop.exec();
        skipped_ += d;
    }
    void waitBlocking(Duration d) override { skipped_ += d; }
    void yieldOnce() override { QApplication::processEvents(); }

    std::function<void()> onWait;

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
    int viewsChecked = 0;
    int viewsMatching = 0;
    int picturesShown = 0;
    long rssAfterWarmUp = 0;
    long rssAtEnd = 0;
    double seconds = 0;
};

// Watches one window's cycle: a view's wait finds the buffer holding the frame to show, which
// must be the frame the module sent last; each capture is one step.
class SoakWatch {
  public:
    SoakWatch(ShortWaitClock& clock, const frames::FrameStore& store,
              const emulator::CameraModule& module, const QLabel& picture)
        : store_(store), module_(module), picture_(picture) {
        clock.onWait = [this] { atWait(); };
    }

    // Runs the window's event loop until `steps` steps have run (or a step stalls).
    SoakResult run(int steps) {
        const auto start = std::chrono::steady_clock::now();
        const std::uint32_t first = module_.framesCaptured();
        auto lastProgress = std::chrono::steady_clock::now();
        std::uint32_t seen = first;
        while (module_.framesCaptured() - first < static_cast<std::uint32_t>(steps)) {
            QEventLoop loop;
            QTimer::singleShot(std::chrono::milliseconds(5), &loop, &QEventLoop::quit);
            loop.exec();
            if (module_.framesCaptured() != seen) {
                seen = module_.framesCaptured();
                lastProgress = std::chrono::steady_clock::now();
                if (seen - first == kWarmUpSteps) {
                    result_.rssAfterWarmUp = residentKilobytes();
                }
            } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::seconds(10)) {
                std::fprintf(stderr, "the cycle stalled after %u steps\n", seen - first);
                break;
            }
        }
        result_.steps = static_cast<int>(module_.framesCaptured() - first);
        result_.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        result_.rssAtEnd = residentKilobytes();
        return result_;
    }

  private:
    void atWait() {
        const std::uint32_t step = module_.framesCaptured();
        if (store_.count() == 0 || !checkedSteps_.insert(step).second) {
            return;  // the capture-to-read wait (buffer cleared), or this view's second wait
        }
        const std::vector<std::uint8_t> sent = module_.currentFrame();
        ++result_.viewsChecked;
        result_.viewsMatching += std::ranges::equal(store_.frame(), sent) ? 1 : 0;
        const qint64 shown = picture_.pixmap().cacheKey();
        result_.picturesShown += shown != lastPicture_ ? 1 : 0;
        lastPicture_ = shown;
    }

    const frames::FrameStore& store_;
    const emulator::CameraModule& module_;
    const QLabel& picture_;
    std::set<std::uint32_t> checkedSteps_;
    qint64 lastPicture_ = 0;
    SoakResult result_;
};

emulator::CameraModule::Options quickModule() {
    emulator::CameraModule::Options options;
    options.captureTime = std::chrono::microseconds(0);
    return options;
}

SoakResult soakSpi(int steps) {
    emulator::InProcessSpiModule module(quickModule());
    lpt::SpiLink link(module.port);
    frames::FrameStore store;
    ShortWaitClock clock;
    ui::QtOperatorDialogs dialogs;
    ui::SpiForm window(link, store, clock, dialogs);
    window.Form_Load();
    window.show();
    SoakWatch watch(clock, store, module.module, *window.findChild<QLabel*>("Picture1"));
    // A first frame by hand, then "Цикл".
    window.Command12_Click();
    window.Command7_Click();
    window.findChild<QCheckBox*>("Check1")->setChecked(true);
    const SoakResult result = watch.run(steps);
    window.close();
    return result;
}

SoakResult soakComtrak(int steps) {
    emulator::EmulatorLog log;
    emulator::CameraModule module(log, quickModule());
    emulator::SerialPeer peer(module, log);
    std::string error;
    const auto device = peer.start({}, error);
    if (!device) {
        std::fprintf(stderr, "cannot serve the emulated module: %s\n", error.c_str());
        return {};
    }
    serial::PortMap ports;
    ports.assign(2, *device);
    serial::QtSerialControl control(ports);
    ShortWaitClock clock;
    serial::SerialLink link(control, clock);
    frames::FrameStore store;
    ui::QtOperatorDialogs dialogs;
    ui::ComtrakForm window(control, link, store, clock, dialogs);
    window.Form_Load();
    window.show();
    // Both ends to 115200, as the operator would before a long run.
    window.findChild<QComboBox*>("Combo4")->setCurrentText(QString::number(kSoakBaud));
    window.Command15_Click();
    SoakWatch watch(clock, store, module, *window.findChild<QLabel*>("Picture1"));
    // The first frame by hand: capture, read, and let it arrive before "Цикл".
    window.Command12_Click();
    window.Command7_Click();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (store.count() == 0 && std::chrono::steady_clock::now() < deadline) {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(5), &loop, &QEventLoop::quit);
        loop.exec();
    }
    window.findChild<QCheckBox*>("Check1")->setChecked(true);
    const SoakResult result = watch.run(steps);
    window.close();
    peer.stop();
    return result;
}

void report(const char* program, const SoakResult& r) {
    std::printf(
        "%-8s %d steps in %.1f s; viewed frame == frame sent the step before: %d of %d views; "
        "picture changed between views: %d; RSS after %d steps %ld KiB, at the end %ld KiB (%+ld "
        "KiB)\n",
        program, r.steps, r.seconds, r.viewsMatching, r.viewsChecked, r.picturesShown, kWarmUpSteps,
        r.rssAfterWarmUp, r.rssAtEnd, r.rssAtEnd - r.rssAfterWarmUp);
}

bool passed(const SoakResult& r, int steps) {
    return r.steps >= steps && r.viewsChecked >= steps && r.viewsMatching == r.viewsChecked;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(kWarmUpSteps + 1, std::atoi(argv[1])) : kDefaultSteps;
    const SoakResult spi = soakSpi(steps);
    report("SPI", spi);
    const SoakResult comtrak = soakComtrak(steps);
    report("comtrak", comtrak);
    return passed(spi, steps) && passed(comtrak, steps) ? 0 : 1;
}
