#include "support/compressed_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <thread>

namespace testing_support {

CompressedClock::TimePoint CompressedClock::now() const {
    const Duration lag = lineLag ? lineLag() : Duration{};
    last_ = std::max(last_, std::chrono::steady_clock::now() + skipped_ - lag);
    return last_;
}

void CompressedClock::waitYielding(Duration d) {
    ++yieldingWaits;
    if (quiet()) {
        QCoreApplication::processEvents();
        skipped_ += d;
        return;
    }
    const Duration real = std::min(d, realSlice_);
    const auto end = std::chrono::steady_clock::now() + real;
    while (std::chrono::steady_clock::now() < end) {
        QEventLoop loop;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        QTimer::singleShot(std::max<std::chrono::milliseconds>(left, std::chrono::milliseconds(1)),
                           Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    skipped_ += d - real;
}

void CompressedClock::waitBlocking(Duration d) {
    const Duration real = quiet() ? Duration{} : std::min(d, realSlice_);
    std::this_thread::sleep_for(real);
    skipped_ += d - real;
}

void CompressedClock::yieldOnce() {
    QCoreApplication::processEvents();
}

}  // namespace testing_support
