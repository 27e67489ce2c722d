// camera-emulator: the JPEG camera module in software, for running and testing the PC programs
// without hardware. It serves the module's serial port on a pseudo-terminal (--serial=LINK) and
// its SPI slave behind a parallel port reached over a Unix socket (--port-io-socket=PATH), until
// SIGINT or SIGTERM, and then removes LINK and PATH. A LINK or PATH that another emulator serves is
// refused and left alone; one left behind by an emulator that is gone is taken over.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>

#include "emulator/camera_module.h"
#include "emulator/emulated_port.h"
#include "emulator/emulator_log.h"
#include "emulator/frame_source.h"
#include "emulator/port_socket_server.h"
#include "emulator/serial_peer.h"
#include "emulator/spi_slave.h"

namespace {

struct Settings {
    QString serialLink;
    QString portSocket;
    QString logFile;
    std::optional<std::vector<std::uint8_t>> fixedFrame;
    std::chrono::milliseconds captureTime{50};
    std::chrono::microseconds portDelay{0};
};

// The JPEG of --frame=FILE: it has to start with the start-of-image marker and fit a frame, or the
// PC would be sent something no module sends.
std::optional<std::vector<std::uint8_t>> readFrameFile(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = "--frame " + path + ": cannot read it: " + file.errorString();
        return std::nullopt;
    }
    // One byte past the limit is enough to know a file is too large, whatever size() says.
    const QByteArray bytes = file.read(emulator::kMaxFrameBytes + 1);
    if (bytes.size() > static_cast<qsizetype>(emulator::kMaxFrameBytes)) {
        error = QString("--frame %1: %2 bytes, more than the %3 a frame may have")
                    .arg(path)
                    .arg(std::max<qint64>(file.size(), bytes.size()))
                    .arg(emulator::kMaxFrameBytes);
        return std::nullopt;
    }
    if (!bytes.startsWith("\xFF\xD8")) {
        error = "--frame " + path + ": not a JPEG (it does not start with the marker FF D8)";
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

int fail(const QString& message) {
    std::fprintf(stderr, "camera-emulator: %s\n", qPrintable(message));
    return 1;
}

std::optional<Settings> parseCommandLine(const QCoreApplication& app, QString& error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Emulates the JPEG camera module: its serial port on a pseudo-terminal and its SPI slave "
        "behind a parallel port served over a Unix socket.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption serial("serial", "Make a pseudo-terminal, link it at LINK, serve it.",
                                    "LINK");
    const QCommandLineOption socket("port-io-socket", "Serve port I/O on a Unix socket at PATH.",
                                    "PATH");
    const QCommandLineOption log("log", "Append every exchange and register change to FILE.",
                                 "FILE");
    const QCommandLineOption frame(
        "frame", "Send the JPEG in FILE (at most 65000 bytes) as every frame.", "FILE");
    const QCommandLineOption capture("capture-time", "Busy time after a capture (default 50).",
                                     "MS", "50");
    const QCommandLineOption delay("port-delay", "Time per port access (default 0; 1 models ISA).",
                                   "US", "0");
    parser.addOptions({serial, socket, log, frame, capture, delay});
    parser.process(app);

    Settings settings;
    settings.serialLink = parser.value(serial);
    settings.portSocket = parser.value(socket);
    settings.logFile = parser.value(log);
    if (settings.serialLink.isEmpty() && settings.portSocket.isEmpty()) {
        error = "nothing to serve: give --serial=LINK and/or --port-io-socket=PATH";
        return std::nullopt;
    }
    bool ok = false;
    settings.captureTime = std::chrono::milliseconds(parser.value(capture).toUInt(&ok));
    if (!ok) {
        error = "--capture-time takes milliseconds";
        return std::nullopt;
    }
    settings.portDelay = std::chrono::microseconds(parser.value(delay).toUInt(&ok));
    if (!ok) {
        error = "--port-delay takes microseconds";
        return std::nullopt;
    }
    if (parser.isSet(frame)) {
        settings.fixedFrame = readFrameFile(parser.value(frame), error);
        if (!settings.fixedFrame) {
            return std::nullopt;
        }
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("camera-emulator");
    QCoreApplication::setApplicationVersion(PROJECT_VERSION);

    QString error;
    const std::optional<Settings> settings = parseCommandLine(app, error);
    if (!settings) {
        return fail(error);
    }

    // The signals that end the emulator are taken by sigwait below; blocked before any thread
    // starts, so no serving thread is interrupted by them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    emulator::EmulatorLog log;
    std::string why;
    if (!settings->logFile.isEmpty() && !log.openFile(settings->logFile.toStdString(), why)) {
        return fail("cannot open " + settings->logFile + ": " + QString::fromStdString(why));
    }
    emulator::CameraModule::Options moduleOptions;
    moduleOptions.captureTime = settings->captureTime;
    moduleOptions.fixedFrame = settings->fixedFrame;

    // Each link has a module of its own: a frame read over one never drains bytes queued for the
    // other.
    emulator::CameraModule serialModule(log, moduleOptions);
    emulator::CameraModule spiModule(log, moduleOptions);
    emulator::SpiSlave slave(spiModule);
    emulator::EmulatedPort::Options portOptions;
    portOptions.accessDelay = settings->portDelay;
    emulator::EmulatedPort port(slave, portOptions);

    emulator::SerialPeer peer(serialModule, log);
    emulator::PortSocketServer server(port, log);
    if (!settings->serialLink.isEmpty()) {
        const auto device = peer.start(settings->serialLink.toStdString(), why);
        if (!device) {
            return fail("serial: " + QString::fromStdString(why));
        }
        std::printf("serial port: %s -> %s\n", qPrintable(settings->serialLink), device->c_str());
    }
    if (!settings->portSocket.isEmpty()) {
        if (!server.start(settings->portSocket.toStdString(), why)) {
            peer.stop();
            return fail("port I/O: " + QString::fromStdString(why));
        }
        std::printf("port I/O socket: %s\n", qPrintable(settings->portSocket));
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&endSignals, &received);
    server.stop();
    peer.stop();
    return 0;
}
