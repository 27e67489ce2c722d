#include "session/idle_status_poll.h"

#include <optional>
#include <utility>

namespace session {

IdleStatusPoll::IdleStatusPoll(SpiSession& session, std::chrono::milliseconds period,
                               Changed changed)
    : session_(session), period_(period), changed_(std::move(changed)) {}

IdleStatusPoll::~IdleStatusPoll() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void IdleStatusPoll::resume() {
    {
        const std::lock_guard lock(mutex_);
        reading_ = true;
        ++run_;
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { serve(); });
        }
    }
    wake_.notify_all();
}

void IdleStatusPoll::pause() {
    {
        const std::lock_guard lock(mutex_);
        reading_ = false;
        ++run_;
    }
    wake_.notify_all();
}

bool IdleStatusPoll::current(std::uint64_t run) const {
    const std::lock_guard lock(mutex_);
    return reading_ && run == run_;
}

void IdleStatusPoll::serve() {
    std::unique_lock lock(mutex_);
    std::uint64_t toldRun = 0;
    std::optional<StatusPoll> told;
    while (!ending_) {
        if (!reading_) {
            wake_.wait(lock, [this] { return reading_ || ending_; });
            continue;
        }
        const std::uint64_t run = run_;
        // A pause or a new run during the wait starts the wait over.
        if (wake_.wait_for(lock, period_, [&] { return ending_ || run_ != run; })) {
            continue;
        }
        const StatusPoll result = session_.pollReadyAhead();
        if (result == StatusPoll::LinkInUse || (toldRun == run && told == result)) {
            continue;
        }
        toldRun = run;
        told = result;
        changed_(result, run);
    }
}

}  // namespace session
