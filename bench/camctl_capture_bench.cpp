// Does camctl's capture cost more than the bare download loop? Downloads a 65,000-byte frame from
// the emulated module, whose port takes 1 us per access, through camctl's whole capture path (the
// session's capture and frame read, the progress count, the JPEG check, the atomic save, the
// frame's line) and through the bare loop. Reports both times and their ratio; the target is at
// most 1.02.
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DCAMERA_BUILD_BENCH=ON
//   cmake --build build-rel --target camctl_capture_bench
//   build-rel/bench/camctl_capture_bench
#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "camctl/capture_run.h"
#include "session/real_clock.h"
#include "session/spi_session.h"
#include "spi_download_rig.h"

namespace {

constexpr int kRounds = 3;

// The real clock without the module's compression second: the emulated module is ready at once,
// and that second is no cost of camctl's.
class NoCompressWaitClock final : public protocol::Clock {
  public:
    TimePoint now() const override { return real_.now(); }
    void waitYielding(Duration) override {}
    void waitBlocking(Duration) override {}
    void yieldOnce() override { real_.yieldOnce(); }

  private:
    session::RealClock real_;
};

bench::Seconds camctlCapture(const std::vector<std::uint8_t>& frame, const QTemporaryDir& dir) {
    auto module = bench::makeModule(frame);
    lpt::SpiLink link(module.port);
    link.enterStartState();
    NoCompressWaitClock clock;
    session::SpiSession spi(link, clock);
    camctl::CaptureRequest request;
    request.pattern = dir.filePath("frame.jpg").toStdString();
    std::FILE* sink = std::fopen("/dev/null", "w");
    // The progress line as on a terminal, written where it costs only the formatting.
    const camctl::CaptureOutput output{sink, sink, true, "spi LPT1"};
    const std::atomic<bool> interrupted{false};
    const auto start = std::chrono::steady_clock::now();
    const int status = camctl::runCapture(spi, clock, request, output, interrupted);
    const bench::Seconds took = std::chrono::steady_clock::now() - start;
    std::fclose(sink);
    std::ifstream saved(request.pattern, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(saved),
                                          std::istreambuf_iterator<char>()};
    // Random bytes are no JPEG: status 3, and the file must still hold them all.
    if (status != camctl::kExitNotWholeJpeg) {
        std::fprintf(stderr, "camctl capture ended with %d\n", status);
        std::exit(1);
    }
    bench::expectWholeFrame("camctl capture", frame, bytes);
    return took;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const std::vector<std::uint8_t> frame = bench::randomFrame();
    std::vector<double> bare;
    std::vector<double> capture;
    for (int round = 0; round < kRounds; ++round) {
        bare.push_back(bench::bareDownload(frame).count());
        capture.push_back(camctlCapture(frame, dir).count());
        std::printf("round %d: bare %.3f s, camctl %.3f s\n", round + 1, bare.back(),
                    capture.back());
    }
    const double b = bench::median(bare);
    const double c = bench::median(capture);
    std::printf("%zu bytes at %lld us per port access\n", bench::kFrameBytes,
                static_cast<long long>(bench::kPortAccessTime.count()));
    std::printf("bare loop   %.3f s\ncamctl      %.3f s\nratio       %.4f (target <= 1.02)\n", b, c,
                c / b);
    return 0;
}
