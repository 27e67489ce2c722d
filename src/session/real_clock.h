// The real clock of the programs: monotonic time, and waits that sleep the thread that owns the
// link while the window's thread carries on. A wait ends at once once the clock is interrupted
// (the program closing), and so does every wait after it; each program makes one in main() and
// hands it down.
#pragma once

#include <condition_variable>
#include <mutex>

#include "protocol/clock.h"

namespace session {

class RealClock final : public protocol::Clock {
  public:
    TimePoint now() const override;
    // Both kinds of wait sleep on a monotonic clock, so a change of the time of day cannot
    // stretch them; the front end has a thread of its own and goes on meanwhile.
    void waitYielding(Duration d) override { sleep(d); }
    void waitBlocking(Duration d) override { sleep(d); }
    // Nothing to let in: the front end does not share this thread.
    void yieldOnce() override {}

    // Ends the wait under way and every later one at once, from any thread.
    void interrupt();

  private:
    void sleep(Duration d);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ = false;
};

}  // namespace session
