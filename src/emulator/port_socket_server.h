// Serves port I/O on a Unix stream socket, so a PC program (SPI --port-io=unix:PATH) reaches a
// port-I/O back-end in this process. The protocol, byte for byte:
//   port write: 'w', address low, address high, value   (no answer)
//   port read:  'r', address low, address high           (answered with 1 byte, the value)
// One client at a time, on a thread of its own; the next client is served when the first one
// hangs up. A byte that starts no message is logged and skipped, so the stream finds its step
// again at the next 'w' or 'r'.
#pragma once

#include <string>
#include <vector>

#include "emulator/emulator_log.h"
#include "emulator/serving_thread.h"
#include "lpt/port_io.h"

namespace emulator {

class PortSocketServer {
  public:
    PortSocketServer(lpt::PortIo& port, EmulatorLog& log);
    ~PortSocketServer();
    PortSocketServer(const PortSocketServer&) = delete;
    PortSocketServer& operator=(const PortSocketServer&) = delete;

    // Binds and listens at `path` (an old socket there is replaced, anything else is an error).
    bool start(const std::string& path, std::string& error);
    // Stops serving, closes every socket and removes `path`. Safe to call twice.
    void stop();

  private:
    void serve();
    void serveClient(int client);
    // Handles the complete messages at the front of `pending`; false when the client is gone.
    bool handleMessages(int client, std::vector<std::uint8_t>& pending);
    void closeAll();

    lpt::PortIo& port_;
    EmulatorLog& log_;
    int listenFd_ = -1;
    std::string path_;
    ServingThread thread_;
};

}  // namespace emulator
