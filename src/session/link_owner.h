// Who runs a link's operations: one owner per link, which runs them one at a time from start to
// end and carries what they tell back to the front end. The front end posts an operation and
// hears of its end by what the operation tells; it never waits for one, and nothing it does can
// fall inside one. A LinkThread owns the link on a thread of its own (the programs); an
// InlineLinkOwner runs every operation at once on the caller's thread (tests on the fake clock,
// where the clock's hooks stand for what the front end's thread does meanwhile).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;

namespace session {

class LinkOwner {
  public:
    using Job = std::function<void()>;
    // When the idle work is to run next: within this long at most (none: no sooner than
    // something wakes it), and as soon as this descriptor is readable (-1: none), or a job is
    // posted.
    struct IdleNext {
        std::optional<std::chrono::milliseconds> within;
        int descriptor = -1;
    };
    // Idle work is told whether it is the first run since an operation (or the start): what it
    // found then is to be shown whatever it was.
    using IdleWork = std::function<IdleNext(bool firstSinceOperation)>;

    virtual ~LinkOwner() = default;
    LinkOwner() = default;
    LinkOwner(const LinkOwner&) = delete;
    LinkOwner& operator=(const LinkOwner&) = delete;

    // Runs `job` on the link's thread, unless another one is posted and has not ended, or the
    // owner has stopped: false then, and nothing runs. `done`, if given, runs on the front end's
    // thread once the job has ended, when the owner takes the next job already.
    virtual bool post(Job job, Job done = {}) = 0;
    // From a job or the idle work: `told` runs on the front end's thread, in the order told.
    virtual void tell(Job told) = 0;
    // Runs `work` while no job runs, until stop(): the first time `first` after the call, then
    // as each run says (IdleNext); after a job, at once. Replaces any work set before.
    virtual void setIdleWork(std::chrono::milliseconds first, IdleWork work) = 0;
    // The running job has been asked to end: a download stops before its next byte.
    virtual bool cancelled() const = 0;
    // Cancels the running job (its waits end at once), and once it has ended runs `last` on the
    // link's thread, if given; no job or idle work runs after that. A second call does nothing.
    // Returns once the link's thread has stopped, except from inside a job of an inline owner,
    // where `last` runs as that job returns.
    virtual void stop(Job last = {}) = 0;
    virtual bool stopped() const = 0;
};

class InlineLinkOwner final : public LinkOwner {
  public:
    bool post(Job job, Job done = {}) override;
    void tell(Job told) override { told(); }
    void setIdleWork(std::chrono::milliseconds first, IdleWork work) override;
    bool cancelled() const override { return stopping_; }
    void stop(Job last = {}) override;
    bool stopped() const override { return stopping_; }

    // The idle work, run once now as the thread would between operations (tests).
    void runIdleWork();

  private:
    bool running_ = false;
    bool stopping_ = false;
    Job last_;
    IdleWork idle_;
    bool idleFresh_ = true;
};

// The thread is a QThread that runs no event loop: objects made on it (a QSerialPort) have
// their thread's event dispatcher, and nothing of theirs is ever dispatched there.
class LinkThread final : public LinkOwner {
  public:
    // `toFrontEnd` carries a told job to the front end's thread (a queued call into its event
    // loop); `interruptWaits` ends the waits of the running job at once, for good.
    LinkThread(std::function<void(Job)> toFrontEnd, std::function<void()> interruptWaits);
    ~LinkThread() override;

    bool post(Job job, Job done = {}) override;
    void tell(Job told) override { toFrontEnd_(std::move(told)); }
    void setIdleWork(std::chrono::milliseconds first, IdleWork work) override;
    bool cancelled() const override;
    void stop(Job last = {}) override;
    bool stopped() const override;

  private:
    void serve();
    // Wakes the thread's wait, from any thread.
    void wake();
    // Sleeps until woken, `descriptor` is readable or `within` has passed.
    void sleep(std::optional<std::chrono::milliseconds> within, int descriptor);

    const std::function<void(Job)> toFrontEnd_;
    const std::function<void()> interruptWaits_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Job pending_;
    Job pendingDone_;
    bool busy_ = false;  // a job posted that has not ended
    bool stopping_ = false;
    bool finished_ = false;  // the thread has done its last work
    Job last_;
    IdleWork idle_;
    std::optional<IdleNext> idleFirst_;  // the wait before the first run of new idle work
    int wakeFd_ = -1;                    // an eventfd: posts, new idle work and the stop write it
    std::unique_ptr<QThread> thread_;
};

}  // namespace session
