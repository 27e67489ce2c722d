// When a frame that was arriving over the line has ended. A timer tick that finds nothing waiting
// is not enough: at 9600 baud a byte takes over a millisecond and USB serial adapters hand bytes
// over in bursts up to 16 ms apart, so a 1 ms tick finds the line empty in the middle of a frame.
// The line has to have been quiet for an idle time scaled to its speed.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "protocol/clock.h"

namespace serial {

class FrameEnd {
  public:
    using Duration = protocol::Clock::Duration;
    using TimePoint = protocol::Clock::TimePoint;

    static constexpr std::chrono::milliseconds kMinimumIdle{50};
    static constexpr int kIdleCharacters = 20;

    // At least 50 ms and 20 character times at `baud`.
    static Duration idleTimeFor(std::uint32_t baud);

    void bytesArrived(TimePoint now) { lastArrival_ = now; }
    // True when nothing has arrived for the idle time (or nothing ever arrived).
    bool lineQuiet(TimePoint now, std::uint32_t baud) const;

  private:
    std::optional<TimePoint> lastArrival_;
};

}  // namespace serial
