// Marks a path as served by this process for as long as it runs: an exclusive flock() on the file
// PATH.lock beside it, holding the owner's process id. The kernel lets go of the lock when the
// process ends, however it ends, so a second emulator that finds the lock held leaves the path
// alone, and one that finds the lock file unlocked knows whatever is at the path was left by an
// emulator that is gone and may be replaced.
#pragma once

#include <string>

namespace emulator {

class PathLock {
  public:
    PathLock() = default;
    ~PathLock() { release(); }
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;

    // Takes the lock for `path`; false with `error` saying why (another emulator holds it, or the
    // lock file cannot be made).
    bool acquire(const std::string& path, std::string& error);
    // Removes the lock file and lets go of the lock. Safe to call when nothing is held.
    void release();

  private:
    int fd_ = -1;
    std::string lockPath_;
};

}  // namespace emulator
