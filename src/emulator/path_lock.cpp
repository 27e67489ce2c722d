#include "emulator/path_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "emulator/serving_thread.h"

namespace emulator {

namespace {

// A holder that is letting go removes its lock file; the file is looked at again this many times.
constexpr int kAttempts = 3;

std::string holderOf(int fd) {
    char pid[32] = {};
    const ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
    return n > 0 ? "process " + std::string(pid, static_cast<std::size_t>(n)) : "a process";
}

bool sameFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

bool PathLock::acquire(const std::string& path, std::string& error) {
    release();
    const std::string lockPath = path + ".lock";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            error = "cannot make " + lockPath + ": " + std::strerror(errno);
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? path + " is served by another emulator (" +
                                               holderOf(fd) + " holds " + lockPath + ")"
                                         : "cannot lock " + lockPath + ": " + std::strerror(errno);
            closeDescriptor(fd);
            return false;
        }
        // The last holder may have removed the file between open() and flock(): a lock on a file
        // no longer at the path keeps nobody out, so the one there now is taken instead.
        if (!sameFile(fd, lockPath)) {
            closeDescriptor(fd);
            continue;
        }
        const std::string pid = std::to_string(getpid());
        // The process id is only for the message of a refused emulator: not writing it is no fault.
        [[maybe_unused]] const bool written =
            ftruncate(fd, 0) == 0 &&
            pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
        fd_ = fd;
        lockPath_ = lockPath;
        return true;
    }
    error = lockPath + " keeps being replaced";
    return false;
}

void PathLock::release() {
    if (fd_ >= 0) {
        // Removed while still locked, so nobody takes a lock on a file about to disappear unseen.
        removeMadePath(lockPath_);
        closeDescriptor(fd_);
    }
}

}  // namespace emulator
