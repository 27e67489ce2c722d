#include "emulator/port_socket_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emulator/port_messages.h"

namespace emulator {

namespace {

constexpr std::size_t kReceiveChunk = 4096;

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Whether a server listens at `address`: a connection accepted or waiting in its queue means one
// does; a refused one means the socket file was left behind by a server that is gone.
bool someoneListens(const sockaddr_un& address) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool listening =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
        errno == EAGAIN || errno == EINPROGRESS;
    close(probe);
    return listening;
}

// Whether the other side of `client` has closed, or shut its sending side.
bool hungUp(int client) {
    pollfd state{client, POLLRDHUP, 0};
    return poll(&state, 1, 0) > 0 && (state.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0;
}

}  // namespace

PortSocketServer::PortSocketServer(protocol::PortIo& port, EmulatorLog& log)
    : port_(port), log_(log) {}

PortSocketServer::~PortSocketServer() {
    stop();
}

bool PortSocketServer::start(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "socket path must be 1 to " + std::to_string(sizeof address.sun_path - 1) +
                " characters";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // Taken before the path is looked at: two emulators started at once would otherwise both
    // find it free, both serve, and the first to end would remove the other's socket.
    if (!pathLock_.acquire(path, error)) {
        return false;
    }

    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            error = path + " exists and is not a socket";
            closeAll();
            return false;
        }
        if (someoneListens(address)) {
            error = path + " is served by another emulator (a connection to it was accepted)";
            closeAll();
            return false;
        }
        unlink(path.c_str());  // left behind by an emulator that did not end cleanly
    }
    if (!thread_.prepare(error)) {
        closeAll();
        return false;
    }
    // Non-blocking, so an accept() after a client gave up between poll() and accept() returns.
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = systemError("socket");
        closeAll();
        return false;
    }
    // The socket is bound under a name of its own and renamed onto `path` once it listens: a
    // client that connects the moment the path appears is never refused. A path too long for
    // that name is bound in place.
    const std::string binding = path + ".binding-" + std::to_string(getpid());
    const bool renameAfterListen = binding.size() < sizeof address.sun_path;
    if (renameAfterListen) {
        std::memcpy(address.sun_path, binding.c_str(), binding.size() + 1);
    }
    if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = systemError("bind " + std::string(address.sun_path));
        closeAll();
        return false;
    }
    path_ = address.sun_path;
    if (listen(listenFd_, 1) != 0) {
        error = systemError("listen " + path);
        closeAll();
        return false;
    }
    if (renameAfterListen) {
        if (rename(binding.c_str(), path.c_str()) != 0) {
            error = systemError("rename " + binding + " to " + path);
            closeAll();
            return false;
        }
        path_ = path;
    }
    log_.record(LogKind::Line, {}, "serving port I/O at " + path_);
    thread_.start([this] { serve(); });
    return true;
}

void PortSocketServer::stop() {
    closeAll();
}

void PortSocketServer::closeAll() {
    thread_.stop();
    closeDescriptor(listenFd_);
    removeMadePath(path_);
    pathLock_.release();
}

void PortSocketServer::serve() {
    while (!thread_.stopping()) {
        pollfd fds[] = {{listenFd_, POLLIN, 0}, {thread_.wakeFd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            log_.record(LogKind::Line, {}, systemError("poll"));
            return;
        }
        if (fds[0].revents & POLLIN) {
            const int client = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client >= 0) {
                // The port is the client's from its connect to its hang-up, as it is a program's
                // from its start to its stop: what it left half done goes with it.
                log_.record(LogKind::Line, {}, "port I/O client connected");
                port_.start();
                serveClient(client);
                close(client);
                port_.stop();
                log_.record(LogKind::Line, {}, "port I/O client gone");
            }
        }
    }
}

void PortSocketServer::serveClient(int client) {
    std::vector<std::uint8_t> pending;
    std::vector<std::uint8_t> answers;
    bool toldHeldBack = false;
    bool toldRefused = false;
    bool leaving = false;      // the client has hung up: a newcomer waits for it to go
    bool doneSending = false;  // the client shut its side: only its answers are left to give
    while (!thread_.stopping()) {
        const bool takeRequests =
            !doneSending && answers.size() < kMaxUnsentAnswers && pending.size() < kReceiveChunk;
        if (!takeRequests && !toldHeldBack) {
            // Once per client: a client that pipelines reads meets this again and again.
            log_.record(LogKind::Line, {},
                        "port I/O client is not taking its answers: its requests wait");
            toldHeldBack = true;
        }
        const short events =
            static_cast<short>((takeRequests ? POLLIN : 0) | (answers.empty() ? 0 : POLLOUT));
        pollfd fds[] = {{client, events, 0},
                        {thread_.wakeFd(), POLLIN, 0},
                        {listenFd_, static_cast<short>(leaving ? 0 : POLLIN), 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        const short ready = fds[0].revents;
        if (ready & POLLNVAL) {
            return;
        }
        if (!answers.empty() && (ready & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = send(client, answers.data(), answers.size(), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            answers.erase(answers.begin(), answers.begin() + std::max<ssize_t>(n, 0));
        }
        if (takeRequests && (ready & (POLLIN | POLLERR | POLLHUP))) {
            std::uint8_t buffer[kReceiveChunk];
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            }
            doneSending = n == 0;
            pending.insert(pending.end(), buffer, buffer + std::max<ssize_t>(n, 0));
        }
        handleMessages(pending, answers);
        if (doneSending && answers.empty()) {
            return;
        }
        if (fds[2].revents & POLLIN) {
            // A client that hung up before the newcomer came may still have requests to run: it
            // is on its way out, and the newcomer is served after it, not refused. Asked now,
            // after the newcomer was seen, so a hang-up that came first is never missed.
            leaving = hungUp(client);
            if (!leaving) {
                refuseClient(toldRefused);
            }
        }
    }
}

void PortSocketServer::refuseClient(bool& told) {
    int other = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (other < 0) {
        return;
    }
    // Said before the client can hear of it.
    log_.record(LogKind::Line, {}, "port I/O client refused: another client holds the module");
    if (!told) {
        std::fprintf(stderr,
                     "port I/O socket %s: a client was refused: another client holds the module "
                     "(and so is any other until that one goes)\n",
                     path_.c_str());
        told = true;
    }
    // Shut both ways, so nothing more can come in, then emptied of what came already: closed
    // with unread bytes the connection would be reset, and the client would be told of a reset
    // rather than of a closed connection.
    shutdown(other, SHUT_RDWR);
    std::uint8_t discarded[kReceiveChunk];
    while (recv(other, discarded, sizeof discarded, 0) > 0) {
    }
    closeDescriptor(other);
}

void PortSocketServer::handleMessages(std::vector<std::uint8_t>& pending,
                                      std::vector<std::uint8_t>& answers) {
    // A stop request is looked at between messages too: with a long --port-delay a whole chunk of
    // them would otherwise hold the thread for seconds.
    const std::size_t used = runPortMessages(pending, port_, log_, answers, kMaxUnsentAnswers,
                                             [this] { return thread_.stopping(); });
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
}

}  // namespace emulator
