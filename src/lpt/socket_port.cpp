#include "lpt/socket_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/port_socket_wire.h"

namespace lpt {

namespace {

// Enough for any burst of stray bytes a confused server sends between two reads.
constexpr std::size_t kStrayBufferSize = 256;

timeval toTimeval(std::chrono::milliseconds limit) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(limit - seconds);
    return {static_cast<time_t>(seconds.count()), static_cast<suseconds_t>(micros.count())};
}

std::string strayBytes(std::size_t count) {
    return "the simulator sent " + std::to_string(count) + " byte(s) nobody asked for";
}

// Why a receive that gave `received` (errno `error` when negative) is no answer.
constexpr std::string_view kClosed = "the simulator closed the connection";
// A close that finds the client's bytes unread resets the connection instead.
constexpr std::string_view kReset = "connection reset: ";

std::string receiveFailure(ssize_t received, int error, std::chrono::milliseconds limit) {
    if (received == 0 || error == EPIPE) {
        return std::string(kClosed);
    }
    if (error == ECONNRESET) {
        return std::string(kReset) + std::strerror(error);
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
        return "no answer to a port read within " + std::to_string(limit.count()) + " ms";
    }
    return std::string("port read failed: ") + std::strerror(error);
}

std::string sendFailure(int error, std::chrono::milliseconds limit) {
    if (error == EPIPE) {
        return std::string(kClosed);
    }
    if (error == ECONNRESET) {
        return std::string(kReset) + std::strerror(error);
    }
    if (error == EAGAIN || error == EWOULDBLOCK) {
        return "port write failed: the simulator took nothing for " +
               std::to_string(limit.count()) + " ms";
    }
    return std::string("port write failed: ") + std::strerror(error);
}

ssize_t receiveRetrying(int fd, std::uint8_t* into, std::size_t size, int flags) {
    ssize_t received = 0;
    do {
        received = ::recv(fd, into, size, flags);
    } while (received < 0 && errno == EINTR);
    return received;
}

}  // namespace

SocketPort::SocketPort(std::string socketPath, std::chrono::milliseconds replyLimit)
    : socketPath_(std::move(socketPath)), replyLimit_(replyLimit) {}

SocketPort::~SocketPort() {
    stop();
}

bool SocketPort::start() {
    if (fd_ >= 0) {
        return true;  // every break closes the socket: this link is whole
    }
    const bool reconnect = started_;
    started_ = true;
    if (!connectOnce(reconnect ? "cannot reconnect to port socket "
                               : "cannot connect to port socket ")) {
        return false;
    }
    brokenNotice_.rearm();
    return true;
}

void SocketPort::stop() {
    owedReads_.clear();
    closeSocket();
    started_ = false;
}

bool SocketPort::notConnected() {
    if (fault_.empty()) {
        fault_ = "port socket " + socketPath_ + " is not connected";
    }
    return false;
}

bool SocketPort::connectOnce(const std::string& failurePrefix) {
    fault_.clear();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof address.sun_path) {
        fault_ = "port socket path \"" + socketPath_ + "\" is empty or too long";
        return false;
    }
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);

    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        const int error = errno;
        fault_ = "cannot create a socket: " + std::string(std::strerror(error));
        return false;
    }
    // Every wait is bounded by the reply limit: a server that stops reading or answering breaks
    // the link instead of hanging the window. Set before connect(), the send limit also bounds
    // a connect that waits for room in a server's full backlog (it then fails with EAGAIN).
    const timeval limit = toTimeval(replyLimit_);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        closeSocket();
        fault_ = failurePrefix + socketPath_ + ": ";
        if (error == EAGAIN || error == EWOULDBLOCK) {
            fault_ += "the server accepted no connection within " +
                      std::to_string(replyLimit_.count()) + " ms";
        } else {
            fault_ += std::strerror(error);
        }
        return false;
    }
    answered_ = false;
    return true;
}

void SocketPort::closeSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool SocketPort::writeByte(std::uint16_t address, std::uint8_t value) {
    return put(protocol::port_socket::writeMessage(address, value));
}

bool SocketPort::readByte(std::uint16_t address, std::uint8_t& value) {
    value = 0;
    const auto message = protocol::port_socket::readMessage(address);
    if (!holding_) {
        return exchange(message, std::span(&value, 1));
    }
    if (!put(message)) {
        return false;
    }
    heldReads_.push_back(&value);
    return true;
}

bool SocketPort::put(std::span<const std::uint8_t> message) {
    if (fd_ < 0) {
        return notConnected();
    }
    if (holding_) {
        held_.insert(held_.end(), message.begin(), message.end());
        return true;
    }
    return takeAnswers() && sendAll(message.data(), message.size());
}

bool SocketPort::release() {
    holding_ = false;
    bool made = true;
    if (heldReads_.empty()) {
        made = takeAnswers() && (held_.empty() || sendAll(held_.data(), held_.size()));
    } else {
        heldAnswers_.resize(heldReads_.size());
        made = exchange(held_, heldAnswers_);
        for (std::size_t i = 0; made && i < heldReads_.size(); ++i) {
            *heldReads_[i] = heldAnswers_[i];
        }
    }
    held_.clear();
    heldReads_.clear();
    return made;
}

