// A frame download over the co-simulation socket: the emulator's port-socket server in this
// process, serving the emulated module (no delay per access, as camera-emulator --port-io-socket
// by default), and the SPI link on the socket port. Prints the round trips per downloaded byte
// and the download rate, with the accesses of a byte held and sent together (the socket port as
// the programs use it), and made one by one (each status read waiting for its own answer) for
// comparison. Exits 1 when a frame does not arrive whole.
//
//   cmake --build build --target socket_download_bench
//   build/bench/socket_download_bench
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <string>

#include "emulator/port_socket_server.h"
#include "lpt/socket_port.h"
#include "spi_download_rig.h"

namespace {

// The frame of the slow download this bench was written for.
constexpr std::size_t kFrameBytes = 5631;

// The socket port with nothing but PortIo: every access made on its own.
class OneByOne final : public protocol::PortIo {
  public:
    explicit OneByOne(lpt::SocketPort& port) : port_(port) {}
    bool start() override { return port_.start(); }
    void stop() override { port_.stop(); }
    bool writeByte(std::uint16_t address, std::uint8_t value) override {
        return port_.writeByte(address, value);
    }
    bool readByte(std::uint16_t address, std::uint8_t& value) override {
        return port_.readByte(address, value);
    }
    std::string fault() const override { return port_.fault(); }

  private:
    lpt::SocketPort& port_;
};

void download(const char* how, const std::vector<std::uint8_t>& frame, bool held) {
    emulator::CameraModule::Options moduleOptions;
    moduleOptions.captureTime = std::chrono::microseconds(0);
    moduleOptions.fixedFrame = frame;
    emulator::InProcessSpiModule module(moduleOptions);
    QTemporaryDir folder;
    const std::string path = folder.filePath("port.sock").toStdString();
    emulator::PortSocketServer server(module.port, module.log);
    std::string error;
    if (!server.start(path, error)) {
        std::fprintf(stderr, "cannot serve %s: %s\n", path.c_str(), error.c_str());
        std::exit(1);
    }
    lpt::SocketPort socket(path);
    OneByOne oneByOne(socket);
    lpt::SpiLink link(held ? static_cast<protocol::PortIo&>(socket) : oneByOne);
    if (!link.startPortAccess()) {
        std::fprintf(stderr, "cannot connect: %s\n", socket.fault().c_str());
        std::exit(1);
    }
    link.enterStartState();
    protocol::sendCommand(link, protocol::command::kCapture);
    frames::FrameStore store;
    const auto before = socket.roundTrips();
    const auto start = std::chrono::steady_clock::now();
    protocol::sendCommand(link, protocol::command::kFrameRead);
    lpt::downloadFrame(link, store);
    const bench::Seconds took = std::chrono::steady_clock::now() - start;
    const auto trips = static_cast<double>(socket.roundTrips() - before);
    const auto bytes = static_cast<double>(frame.size());
    bench::expectWholeFrame(how, frame, store.frame());
    std::printf("%-11s %zu bytes in %.3f s: %.1f KB/s, %.2f round trips a byte (%.0f in all)\n",
                how, frame.size(), took.count(), bytes / took.count() / 1000, trips / bytes, trips);
    link.stopPortAccess();
}

}  // namespace

int main() {
    auto frame = bench::randomFrame();
    frame.resize(kFrameBytes);
    download("held", frame, true);
    download("one by one", frame, false);
    return 0;
}
