// A clock for tests against the emulated module on a pseudo-terminal: each wait really runs the
// event loop for a short slice (so the serial port reads, the emulator's thread answers, timers
// tick) and then counts the rest of the wait as passed without spending it. A one-second wait
// costs a slice of real time, and time-outs measured with now() still see the whole second.
#pragma once

#include <chrono>

#include "protocol/clock.h"

namespace testing_support {

class CompressedClock final : public protocol::Clock {
  public:
    explicit CompressedClock(Duration realSlice = std::chrono::milliseconds(50))
        : realSlice_(realSlice) {}

    TimePoint now() const override { return std::chrono::steady_clock::now() + skipped_; }
    void waitYielding(Duration d) override;
    void waitBlocking(Duration d) override;
    void yieldOnce() override;

    int yieldingWaits = 0;

  private:
    Duration realSlice_;
    Duration skipped_{};
};

}  // namespace testing_support
