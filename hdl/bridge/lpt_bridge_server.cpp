#include "lpt_bridge_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "protocol/port_socket_wire.h"

namespace hdl {

namespace {

namespace wire = protocol::port_socket;

constexpr std::uint16_t kLpt1Base = 0x378;
constexpr std::uint16_t kLpt2Base = 0x278;
constexpr std::uint16_t kStatusOffset = 1;
constexpr std::uint16_t kControlOffset = 2;
// The control register's outputs as a port leaves them after power-up: nInit high, the rest low.
constexpr std::uint8_t kControlPowerUp = 0x04;
constexpr std::uint8_t kFloatingBus = 0xFF;
constexpr std::size_t kReadChunk = 4096;

// The read end of the pipe SIGINT and SIGTERM write to; -1 until endOnSignals().
int signalPipe[2] = {-1, -1};

extern "C" void noteEndSignal(int) {
    const char signalled = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &signalled, 1);
}

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return address;
}

// Whether a server answers at `path`: a socket left by one that ended can be replaced.
bool served(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered =
        probe >= 0 &&
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    return answered;
}

}  // namespace

LptBridgeServer::~LptBridgeServer() {
    dropClient();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
}

std::optional<std::string> LptBridgeServer::start(const std::string& path, int lpt) {
    if (lpt != 1 && lpt != 2) {
        return "+lpt takes 1 or 2, not " + std::to_string(lpt);
    }
    base_ = lpt == 1 ? kLpt1Base : kLpt2Base;
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path)) {
        return "the socket path must be 1 to " + std::to_string(sizeof(sockaddr_un::sun_path) - 1) +
               " bytes long";
    }
    const sockaddr_un address = addressOf(path);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            return path + " exists and is no socket";
        }
        if (served(address)) {
            return path + " is served by another program";
        }
        ::unlink(path.c_str());
    }
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        const std::string reason = std::strerror(errno);
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
        return "cannot serve " + path + ": " + reason;
    }
    path_ = path;
    return std::nullopt;
}

void LptBridgeServer::endOnSignals() {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = noteEndSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

PinAccess LptBridgeServer::next() {
    while (listenFd_ >= 0) {
        if (const auto access = takeMessage()) {
            return *access;
        }
        sendAnswers();
        if (!waitForBytes()) {
            break;
        }
    }
    return {PinAccess::Kind::End, 0};
}

void LptBridgeServer::answerStatus(bool miso, bool ready) {
    answers_.push_back(static_cast<std::uint8_t>(kOtherStatusLines | (miso ? kMisoLine : 0) |
                                                 (ready ? kReadyLine : 0)));
}

std::optional<PinAccess> LptBridgeServer::takeMessage() {
    while (used_ < received_.size()) {
        const std::span<const std::uint8_t> rest(received_.data() + used_,
                                                 received_.size() - used_);
        const std::size_t length = wire::messageLength(rest[0]);
        if (length == 0) {
            ++used_;  // no message starts here: the stream finds its step at the next 'w' or 'r'
            continue;
        }
        if (rest.size() < length) {
            break;  // the rest of it comes with the next read
        }
        used_ += length;
        const std::uint16_t address = wire::addressOf(rest);
        if (rest[0] == wire::kWriteTag) {
            if (address == base_) {
                dataLatch_ = rest[3];
                return PinAccess{PinAccess::Kind::WriteData, dataLatch_};
            }
        } else if (address == base_ + kStatusOffset) {
            return PinAccess{PinAccess::Kind::ReadStatus, 0};
        } else {
            answers_.push_back(address == base_                    ? dataLatch_
                               : address == base_ + kControlOffset ? kControlPowerUp
                                                                   : kFloatingBus);
        }
    }
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ = 0;
    return std::nullopt;
}

bool LptBridgeServer::waitForBytes() {
    if (clientLeft_) {
        dropClient();  // what it sent before it left has been run
    }
    pollfd watched[3] = {
        {listenFd_, POLLIN, 0}, {clientFd_, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    if (::poll(watched, 3, -1) < 0) {
        return errno == EINTR;
    }
    if (watched[2].revents != 0) {
        return false;
    }
    if (watched[1].revents != 0) {
        readClient();
    }
    // A client that has left is let go once its last bytes are run; only then is the next one
    // let in rather than shut out.
    if ((watched[0].revents & POLLIN) != 0 && !clientLeft_) {
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client >= 0 && clientFd_ >= 0) {
            ::close(client);  // one client at a time: the second is shut out at once
        } else if (client >= 0) {
            clientFd_ = client;
        }
    }
    return true;
}

void LptBridgeServer::readClient() {
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(clientFd_, chunk, sizeof chunk);
        if (n > 0) {
            received_.insert(received_.end(), chunk, chunk + n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Everything there has been read: the client is still there, or has left.
            clientLeft_ = n == 0 || errno != EAGAIN;
            return;
        }
    }
}

void LptBridgeServer::sendAnswers() {
    std::size_t sent = 0;
    while (clientFd_ >= 0 && !clientLeft_ && sent < answers_.size()) {
        const ssize_t n =
            ::send(clientFd_, answers_.data() + sent, answers_.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            // The client takes its answers slowly: wait for room, or for the end.
            pollfd watched[2] = {{clientFd_, POLLOUT, 0}, {signalPipe[0], POLLIN, 0}};
            const int ready = ::poll(watched, 2, -1);
            if ((ready > 0 && watched[1].revents == 0) || (ready < 0 && errno == EINTR)) {
                continue;
            }
            break;  // the end was asked for: what is left goes unsent
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        clientLeft_ = true;
        break;
    }
    answers_.clear();
}

void LptBridgeServer::dropClient() {
    if (clientFd_ >= 0) {
        ::close(clientFd_);
        clientFd_ = -1;
    }
    clientLeft_ = false;
    received_.clear();
    used_ = 0;
    answers_.clear();
}

}  // namespace hdl
