// A clock for tests against the emulated module on a pseudo-terminal: each wait really runs the
// event loop for a short slice (so the serial port reads, the emulator's thread answers, timers
// tick) and then counts the rest of the wait as passed without spending it. A one-second wait
// costs a slice of real time, and time-outs measured with now() still see the whole second.
// Told whether the line is quiet for good, a wait costs nothing while it is: it lets the pending
// events in once and counts all of itself as passed, since no byte can come for the program to
// measure; a slice that began with bytes on their way ends once they have arrived.
#pragma once

#include <chrono>
#include <functional>

#include "protocol/clock.h"

namespace testing_support {

class CompressedClock final : public protocol::Clock {
  public:
    explicit CompressedClock(Duration realSlice = std::chrono::milliseconds(50))
        : realSlice_(realSlice) {}

    TimePoint now() const override;
    void waitYielding(Duration d) override;
    void waitBlocking(Duration d) override;
    void yieldOnce() override;

    int yieldingWaits = 0;
    // How far a peer that serves the line from a thread, at the line's speed, is behind its
    // schedule. The time stands still while it catches up: a peer thread the machine paused is
    // no pause on the line, and must not end a frame by its silence.
    std::function<Duration()> lineLag;
    // Whether the line is quiet for good: nothing on its way in either direction, so nothing
    // comes until the program sends.
    std::function<bool()> lineQuiet;

  private:
    bool quiet() const { return lineQuiet && lineQuiet(); }
    Duration lookAtTheLine() const;
    // Counts what is left of a wait of `d` that began at `start` as passed.
    void skipSpentFrom(TimePoint start, Duration d);

    Duration realSlice_;
    Duration skipped_{};
    mutable TimePoint last_{};
};

}  // namespace testing_support
