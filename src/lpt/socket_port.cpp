#include "lpt/socket_port.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lpt {

namespace {

constexpr std::uint8_t kWriteCommand = 'w';
constexpr std::uint8_t kReadCommand = 'r';

std::uint8_t lowByte(std::uint16_t address) {
    return static_cast<std::uint8_t>(address & 0xFF);
}
std::uint8_t highByte(std::uint16_t address) {
    return static_cast<std::uint8_t>(address >> 8);
}

timeval toTimeval(std::chrono::milliseconds limit) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(limit - seconds);
    return {static_cast<time_t>(seconds.count()), static_cast<suseconds_t>(micros.count())};
}

}  // namespace

SocketPort::SocketPort(std::string socketPath, std::chrono::milliseconds replyLimit)
    : socketPath_(std::move(socketPath)), replyLimit_(replyLimit) {}

SocketPort::~SocketPort() {
    ShutdownWinIo();
}

bool SocketPort::InitializeWinIo() {
    ShutdownWinIo();
    failureReason_.clear();
    brokenNotice_.rearm();

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof address.sun_path) {
        failureReason_ = "port socket path \"" + socketPath_ + "\" is empty or too long";
        return false;
    }
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);

    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        const int error = errno;
        failureReason_ = "cannot create a socket: " + std::string(std::strerror(error));
        return false;
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ShutdownWinIo();
        failureReason_ =
            "cannot connect to port socket " + socketPath_ + ": " + std::strerror(error);
        return false;
    }
    // Both directions wait at most the reply limit: a server that stops reading or answering
    // breaks the link instead of hanging the window.
    const timeval limit = toTimeval(replyLimit_);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return true;
}

void SocketPort::ShutdownWinIo() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SocketPort::SetPortVal(std::uint16_t address, std::uint32_t value, int /*size*/) {
    const std::uint8_t message[] = {kWriteCommand, lowByte(address), highByte(address),
                                    static_cast<std::uint8_t>(value)};
    return sendAll(message, sizeof message);
}

bool SocketPort::GetPortVal(std::uint16_t address, std::uint32_t& value, int /*size*/) {
    value = 0;
    const std::uint8_t message[] = {kReadCommand, lowByte(address), highByte(address)};
    if (!sendAll(message, sizeof message)) {
        return false;
    }
    std::uint8_t answer = 0;
    ssize_t received = 0;
    do {
        received = ::recv(fd_, &answer, 1, 0);
    } while (received < 0 && errno == EINTR);
    if (received == 1) {
        value = answer;
        return true;
    }
    if (received == 0) {
        breakLink("the simulator closed the connection", 0);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        breakLink("no answer to a port read in time", 0);
    } else {
        breakLink("port read failed", errno);
    }
    return false;
}

bool SocketPort::sendAll(const std::uint8_t* bytes, std::size_t count) {
    if (fd_ < 0) {
        return false;
    }
    // One send() normally carries the whole message; the loop only covers a signal or a
    // nearly full socket buffer cutting it short.
    while (count > 0) {
        const ssize_t sent = ::send(fd_, bytes, count, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            breakLink("port write failed", errno);
            return false;
        }
        bytes += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

void SocketPort::breakLink(const std::string& what, int error) {
    std::string line = "port socket " + socketPath_ + ": " + what;
    if (error != 0) {
        line += std::string(": ") + std::strerror(error);
    }
    brokenNotice_.say(line + "; port accesses are skipped from now on");
    ShutdownWinIo();
}

}  // namespace lpt
