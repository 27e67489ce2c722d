// Does the serial window keep up with the line? Sends a 60,000-byte frame from the emulated
// module on a pseudo-terminal at 115200 baud into the real serial window (QSerialPort, the 1 ms
// reception poll, the count shown per batch) and reports the time from the frame-read command to
// the last byte stored, against the line time of the frame (10 bits per byte), and the bytes lost.
// The target is at most 1.02 times the line time and no byte lost.
//
//   cmake --build build --target comtrak_reception_bench
//   QT_QPA_PLATFORM=offscreen build/bench/comtrak_reception_bench
//   xvfb-run -a build/bench/comtrak_reception_bench
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "emulator/camera_module.h"
#include "emulator/emulator_log.h"
#include "emulator/serial_peer.h"
#include "protocol/wire.h"
#include "serial/qt_serial_control.h"
#include "serial/serial_link.h"
#include "session/real_clock.h"
#include "ui/comtrak_form.h"
#include "ui/operator_dialogs.h"

namespace {

constexpr std::size_t kFrameBytes = 60000;
constexpr std::uint32_t kBaud = 115200;
constexpr int kRounds = 2;
constexpr auto kGiveUpAfter = std::chrono::seconds(30);

using Seconds = std::chrono::duration<double>;

std::vector<std::uint8_t> randomFrame() {
    std::mt19937 generator(4711);
    std::vector<std::uint8_t> frame(kFrameBytes);
    for (auto& b : frame) {
        b = static_cast<std::uint8_t>(generator());
    }
    return frame;
}

// Runs the window's event loop until `done` holds, looking every millisecond; returns when it
// first held, or nullopt at the give-up time.
template <typename Done>
std::optional<std::chrono::steady_clock::time_point> runUntil(Done done) {
    const auto giveUp = std::chrono::steady_clock::now() + kGiveUpAfter;
    std::optional<std::chrono::steady_clock::time_point> reached;
    QEventLoop loop;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    QObject::connect(&look, &QTimer::timeout, [&] {
        const auto now = std::chrono::steady_clock::now();
        if (done()) {
            reached = now;
            loop.quit();
        } else if (now > giveUp) {
            loop.quit();
        }
    });
    look.start(1);
    loop.exec();
    return reached;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::vector<std::uint8_t> frame = randomFrame();

    emulator::EmulatorLog log;
    emulator::CameraModule::Options options;
    options.captureTime = std::chrono::microseconds(0);
    options.fixedFrame = frame;
    emulator::CameraModule module(log, options);
    emulator::SerialPeer peer(module, log);
    std::string error;
    const auto device = peer.start({}, error);
    if (!device) {
        std::fprintf(stderr, "cannot serve the emulated module: %s\n", error.c_str());
        return 1;
    }

    serial::PortMap ports;
    ports.assign(2, *device);
    serial::QtSerialControl control(ports);
    session::RealClock clock;
    serial::SerialLink link(control, clock);
    frames::FrameStore store;
    ui::QtOperatorDialogs dialogs;
    ui::ComtrakForm window(control, link, store, clock, dialogs);
    window.Form_Load();
    window.show();
    window.findChild<QComboBox*>("Combo4")->setCurrentText(QString::number(kBaud));
    window.Command15_Click();
    if (module.lineBaud() != kBaud) {
        std::fprintf(stderr, "the module did not switch to %u baud\n", kBaud);
        return 1;
    }

    const Seconds lineTime = protocol::characterTime<Seconds>(kBaud, kFrameBytes);
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
        window.Command8_Click();
        window.Command12_Click();
        const auto start = std::chrono::steady_clock::now();
        window.Command7_Click();
        const auto reached = runUntil([&] { return store.count() >= kFrameBytes; });
        // Anything arriving after the last expected byte would show up here.
        runUntil([&] { return std::chrono::steady_clock::now() - start > lineTime * 1.1; });
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < std::min<std::size_t>(store.count(), kFrameBytes); ++i) {
            wrong += store.frame()[i] != frame[i] ? 1u : 0u;
        }
        const std::size_t lost = kFrameBytes - std::min<std::size_t>(store.count(), kFrameBytes);
        if (!reached) {
            std::printf("round %d: gave up with %u of %zu bytes\n", round + 1, store.count(),
                        kFrameBytes);
            ++failures;
            continue;
        }
        const Seconds took = *reached - start;
        std::printf(
            "round %d: %zu bytes at %u baud in %.3f s, line time %.3f s, ratio %.4f; "
            "lost %zu, wrong %zu, extra %zu\n",
            round + 1, kFrameBytes, kBaud, took.count(), lineTime.count(),
            took.count() / lineTime.count(), lost, wrong,
            store.count() > kFrameBytes ? store.count() - kFrameBytes : 0);
        failures += (lost != 0 || wrong != 0) ? 1 : 0;
    }
    window.Form_Unload();
    return failures == 0 ? 0 : 1;
}
