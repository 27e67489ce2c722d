// What a one-second yielding wait costs the processor: the wait sleeps in the event loop between
// events instead of spinning, so it should cost a few percent of a core at most, also with a
// 1 ms timer ticking as the windows' Timer1 does.
//
//   QT_QPA_PLATFORM=offscreen build-rel/bench/wait_cost_bench
#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "session/real_clock.h"

namespace {

double processorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void measure(const char* label) {
    session::RealClock clock;
    const double cpuBefore = processorSeconds();
    const auto start = std::chrono::steady_clock::now();
    clock.waitYielding(std::chrono::seconds(1));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = processorSeconds() - cpuBefore;
    std::printf("%-28s waited %.3f s, processor %.4f s = %.1f%% of a core\n", label, wall, cpu,
                100.0 * cpu / wall);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    measure("1 s wait, nothing else:");
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    measure("1 s wait, 1 ms timer:");
    std::printf("timer ticks during the wait: %d\n", ticks);
    return 0;
}
