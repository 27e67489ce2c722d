// A frame download from the module's RTL (hdl/, simulated by Verilator behind the port bridge)
// next to the same frame from camera-emulator's port-socket server, over the same socket port
// and SPI link, in one run. Prints both rates and their ratio; exits 1 when a frame does not
// arrive whole or the simulator does not start.
//
//   cmake --build build --target rtl_download_bench
//   build/bench/rtl_download_bench
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <string>

#include "emulator/port_socket_server.h"
#include "lpt/socket_port.h"
#include "spi_download_rig.h"

namespace {

constexpr std::size_t kFrameBytes = 5631;

// Captures and downloads one frame from the port socket at `path`; the rate in bytes a second.
double download(const char* how, const std::string& path, const std::vector<std::uint8_t>& frame) {
    lpt::SocketPort socket(path);
    lpt::SpiLink link(socket);
    if (!link.startPortAccess()) {
        std::fprintf(stderr, "%s: cannot connect: %s\n", how, socket.fault().c_str());
        std::exit(1);
    }
    link.enterStartState();
    protocol::sendCommand(link, protocol::command::kCapture);
    frames::FrameStore store;
    const auto start = std::chrono::steady_clock::now();
    protocol::sendCommand(link, protocol::command::kFrameRead);
    lpt::downloadFrame(link, store);
    const bench::Seconds took = std::chrono::steady_clock::now() - start;
    bench::expectWholeFrame(how, frame, store.frame());
    link.stopPortAccess();
    const double rate = static_cast<double>(frame.size()) / took.count();
    std::printf("%-9s %zu bytes in %.3f s: %.1f KB/s\n", how, frame.size(), took.count(),
                rate / 1000);
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto frame = bench::randomFrame();
    frame.resize(kFrameBytes);
    QTemporaryDir folder;

    emulator::CameraModule::Options moduleOptions;
    moduleOptions.captureTime = std::chrono::microseconds(0);
    moduleOptions.fixedFrame = frame;
    emulator::InProcessSpiModule module(moduleOptions);
    emulator::PortSocketServer server(module.port, module.log);
    const std::string emulatorPath = folder.filePath("emulator.sock").toStdString();
    std::string error;
    if (!server.start(emulatorPath, error)) {
        std::fprintf(stderr, "cannot serve %s: %s\n", emulatorPath.c_str(), error.c_str());
        return 1;
    }
    const double emulated = download("emulator", emulatorPath, frame);

    QFile jpeg(folder.filePath("frame.jpg"));
    if (!jpeg.open(QIODevice::WriteOnly) ||
        jpeg.write(reinterpret_cast<const char*>(frame.data()),
                   static_cast<qint64>(frame.size())) != static_cast<qint64>(frame.size())) {
        return 1;
    }
    jpeg.close();
    const QString rtlPath = folder.filePath("rtl.sock");
    QProcess simulator;
    simulator.start(CAMERA_MODULE_SIM, {"+lpt_socket=" + rtlPath, "+frame=" + jpeg.fileName()});
    for (int tries = 0; tries < 500 && !QFile::exists(rtlPath); ++tries) {
        QThread::msleep(10);
    }
    if (!QFile::exists(rtlPath)) {
        std::fprintf(stderr, "the simulator did not start: %s\n",
                     simulator.readAllStandardError().constData());
        return 1;
    }
    const double rtl = download("rtl", rtlPath.toStdString(), frame);
    simulator.terminate();
    simulator.waitForFinished(5000);
    std::printf("rtl / emulator: %.2f\n", rtl / emulated);
    return 0;
}
