#include "support/fault_port_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace testing_support {

namespace {

// No test leaves the server idle this long; a wait that runs out ends the thread.
constexpr std::chrono::milliseconds kIdleLimit{10000};

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::invalid_argument("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

void sendBytes(int fd, const std::uint8_t* bytes, std::size_t count) {
    ::send(fd, bytes, count, MSG_NOSIGNAL);
}

}  // namespace

FaultPortServer::FaultPortServer(std::string path, Responder responder, Options options)
    : path_(std::move(path)), responder_(std::move(responder)), options_(options) {
    start();
}

FaultPortServer::~FaultPortServer() {
    stop();
}

FaultPortServer::Responder FaultPortServer::answers(std::vector<std::uint8_t> values) {
    return [values = std::move(values)](std::uint16_t, std::size_t readIndex) {
        return readIndex < values.size() ? values[readIndex] : std::uint8_t{0};
    };
}

FaultPortServer::Responder FaultPortServer::frame(std::vector<std::uint8_t> frame,
                                                  std::size_t firstRead) {
    return [frame = std::move(frame), firstRead](std::uint16_t, std::size_t readIndex) {
        const std::size_t bits = frame.size() * 8;
        if (readIndex < firstRead || readIndex - firstRead >= bits) {
            return std::uint8_t{0};
        }
        const std::size_t bit = readIndex - firstRead;
        std::uint8_t status = ((frame[bit / 8] >> (7 - bit % 8)) & 1) != 0 ? 0x20 : 0x00;
        if (bit == bits - 1) {
            status |= 0x80;  // the module is ready once the last bit is out
        }
        return status;
    };
}

void FaultPortServer::start() {
    const sockaddr_un address = addressOf(path_);
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool neverAccept = options_.fault == Fault::NeverAccept;
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, neverAccept ? 0 : 4) != 0) {
        throw std::runtime_error("cannot listen at " + path_ + ": " + std::strerror(errno));
    }
    if (neverAccept) {
        // With a backlog of 0 one connection may wait; this one takes that place for good.
        backlogFillerFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(backlogFillerFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

void FaultPortServer::stop() {
    if (stopPipe_[1] >= 0) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(stopPipe_[1], &wake, 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    for (int* fd : {&listenFd_, &backlogFillerFd_, &stopPipe_[0], &stopPipe_[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    ::unlink(path_.c_str());
}

void FaultPortServer::restart(Options options) {
    stop();
    {
        std::lock_guard lock(mutex_);
        accesses_.clear();
        raw_.clear();
        readsSoFar_ = 0;
        extraByteSent_ = false;
        faultSpent_ = false;
        hangUps_ = 0;
    }
    options_ = options;
    start();
}

bool FaultPortServer::waitForAccesses(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return accesses_.size() >= count; });
}

bool FaultPortServer::waitForHangUp(std::size_t connections, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return hangUps_ >= connections; });
}

std::vector<FaultPortServer::Access> FaultPortServer::accesses() const {
    std::lock_guard lock(mutex_);
    return accesses_;
}

std::vector<std::uint8_t> FaultPortServer::rawBytes() const {
    std::lock_guard lock(mutex_);
    return raw_;
}

void FaultPortServer::serve() {
    while (waitReadable(listenFd_, kIdleLimit)) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const bool goOn = serveConnection(fd);
        ::close(fd);
        {
            std::lock_guard lock(mutex_);
            ++hangUps_;
        }
        changed_.notify_all();
        if (!goOn) {
            return;
        }
    }
}

bool FaultPortServer::serveConnection(int fd) {
    if (options_.fault == Fault::ExtraByte && faultDue()) {
        sendExtraByte(fd, nullptr);
    }
    while (true) {
        if (faultDue() && options_.fault == Fault::Close) {
            // A plain hang-up: after shutdown() the client can queue nothing more, and what it
            // queued before is dropped, so the close leaves nothing unread (which would be a
            // reset).
            ::shutdown(fd, SHUT_RDWR);
            std::uint8_t dropped[64];
            while (::recv(fd, dropped, sizeof dropped, MSG_DONTWAIT) > 0) {
            }
            spendFault();
            return true;
        }
        if (faultDue() && options_.fault == Fault::Reset) {
            // A Unix socket closed with data unread resets the connection: the client's next
            // receive fails with ECONNRESET.
            if (!waitReadable(fd, kIdleLimit)) {
                return false;
            }
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            spendFault();
            return true;
        }
        std::uint8_t header[3];
        if (!receive(fd, header, sizeof header)) {
            return !stopping();
        }
        Access access{static_cast<char>(header[0]),
                      static_cast<std::uint16_t>(header[1] | header[2] << 8), 0};
        const bool faultHere = faultDue();
        if (access.command == 'w') {
            if (!receive(fd, &access.value, 1)) {
                return !stopping();
            }
        } else if (!(faultHere && options_.fault == Fault::Silent)) {
            std::size_t readIndex = 0;
            {
                std::lock_guard lock(mutex_);
                readIndex = readsSoFar_++;
            }
            access.value = responder_ ? responder_(access.address, readIndex) : 0;
            if (faultHere && options_.fault == Fault::StrayAhead) {
                const std::uint8_t stray = 0x00;
                sendBytes(fd, &stray, 1);
                spendFault();
            }
            if (faultHere &&
                (options_.fault == Fault::LateAnswer || options_.fault == Fault::StrayAhead)) {
                if (waitReadable(stopPipe_[0], options_.lateBy)) {
                    return false;  // stopping
                }
            }
        }
        // Whatever this access calls for is sent before it is recorded, so a test that waited
        // for it finds the answer (and any stray byte) already on its way.
        const bool readAnswered =
            access.command != 'w' && !(faultHere && options_.fault == Fault::Silent);
        if (options_.fault == Fault::ExtraByte && faultDue(1)) {
            sendExtraByte(fd, readAnswered ? &access.value : nullptr);
        } else if (readAnswered) {
            sendBytes(fd, &access.value, 1);
        }
        {
            std::lock_guard lock(mutex_);
            accesses_.push_back(access);
        }
        changed_.notify_all();
    }
}

void FaultPortServer::sendExtraByte(int fd, const std::uint8_t* answer) {
    std::lock_guard lock(mutex_);
    if (extraByteSent_) {
        if (answer != nullptr) {
            sendBytes(fd, answer, 1);
        }
        return;
    }
    extraByteSent_ = true;
    // One send, so the answer and the stray byte arrive together.
    const std::uint8_t bytes[2] = {answer != nullptr ? *answer : std::uint8_t{0x5A}, 0x5A};
    sendBytes(fd, answer != nullptr ? bytes : bytes + 1, answer != nullptr ? 2 : 1);
}

bool FaultPortServer::faultDue(std::size_t pending) const {
    std::lock_guard lock(mutex_);
    return options_.fault != Fault::None && !faultSpent_ &&
           accesses_.size() + pending >= options_.after;
}

void FaultPortServer::spendFault() {
    std::lock_guard lock(mutex_);
    faultSpent_ = true;
}

bool FaultPortServer::stopping() {
    pollfd stop{stopPipe_[0], POLLIN, 0};
    return ::poll(&stop, 1, 0) > 0;
}

bool FaultPortServer::waitReadable(int fd, std::chrono::milliseconds limit) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const nfds_t count = fd == stopPipe_[0] ? 1 : 2;
    if (::poll(fds, count, static_cast<int>(limit.count())) <= 0) {
        return false;
    }
    return count == 1 || (fds[1].revents & POLLIN) == 0;
}

bool FaultPortServer::receive(int fd, std::uint8_t* into, std::size_t count) {
    while (count > 0) {
        if (!waitReadable(fd, kIdleLimit)) {
            return false;
        }
        const ssize_t got = ::recv(fd, into, count, 0);
        if (got <= 0) {
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            raw_.insert(raw_.end(), into, into + got);
        }
        into += got;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace testing_support
