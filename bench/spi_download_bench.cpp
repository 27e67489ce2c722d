// Does the window slow a frame download down? Downloads a 65,000-byte frame from the emulated
// module, whose port takes 1 us per access like an ISA/LPC parallel port, twice over: through
// the real SPI window (its link on its own thread, the count shown live) and through the bare
// download loop with nothing else to do. Reports both times and their ratio; the target is at
// most 1.02.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-rel --target spi_download_bench
//   QT_QPA_PLATFORM=offscreen build-rel/bench/spi_download_bench
//   xvfb-run -a build-rel/bench/spi_download_bench
#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTimer>
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

// Runs the window's event loop until `done` holds (checked every millisecond).
template <class Done>
void runUntil(Done done) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(1);
    loop.exec();
}

// The same through the window the operator sees, shown on the current platform, its link on a
// thread of its own as in the program: from the click to the window showing the whole count.
Seconds windowDownload(const std::vector<std::uint8_t>& frame) {
    auto module = makeModule(frame);
    lpt::SpiLink link(module.port);
    frames::FrameStore store;
    ui::QtOperatorDialogs dialogs;
    session::RealClock clock;
    ui::SpiForm window(link, store, clock, dialogs);
    window.runLinkOnItsOwnThread([&clock] { clock.interrupt(); });
    window.Form_Load();
    window.show();
    runUntil([&] { return !window.linkBusy(); });
    window.Command12_Click();
    runUntil([&] { return !window.linkBusy(); });
    auto* count = window.findChild<QLineEdit*>("Text4");
    int shownOnTheWay = 0;
    QObject::connect(count, &QLineEdit::textChanged, [&shownOnTheWay] { ++shownOnTheWay; });
    const auto start = std::chrono::steady_clock::now();
    window.Command7_Click();
    const QString whole = QString::number(frame.size());
    runUntil([&] { return !window.linkBusy() && count->text() == whole; });
    const Seconds took = std::chrono::steady_clock::now() - start;
    std::printf("  window: the count shown %d times on the way\n", shownOnTheWay);
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
    std::printf("bare loop   %.3f s\nwindow      %.3f s\nratio       %.4f (target <= 1.02)\n", b, w,
                w / b);
    return 0;
}
