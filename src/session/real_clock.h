// The real clock of the programs: monotonic time, and waits that either let the Qt event loop
// process events or keep it still. It needs only QtCore, so the windows and camctl share it;
// each program makes one in main() and hands it down.
#pragma once

#include "protocol/clock.h"

namespace session {

class RealClock final : public protocol::Clock {
  public:
    TimePoint now() const override;
    // Processes events as they come and sleeps in between, so a one-second wait costs almost
    // nothing; it ends on a monotonic clock, so a change of the time of day cannot stretch it.
    void waitYielding(Duration d) override;
    void waitBlocking(Duration d) override;
    void yieldOnce() override;
};

}  // namespace session
