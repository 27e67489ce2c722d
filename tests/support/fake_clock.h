// A clock that moves at once, for tests of loops that wait or pace themselves by the clock.
#pragma once

#include <functional>

#include "protocol/clock.h"

namespace testing_support {

class FakeClock final : public protocol::Clock {
  public:
    // Each look at the time moves it on by `stepPerLook`, so loops that pace themselves by the
    // clock make progress without a real wait.
    TimePoint now() const override {
        const TimePoint t = now_;
        now_ += stepPerLook;
        return t;
    }
    // Advances the time; runs `duringWait` first, standing for what the window would process.
    void waitYielding(Duration d) override;
    void waitBlocking(Duration d) override {
        now_ += d;
        ++blockingWaits;
    }
    // Runs `duringYield`, standing for the events the window would process.
    void yieldOnce() override;

    std::function<void()> duringWait;
    std::function<void()> duringYield;
    Duration stepPerLook{};
    int yields = 0;
    int yieldingWaits = 0;
    int blockingWaits = 0;

  private:
    mutable TimePoint now_{};
};

}  // namespace testing_support
