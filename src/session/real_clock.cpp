#include "session/real_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <thread>

namespace session {

protocol::Clock::TimePoint RealClock::now() const {
    return std::chrono::steady_clock::now();
}

void RealClock::waitYielding(Duration d) {
    using namespace std::chrono;
    const TimePoint end = now() + d;
    while (true) {
        const TimePoint t = now();
        if (t >= end) {
            return;
        }
        // Run the event loop until the rest of the wait runs out: the thread sleeps whenever no
        // event is pending instead of spinning.
        const auto left = duration_cast<milliseconds>(end - t) + milliseconds(1);
        QEventLoop loop;
        QTimer::singleShot(left, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void RealClock::waitBlocking(Duration d) {
    std::this_thread::sleep_for(d);
}

void RealClock::yieldOnce() {
    QCoreApplication::processEvents();
}

}  // namespace session
