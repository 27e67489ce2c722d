// Serves port I/O on a Unix stream socket, so a PC program (SPI --port-io=unix:PATH) reaches a
// port-I/O back-end in this process. The protocol, byte for byte:
//   port write: 'w', address low, address high, value   (no answer)
//   port read:  'r', address low, address high           (answered with 1 byte, the value)
// One client at a time, on a thread of its own; the next client is served when the first one
// hangs up. The port is started for each client and stopped when it goes. A client that comes
// while another holds the module is let in and shut out at once, with nothing sent: its first
// access finds the connection closed instead of waiting for answers that would never come, and
// the emulator says so on standard error (once for each client that holds the module). A byte
// that starts no message is logged and skipped, so the stream finds its step again at the next
// 'w' or 'r'.
//
// The client's socket is never waited on: answers go out as the client takes them, and a client
// that sends reads without taking the answers is simply not read from while kMaxUnsentAnswers
// wait for it. Memory stays bounded and stop() is always heard.
#pragma once

#include <string>
#include <vector>

#include "emulator/emulator_log.h"
#include "emulator/path_lock.h"
#include "emulator/serving_thread.h"
#include "protocol/port_io.h"

namespace emulator {

class PortSocketServer {
  public:
    // Answers held for a client before its requests are left unread.
    static constexpr std::size_t kMaxUnsentAnswers = 64 * 1024;

    PortSocketServer(protocol::PortIo& port, EmulatorLog& log);
    ~PortSocketServer();
    PortSocketServer(const PortSocketServer&) = delete;
    PortSocketServer& operator=(const PortSocketServer&) = delete;

    // Binds and listens at `path` (an old socket there is replaced, anything else is an error).
    // The path is held by a PathLock while the server serves: a path another emulator serves,
    // or is starting to serve, is refused and left alone.
    bool start(const std::string& path, std::string& error);
    // Stops serving, closes every socket and removes `path`. Safe to call twice.
    void stop();

  private:
    void serve();
    void serveClient(int client);
    // Takes the client waiting on the listening socket and shuts it out; `told` says whether
    // standard error has heard of it already while the same client holds the module.
    void refuseClient(bool& told);
    // Runs the complete messages at the front of `pending`, adding read answers to `answers`,
    // until none is left, kMaxUnsentAnswers are waiting or a stop is asked.
    void handleMessages(std::vector<std::uint8_t>& pending, std::vector<std::uint8_t>& answers);
    void closeAll();

    protocol::PortIo& port_;
    EmulatorLog& log_;
    int listenFd_ = -1;
    std::string path_;
    PathLock pathLock_;
    ServingThread thread_;
};

}  // namespace emulator
