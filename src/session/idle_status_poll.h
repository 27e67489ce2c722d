// The status poll of an idle window, from a thread of its own: while nothing else needs the
// window's timer, the window's loop sleeps and this thread reads the ready flag at the poll's
// period instead, telling the window only when the result changes. Paused, it sleeps until it is
// resumed; it reads only when the session's link is free.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "session/spi_session.h"

namespace session {

class IdleStatusPoll {
  public:
    // `changed` is called from the poll's thread with a result and the run it belongs to; a
    // result whose run is no longer current() came before a pause and is stale.
    using Changed = std::function<void(StatusPoll result, std::uint64_t run)>;

    IdleStatusPoll(SpiSession& session, std::chrono::milliseconds period, Changed changed);
    ~IdleStatusPoll();
    IdleStatusPoll(const IdleStatusPoll&) = delete;
    IdleStatusPoll& operator=(const IdleStatusPoll&) = delete;

    // A new run of reads, one a period; its first result is told whatever it is. The thread
    // starts at the first resume.
    void resume();
    // No more reads until resume(); returns once a read under way has ended and been told.
    void pause();
    bool current(std::uint64_t run) const;

  private:
    void serve();

    SpiSession& session_;
    const std::chrono::milliseconds period_;
    const Changed changed_;
    mutable std::mutex mutex_;  // held by the thread across each read and its telling
    std::condition_variable wake_;
    bool reading_ = false;
    bool ending_ = false;
    std::uint64_t run_ = 0;
    std::thread thread_;
};

}  // namespace session
