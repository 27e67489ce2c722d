// Time as the programs see it: a monotonic "now" and the two kinds of wait. The real clock
// (session/real_clock.h) runs Qt's event loop in its waits; tests use a fake one that moves
// instantly.
#pragma once

#include <chrono>

namespace protocol {

class Clock {
  public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;

    // Waits while letting the window process events: other handlers may run inside.
    virtual void waitYielding(Duration d) = 0;

    // Waits without processing events: nothing else runs until it returns.
    virtual void waitBlocking(Duration d) = 0;

    // Lets the window process the events pending now, once, and returns.
    virtual void yieldOnce() = 0;
};

}  // namespace protocol
