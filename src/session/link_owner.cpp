#include "session/link_owner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QThread>

#include <utility>

namespace session {

namespace {
bool readable(int descriptor) {
    pollfd watched{descriptor, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}
}  // namespace

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
        (void)idle_(std::exchange(idleFresh_, false));
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
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      thread_(QThread::create([this] { serve(); })) {
    thread_->start();
}

LinkThread::~LinkThread() {
    stop();
    ::close(wakeFd_);
}

void LinkThread::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void LinkThread::sleep(std::optional<std::chrono::milliseconds> within, int descriptor) {
    pollfd watched[2] = {{wakeFd_, POLLIN, 0}, {descriptor, POLLIN, 0}};
    const int timeout = within ? static_cast<int>(within->count()) : -1;
    if (::poll(watched, descriptor >= 0 ? 2 : 1, timeout) > 0 && (watched[0].revents & POLLIN)) {
        std::uint64_t woken = 0;
        [[maybe_unused]] const auto taken = ::read(wakeFd_, &woken, sizeof woken);
    }
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
    wake();
    return true;
}

void LinkThread::setIdleWork(std::chrono::milliseconds first, IdleWork work) {
    {
        const std::lock_guard lock(mutex_);
        idle_ = std::move(work);
        idleFirst_ = IdleNext{first, -1};
    }
    wake();
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
    wake();
    thread_->wait();
    // The thread's end, seen through our own mutex too: everything it did happens before what
    // the caller does next (ThreadSanitizer cannot see into QThread::wait).
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return finished_; });
}

void LinkThread::serve() {
    std::unique_lock lock(mutex_);
    bool idleFresh = true;
    // When the idle work runs next: none before there is any; at once after a job.
    std::optional<IdleNext> next;
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
            next = IdleNext{std::chrono::milliseconds(0), -1};
            if (done) {
                lock.unlock();
                tell(std::move(done));
                lock.lock();
            }
            continue;
        }
        if (idleFirst_) {
            next = std::exchange(idleFirst_, std::nullopt);
        }
        if (!idle_ || !next) {
            lock.unlock();
            sleep(std::nullopt, -1);
            lock.lock();
            continue;
        }
        if (next->within != std::chrono::milliseconds(0)) {
            // Woken early (a post, new work, the stop, the line): looked at again, and the idle
            // work runs only once its wait is over or its line has something.
            const IdleNext waiting = *next;
            const auto start = std::chrono::steady_clock::now();
            lock.unlock();
            sleep(waiting.within, waiting.descriptor);
            lock.lock();
            if (pending_ || stopping_ || idleFirst_) {
                continue;
            }
            const bool lineReady = waiting.descriptor >= 0 && readable(waiting.descriptor);
            if (waiting.within && !lineReady) {
                const auto slept = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start);
                if (slept < *waiting.within) {
                    next->within = *waiting.within - slept;
                    continue;
                }
            } else if (!waiting.within && !lineReady) {
                continue;
            }
        }
        IdleWork work = idle_;
        lock.unlock();
        const IdleNext after = work(std::exchange(idleFresh, false));
        lock.lock();
        next = after;
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
