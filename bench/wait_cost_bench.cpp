// What a one-second wait of the link's thread costs the processor: it sleeps on a condition
// variable until its end or an interrupt, so it should cost nothing measurable; and how soon an
// interrupt from another thread (a window closing) ends it.
//
//   build-rel/bench/wait_cost_bench
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "session/real_clock.h"

namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void measure(const char* label, bool interrupted) {
    session::RealClock clock;
    std::thread closer;
    if (interrupted) {
        closer = std::thread([&clock] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            clock.interrupt();
        });
    }
    const double cpuBefore = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    clock.waitYielding(std::chrono::seconds(1));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = processorSeconds() - cpuBefore;
    if (closer.joinable()) {
        closer.join();
    }
    std::printf("%-34s waited %.3f s, processor %.4f s = %.2f%% of a core\n", label, wall, cpu,
                100.0 * cpu / wall);
}

}  // namespace

int main() {
    measure("1 s wait:", false);
    measure("1 s wait, interrupted at 100 ms:", true);
    return 0;
}
