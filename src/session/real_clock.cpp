#include "session/real_clock.h"

namespace session {

protocol::Clock::TimePoint RealClock::now() const {
    return std::chrono::steady_clock::now();
}

void RealClock::sleep(Duration d) {
    std::unique_lock lock(mutex_);
    // steady_clock: the condition variable's wait_until on it ignores changes of the time of day.
    wake_.wait_until(lock, now() + d, [this] { return interrupted_; });
}

void RealClock::interrupt() {
    {
        const std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

}  // namespace session
