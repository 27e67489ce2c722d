// What the SPI link itself costs per port access, measured over a port that does nothing. A
// real port access takes about 1 us (2-3 us through ppdev); the link should add well under 5%
// of that, i.e. stay below 50 ns per access.
//
// Release build:
//   cmake -S . -B build-rel -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-rel --target spi_link_bench && build-rel/bench/spi_link_bench
#include <benchmark/benchmark.h>

#include <cstdint>

#include "lpt/spi_link.h"
#include "protocol/port_io.h"

namespace {

constexpr int kWritesPerByte = 17;  // 8 x (setup, sample) + idle
constexpr int kReadsPerByte = 8;    // one status read per received bit

// Takes every call and does nothing with it, except what keeps the compiler from dropping it.
class NullPort final : public protocol::PortIo {
  public:
    bool start() override { return true; }
    void stop() override {}
    bool writeByte(std::uint16_t address, std::uint8_t value) override {
        benchmark::DoNotOptimize(address);
        benchmark::DoNotOptimize(value);
        return true;
    }
    bool readByte(std::uint16_t address, std::uint8_t& value) override {
        benchmark::DoNotOptimize(address);
        value = status_;
        status_ ^= 0x20;  // alternate the data bit so the assembled byte is not a constant
        return true;
    }

  private:
    std::uint8_t status_ = 0;
};

// Reports the time per port access as "per_access" (Google Benchmark prints it in seconds
// with an SI prefix, e.g. 3.1n).
void reportPerAccess(benchmark::State& state, int accessesPerByte) {
    const auto accesses = static_cast<double>(state.iterations()) * accessesPerByte;
    state.counters["per_access"] =
        benchmark::Counter(accesses, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_WriteByte(benchmark::State& state) {
    NullPort port;
    lpt::SpiLink link(port);
    std::uint8_t value = 0;
    for (auto _ : state) {
        link.wrtLPTport(value++);
    }
    reportPerAccess(state, kWritesPerByte);
}
BENCHMARK(BM_WriteByte);

void BM_ReadByte(benchmark::State& state) {
    NullPort port;
    lpt::SpiLink link(port);
    for (auto _ : state) {
        benchmark::DoNotOptimize(link.read1byteLPTport());
    }
    reportPerAccess(state, kWritesPerByte + kReadsPerByte);
}
BENCHMARK(BM_ReadByte);

}  // namespace

BENCHMARK_MAIN();
