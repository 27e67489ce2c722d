// What --vcd costs a frame download: a 65,000-byte frame from the emulated module, whose port
// takes 1 us per access like an ISA/LPC parallel port, through the bare download loop without and
// with the VCD recorder (real times, as the programs write them, ended whole at the end of the
// download). Reports both times, their ratio (target at most 1.15) and the file's size (target
// at most 40 MB).
//
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release -DCAMERA_BUILD_BENCH=ON
//   cmake --build build-rel --target vcd_download_bench
//   build-rel/bench/vcd_download_bench [FILE]   (default /tmp/vcd_download_bench.vcd)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "lpt/vcd_recorder.h"
#include "session/real_clock.h"
#include "spi_download_rig.h"

namespace {

using namespace bench;

constexpr int kRounds = 5;

Seconds recordedDownload(const std::vector<std::uint8_t>& frame, const std::string& path) {
    session::RealClock clock;
    std::string error;
    auto vcd = lpt::VcdRecorder::open(path, lpt::VcdTime::Real, clock, error);
    if (!vcd) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        std::exit(1);
    }
    const Seconds download = bareDownload(frame, vcd.get());
    const auto start = std::chrono::steady_clock::now();
    vcd->close();
    return download + Seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "/tmp/vcd_download_bench.vcd";
    const std::vector<std::uint8_t> frame = randomFrame();
    std::vector<double> bare;
    std::vector<double> recorded;
    for (int round = 0; round < kRounds; ++round) {
        bare.push_back(bareDownload(frame).count());
        recorded.push_back(recordedDownload(frame, path).count());
        std::printf("round %d: bare %.3f s, with VCD %.3f s\n", round + 1, bare.back(),
                    recorded.back());
    }
    const double b = median(bare);
    const double r = median(recorded);
    const auto size = std::filesystem::file_size(path);
    std::printf("%zu bytes at %lld us per port access\n", kFrameBytes,
                static_cast<long long>(kPortAccessTime.count()));
    std::printf("bare loop   %.3f s\nwith VCD    %.3f s\nratio       %.4f (target <= 1.15)\n", b, r,
                r / b);
    std::printf("VCD file    %.1f MB (target <= 40 MB): %s\n", static_cast<double>(size) / 1e6,
                path.c_str());
    return 0;
}
