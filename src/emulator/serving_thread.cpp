#include "emulator/serving_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace emulator {

bool ServingThread::prepare(std::string& error) {
    closeDescriptor(wakeFd_);
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void ServingThread::start(std::function<void()> body) {
    stopping_ = false;
    thread_ = std::thread(std::move(body));
}

void ServingThread::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    closeDescriptor(wakeFd_);
}

void closeDescriptor(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

void removeMadePath(std::string& path) {
    if (!path.empty()) {
        unlink(path.c_str());
        path.clear();
    }
}

}  // namespace emulator
