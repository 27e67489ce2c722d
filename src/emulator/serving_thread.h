// The thread of a front end that serves file descriptors (the serial peer, the socket server):
// it runs a body until stop() is asked, and owns the eventfd that wakes its poll() for that.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace emulator {

class ServingThread {
  public:
    ~ServingThread() { stop(); }

    // Makes the wake-up descriptor; false (and `error` set) when the system has none to give.
    bool prepare(std::string& error);
    void start(std::function<void()> body);
    // Asks the body to end, wakes it and waits for it; closes the wake-up descriptor.
    void stop();

    bool running() const { return thread_.joinable(); }
    bool stopping() const { return stopping_; }
    // Readable once stop() has been asked: poll it beside the served descriptors.
    int wakeFd() const { return wakeFd_; }

  private:
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    int wakeFd_ = -1;
};

// Closes `fd` when it is open and marks it closed.
void closeDescriptor(int& fd);
// Removes the file at `path` when one was made there, and forgets it.
void removeMadePath(std::string& path);

}  // namespace emulator