bool SocketPort::sendHeld() {
    holding_ = false;
    const bool sent = takeAnswers() &&
                      (held_.empty() || (nothingWaiting() && sendAll(held_.data(), held_.size())));
    if (sent) {
        owedReads_.swap(heldReads_);
        heldSentAt_ = lastSend_;
    }
    held_.clear();
    heldReads_.clear();
    return sent;
}

bool SocketPort::takeAnswers() {
    if (owedReads_.empty()) {
        return true;
    }
    const std::vector<std::uint8_t*> owed = std::exchange(owedReads_, {});
    if (fd_ < 0) {
        return notConnected();
    }
    owedAnswers_.resize(owed.size());
    // An answer that is not there yet is waited for: that wait tells how slow the line is.
    pollfd waiting{fd_, POLLIN, 0};
    const bool arrived = ::poll(&waiting, 1, 0) > 0;
    if (!receiveAnswers(owedAnswers_)) {
        return false;
    }
    if (!arrived) {
        noteRoundTrip(heldSentAt_);
    }
    for (std::size_t i = 0; i < owed.size(); ++i) {
        *owed[i] = owedAnswers_[i];
    }
    return true;
}

bool SocketPort::exchange(std::span<const std::uint8_t> messages, std::span<std::uint8_t> answers) {
    if (fd_ < 0) {
        return notConnected();
    }
    if (!takeAnswers() || !nothingWaiting() || !sendAll(messages.data(), messages.size())) {
        return false;
    }
    const auto sentAt = lastSend_;
    if (!receiveAnswers(answers)) {
        return false;
    }
    noteRoundTrip(sentAt);
    return true;
}

void SocketPort::noteRoundTrip(std::chrono::steady_clock::time_point sentAt) {
    // A wait longer than the reply limit has failed already; a paused machine cannot make the
    // line look slower than that.
    const auto took = std::min<std::chrono::steady_clock::duration>(
        std::chrono::steady_clock::now() - sentAt, replyLimit_);
    slowestRoundTrip_ = std::max(slowestRoundTrip_, took);
}

bool SocketPort::settled() const {
    return owedReads_.empty() &&
           std::chrono::steady_clock::now() - lastSend_ >= 2 * slowestRoundTrip_;
}

bool SocketPort::nothingArrived() {
    if (!owedReads_.empty() && !takeAnswers()) {
        return false;
    }
    return fd_ < 0 || nothingWaiting();  // a broken link has told its fault already
}

bool SocketPort::receiveAnswers(std::span<std::uint8_t> answers) {
    ++roundTrips_;
    // Room for a byte more than owed, so that one arriving with the answers is seen, not left to
    // be taken for the next read's answer.
    received_.resize(answers.size() + 1);
    std::size_t got = 0;
    while (got < answers.size()) {
        const ssize_t n = receiveRetrying(fd_, received_.data() + got, received_.size() - got, 0);
        if (n <= 0) {
            breakLink(receiveFailure(n, errno, replyLimit_));
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > answers.size()) {
        std::uint8_t more[kStrayBufferSize];
        const ssize_t extra = receiveRetrying(fd_, more, sizeof more, MSG_DONTWAIT);
        breakLink(strayBytes(got - answers.size() +
                             static_cast<std::size_t>(std::max<ssize_t>(extra, 0))));
        answersInDoubt_ = true;
        return false;
    }
    std::copy_n(received_.begin(), answers.size(), answers.begin());
    answered_ = true;
    return true;
}

bool SocketPort::nothingWaiting() {
    std::uint8_t stray[kStrayBufferSize];
    const ssize_t received = receiveRetrying(fd_, stray, sizeof stray, MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return true;
    }
    breakLink(received > 0 ? strayBytes(static_cast<std::size_t>(received))
                           : receiveFailure(received, errno, replyLimit_));
    answersInDoubt_ = received > 0;
    return false;
}

bool SocketPort::confirmAnswers() {
    if (!takeAnswers() || fd_ < 0) {
        return true;  // a broken link has told its fault already
    }
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(kSettleTime.count())) <= 0) {
        return true;
    }
    std::uint8_t stray[kStrayBufferSize];
    const ssize_t received = receiveRetrying(fd_, stray, sizeof stray, MSG_DONTWAIT);
    if (received <= 0) {
        // Closed or reset after the last answer: the answers stand, the next access fails.
        return true;
    }
    breakLink(strayBytes(static_cast<std::size_t>(received)));
    answersInDoubt_ = true;
    return false;
}

bool SocketPort::sendAll(const std::uint8_t* bytes, std::size_t count) {
    if (fd_ < 0) {
        return notConnected();
    }
    // One send() normally carries the whole message; the loop only covers a signal or a
    // nearly full socket buffer cutting it short.
    while (count > 0) {
        const ssize_t sent = ::send(fd_, bytes, count, MSG_NOSIGNAL);
        lastSend_ = std::chrono::steady_clock::now();
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            breakLink(sendFailure(errno, replyLimit_));
            return false;
        }
        bytes += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

void SocketPort::breakLink(const std::string& what) {
    answersInDoubt_ = false;
    fault_ = "port socket " + socketPath_ + ": " + what;
    if ((what == kClosed || what.starts_with(kReset)) && !answered_) {
        // A simulator that serves one client at a time shuts the next one out at once: closed,
        // or reset when the client's first bytes were already there.
        fault_ += " before any answer: another client may hold the simulator";
    }
    brokenNotice_.say(fault_ + "; port accesses fail until it is reconnected");
    closeSocket();
}

}  // namespace lpt
