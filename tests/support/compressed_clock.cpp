#include "support/compressed_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <thread>

namespace testing_support {

namespace {
using SteadyClock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kQuietLook{1};
}  // namespace

CompressedClock::TimePoint CompressedClock::now() const {
    const Duration lag = lineLag ? lineLag() : Duration{};
    last_ = std::max(last_, SteadyClock::now() + skipped_ - lag);
    return last_;
}

void CompressedClock::waitYielding(Duration d) {
    ++yieldingWaits;
    const auto start = SteadyClock::now();
    const auto end = start + std::min(d, realSlice_);
    while (!quiet() && SteadyClock::now() < end) {
        QEventLoop loop;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            std::min(end - SteadyClock::now(), lookAtTheLine()));
        QTimer::singleShot(std::max<std::chrono::milliseconds>(left, std::chrono::milliseconds(1)),
                           Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QCoreApplication::processEvents();
    skipSpentFrom(start, d);
}

void CompressedClock::waitBlocking(Duration d) {
    const auto start = SteadyClock::now();
    const auto end = start + std::min(d, realSlice_);
    while (!quiet() && SteadyClock::now() < end) {
        std::this_thread::sleep_for(std::min(end - SteadyClock::now(), lookAtTheLine()));
    }
    skipSpentFrom(start, d);
}

CompressedClock::Duration CompressedClock::lookAtTheLine() const {
    // A line that can say it is quiet is looked at this often: the slice ends once it is.
    return lineQuiet ? kQuietLook : realSlice_;
}

void CompressedClock::skipSpentFrom(TimePoint start, Duration d) {
    skipped_ += std::max(Duration{}, d - (SteadyClock::now() - start));
}

void CompressedClock::yieldOnce() {
    QCoreApplication::processEvents();
}

}  // namespace testing_support
