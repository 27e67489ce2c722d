#include "session/link_owner.h"

#include <QThread>

#include <utility>

namespace session {

// ---- InlineLinkOwner

bool InlineLinkOwner::post(Job job, Job done) {
    if (running_ || stopping_) {
        return false;
    }
    running_ = true;
    job();
    running_ = false;
    idleFresh_ = true;
    if (stopping_ && last_) {
        std::exchange(last_, {})();
    }
    if (done) {
        done();
    }
    return true;
}

void InlineLinkOwner::setIdleWork(std::chrono::milliseconds, IdleWork work) {
    idle_ = std::move(work);
    idleFresh_ = true;
}

void InlineLinkOwner::runIdleWork() {
    if (idle_ && !running_ && !stopping_) {
        idle_(std::exchange(idleFresh_, false));
    }
}

void InlineLinkOwner::stop(Job last) {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    if (!last) {
        return;
    }
    if (running_) {
        last_ = std::move(last);  // run as the job returns: it is on this very stack
    } else {
        last();
    }
}

// ---- LinkThread

LinkThread::LinkThread(std::function<void(Job)> toFrontEnd, std::function<void()> interruptWaits)
    : toFrontEnd_(std::move(toFrontEnd)),
      interruptWaits_(std::move(interruptWaits)),
      thread_(QThread::create([this] { serve(); })) {
    thread_->start();
}

LinkThread::~LinkThread() {
    stop();
}

bool LinkThread::post(Job job, Job done) {
    {
        const std::lock_guard lock(mutex_);
        if (busy_ || stopping_) {
            return false;
        }
        busy_ = true;
        pending_ = std::move(job);
        pendingDone_ = std::move(done);
    }
    wake_.notify_all();
    return true;
}

void LinkThread::setIdleWork(std::chrono::milliseconds period, IdleWork work) {
    {
        const std::lock_guard lock(mutex_);
        idle_ = std::move(work);
        idlePeriod_ = period;
        ++idleGeneration_;
    }
    wake_.notify_all();
}

bool LinkThread::cancelled() const {
    const std::lock_guard lock(mutex_);
    return stopping_;
}

bool LinkThread::stopped() const {
    return cancelled();
}

void LinkThread::stop(Job last) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        last_ = std::move(last);
    }
    // The running job's waits end now; its download stops at its next byte.
    interruptWaits_();
    wake_.notify_all();
    thread_->wait();
    // The thread's end, seen through our own mutex too: everything it did happens before what
    // the caller does next (ThreadSanitizer cannot see into QThread::wait).
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return finished_; });
}

void LinkThread::serve() {
    std::unique_lock lock(mutex_);
    bool idleFresh = true;
    while (true) {
        if (stopping_) {
            break;  // a job posted that had not begun is dropped with the rest
        }
        if (pending_) {
            Job job = std::exchange(pending_, {});
            Job done = std::exchange(pendingDone_, {});
            lock.unlock();
            job();
            lock.lock();
            busy_ = false;
            idleFresh = true;
            if (done) {
                lock.unlock();
                tell(std::move(done));
                lock.lock();
            }
            continue;
        }
        if (!idle_) {
            wake_.wait(lock, [this] { return pending_ || stopping_ || idle_; });
            continue;
        }
        // The idle work's period starts over when a job is posted, new work is set or the
        // owner stops; a job that ran lets the next period begin after it.
        const std::uint64_t generation = idleGeneration_;
        const auto period = idlePeriod_;
        if (wake_.wait_for(lock, period, [&] {
                return pending_ || stopping_ || idleGeneration_ != generation;
            })) {
            continue;
        }
        IdleWork work = idle_;
        lock.unlock();
        work(std::exchange(idleFresh, false));
        lock.lock();
    }
    Job last = std::exchange(last_, {});
    lock.unlock();
    if (last) {
        last();
    }
    lock.lock();
    finished_ = true;
    // Told under the lock: the one waiting may destroy this owner as soon as it sees it.
    wake_.notify_all();
}

}  // namespace session
