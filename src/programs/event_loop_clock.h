// The clock of the programs whose serial line is read on the window's thread (comtrak, camctl):
// QSerialPort takes in what arrives only when the thread's event loop runs, so their waits run
// it until the wait is over, sleeping whenever no event is pending. Monotonic, so a change of the
// time of day cannot stretch a wait.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <thread>

#include "protocol/clock.h"

namespace programs {

class EventLoopClock final : public protocol::Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void waitYielding(Duration d) override {
        using namespace std::chrono;
        const TimePoint end = now() + d;
        for (TimePoint t = now(); t < end; t = now()) {
            const auto left = duration_cast<milliseconds>(end - t) + milliseconds(1);
            QEventLoop loop;
            QTimer::singleShot(left, Qt::PreciseTimer, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    void waitBlocking(Duration d) override { std::this_thread::sleep_for(d); }
    void yieldOnce() override { QCoreApplication::processEvents(); }
};

}  // namespace programs
