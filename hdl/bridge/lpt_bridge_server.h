// The port socket's server for a simulation of the module's RTL: a PC program (SPI, camctl with
// --port-io=unix:PATH) connects and sends its port accesses, and the testbench's bridge module
// takes them one at a time and puts them on the design's pins. The protocol is the one
// camera-emulator serves (protocol/port_socket_wire.h): 'w' lo hi value, 'r' lo hi answered with
// one byte, several messages in one send answered in order.
//
// Only the data register's writes and the status register's reads reach the design. The rest is
// answered here as a real port would: the data register reads back what was written last, the
// control register reads as after power-up, any other address reads 0xFF; writes elsewhere are
// dropped. One client at a time: another one is accepted and closed at once, with nothing sent.
// When the client leaves, the next is waited for; the design keeps its state meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hdl {

// What the design is to do next.
struct PinAccess {
    enum class Kind { WriteData, ReadStatus, End };
    Kind kind = Kind::End;
    std::uint8_t value = 0;  // the data register's new value, for WriteData
};

class LptBridgeServer {
  public:
    // The status register's bits that are no pin of the link, as an idle port reads them: error,
    // select and acknowledge high, the rest low.
    static constexpr std::uint8_t kOtherStatusLines = 0x58;
    static constexpr std::uint8_t kMisoLine = 0x20;   // paper end, pin 12
    static constexpr std::uint8_t kReadyLine = 0x80;  // busy, pin 11, as the PC reads it

    LptBridgeServer() = default;
    ~LptBridgeServer();
    LptBridgeServer(const LptBridgeServer&) = delete;
    LptBridgeServer& operator=(const LptBridgeServer&) = delete;

    // Listens at `path` (an old socket there is replaced, anything else is refused) for the
    // addresses of LPT`lpt` (1: 0x378, 2: 0x278). Why not, or nullopt.
    std::optional<std::string> start(const std::string& path, int lpt);

    // The next access for the design, waiting without a limit (and without spinning) for a
    // client and its messages. End once SIGINT or SIGTERM came (see endOnSignals) or the server
    // is not started.
    PinAccess next();
    // The status register's value for the ReadStatus that next() gave last, from the pins.
    void answerStatus(bool miso, bool ready);

    // SIGINT and SIGTERM end the serving: next() gives End, so the simulation can finish and
    // flush its waveform.
    void endOnSignals();

  private:
    // Runs the whole messages at the front of what the client sent until one is for the
    // design; nullopt when none is left.
    std::optional<PinAccess> takeMessage();
    // Waits for the listening socket, the client or a signal; false on a signal.
    bool waitForBytes();
    // Reads all the client has sent so far; marks it gone when it has hung up.
    void readClient();
    void sendAnswers();
    void dropClient();

    int listenFd_ = -1;
    int clientFd_ = -1;
    bool clientLeft_ = false;  // hung up; let go once what it sent is run
    std::string path_;
    std::uint16_t base_ = 0x378;
    std::uint8_t dataLatch_ = 0;
    std::vector<std::uint8_t> received_;
    std::size_t used_ = 0;
    std::vector<std::uint8_t> answers_;
};

}  // namespace hdl
