// camera-emulator: the JPEG camera module in software, for running and testing the PC programs
// without hardware. It serves the module's serial port on a pseudo-terminal (--serial=LINK) and
// its SPI slave behind a parallel port reached over a Unix socket (--port-io-socket=PATH), until
// SIGINT or SIGTERM, and then removes LINK and PATH. A LINK or PATH that another emulator serves is
// refused and left alone; one left behind by an emulator that is gone is taken over.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "emulator/camera_module.h"
#include "emulator/emulated_port.h"
#include "emulator/emulator_log.h"
#include "emulator/port_socket_server.h"
#include "emulator/serial_peer.h"
#include "emulator/spi_slave.h"
#include "protocol/encodings.h"
#include "startup/exit_status.h"
#include "startup/option_bytes.h"

namespace {

// Paths are kept as the bytes the system gave, whatever their encoding: a name that is not valid
// UTF-8 reaches open() and bind() unchanged.
struct Settings {
    std::string serialLink;
    std::string portSocket;
    std::string logFile;
    std::optional<std::vector<std::uint8_t>> fixedFrame;
    std::chrono::milliseconds captureTime{50};
    std::chrono::microseconds portDelay{0};
};

// What went wrong and how the program ends for it.
struct Failure {
    std::string message;
    int status;
};

// The longest the two times may be. At 10 ms an access, one byte over SPI (17 port writes and 8
// status reads) takes a quarter of a second, and the PC's socket back-end waits 2 s for a read's
// answer: a longer access makes a module that looks silent, not slow. A minute of capture is far
// beyond any module's compression and long enough to watch a PC that reads before it is ready.
constexpr unsigned kMostPortDelayUs = 10'000;
constexpr unsigned kMostCaptureTimeMs = 60'000;

// The value of a number option, 0 to `most` in `unit`; for anything else, the usage error that
// names the option and its bound.
std::variant<unsigned, Failure> numberUpTo(const QCommandLineParser& parser,
                                           const QCommandLineOption& option, unsigned most,
                                           const std::string& unit) {
    bool ok = false;
    const unsigned value = parser.value(option).toUInt(&ok);
    if (ok && value <= most) {
        return value;
    }
    return Failure{"--" + option.names().constFirst().toStdString() + " takes 0 to " +
                       std::to_string(most) + " " + unit,
                   startup::kExitUsage};
}

const char* kindOfFile(mode_t mode) {
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    return S_ISSOCK(mode) ? "a socket" : "something else";
}

// Reads at most `limit` bytes of `fd`; nullopt (errno set) when a read fails.
std::optional<std::vector<std::uint8_t>> readUpTo(int fd, std::size_t limit) {
    std::vector<std::uint8_t> bytes(limit);
    std::size_t have = 0;
    while (have < limit) {
        const ssize_t n = read(fd, bytes.data() + have, limit - have);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<std::size_t>(n);
    }
    bytes.resize(have);
    return bytes;
}

// The JPEG of --frame=FILE: it has to be a regular file, start with the start-of-image marker and
// fit a frame, or the PC would be sent something no module sends. The file is opened without
// waiting and looked at before it is read: a FIFO would otherwise hold the start until someone
// writes to it, and a device such as /dev/zero has no size and no end.
std::optional<std::vector<std::uint8_t>> readFrameFile(const std::string& path,
                                                       std::string& error) {
    const std::string named = "--frame " + path + ": ";
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat file {};
    if (fd < 0 || fstat(fd, &file) != 0) {
        error = named + "cannot read it: " + std::strerror(errno);
        if (fd >= 0) {
            close(fd);
        }
        return std::nullopt;
    }
    if (!S_ISREG(file.st_mode)) {
        error = named + "it is " + kindOfFile(file.st_mode) + ", not a regular file";
        close(fd);
        return std::nullopt;
    }
    // One byte past the limit is enough to know a file is too large, whatever its size says.
    auto bytes = readUpTo(fd, protocol::kMaxFrameBytes + 1);
    if (!bytes) {
        error = named + "cannot read it: " + std::strerror(errno);
    }
    close(fd);
    if (!bytes) {
        return std::nullopt;
    }
    if (bytes->size() > protocol::kMaxFrameBytes) {
        const auto size = std::max(static_cast<std::uintmax_t>(file.st_size),
                                   static_cast<std::uintmax_t>(bytes->size()));
        error = named + std::to_string(size) + " bytes, more than the " +
                std::to_string(protocol::kMaxFrameBytes) + " a frame may have";
        return std::nullopt;
    }
    if (bytes->size() < 2 || (*bytes)[0] != 0xFF || (*bytes)[1] != 0xD8) {
        error = named + "not a JPEG (it does not start with the marker FF D8)";
        return std::nullopt;
    }
    return bytes;
}

int fail(const std::string& message, int status) {
    std::fprintf(stderr, "camera-emulator: %s\n", message.c_str());
    return status;
}

// Checks the whole command line before anything is opened or served. --help and --version print
// and end the program here.
std::variant<Settings, Failure> parseCommandLine(const QCoreApplication& app,
                                                 const std::vector<std::string>& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Emulates the JPEG camera module: its serial port on a pseudo-terminal and its SPI slave "
        "behind a parallel port served over a Unix socket.\n"
        "Exit status: 0 after Ctrl-C or SIGTERM, 1 when it cannot start serving, 2 for a command "
        "line it cannot use.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption serial("serial", "Make a pseudo-terminal, link it at LINK, serve it.",
                                    "LINK");
    const QCommandLineOption socket("port-io-socket", "Serve port I/O on a Unix socket at PATH.",
                                    "PATH");
    const QCommandLineOption log("log", "Append every exchange and register change to FILE.",
                                 "FILE");
    const QCommandLineOption frame(
        "frame",
        QStringLiteral("Send the JPEG in FILE, a regular file of at most %1 bytes, as every frame.")
            .arg(protocol::kMaxFrameBytes),
        "FILE");
    const QCommandLineOption capture(
        "capture-time",
        QStringLiteral("Busy time after a capture, 0 to %1 (default 50).").arg(kMostCaptureTimeMs),
        "MS", "50");
    const QCommandLineOption delay(
        "port-delay",
        QStringLiteral("Time per port access, 0 to %1 (default 0; 1 models ISA).")
            .arg(kMostPortDelayUs),
        "US", "0");
    const QList<QCommandLineOption> valueOptions{serial, socket, log, frame, capture, delay};
    parser.addOptions(valueOptions);
    if (!parser.parse(app.arguments())) {
        return Failure{parser.errorText().toStdString(), startup::kExitUsage};
    }
    if (parser.isSet(help)) {
        parser.showHelp(startup::kExitDone);
    }
    if (parser.isSet(version)) {
        parser.showVersion();
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Failure{"unexpected argument " + parser.positionalArguments().front().toStdString(),
                       startup::kExitUsage};
    }

    // Each option once and with a value: a second one would quietly win over the first, and an
    // empty path or number is a slip, not a choice.
    for (const QCommandLineOption& option : valueOptions) {
        const std::string name = "--" + option.names().constFirst().toStdString();
        const QStringList values = parser.values(option);
        if (values.size() > 1) {
            return Failure{name + " is given more than once", startup::kExitUsage};
        }
        if (parser.isSet(option) && values.constFirst().isEmpty()) {
            return Failure{name + " is given an empty " + option.valueName().toStdString(),
                           startup::kExitUsage};
        }
    }

    auto paths = startup::optionValueBytes(
        arguments, {"serial", "port-io-socket", "log", "frame", "capture-time", "port-delay"});
    Settings settings;
    settings.serialLink = paths["serial"];
    settings.portSocket = paths["port-io-socket"];
    settings.logFile = paths["log"];
    if (settings.serialLink.empty() && settings.portSocket.empty()) {
        return Failure{"nothing to serve: give --serial=LINK and/or --port-io-socket=PATH",
                       startup::kExitUsage};
    }
    // One path cannot be both a pseudo-terminal's link and a socket; the second would be refused
    // as served by this very process.
    const auto whole = [](const std::string& path) {
        std::error_code unknownFolder;  // no current folder: the path as given
        return std::filesystem::absolute(path, unknownFolder).lexically_normal();
    };
    if (!settings.serialLink.empty() && !settings.portSocket.empty() &&
        whole(settings.serialLink) == whole(settings.portSocket)) {
        return Failure{"--serial and --port-io-socket name the same path " + settings.serialLink +
                           ": give each its own",
                       startup::kExitUsage};
    }
    const auto captureMs = numberUpTo(parser, capture, kMostCaptureTimeMs, "milliseconds");
    const auto delayUs = numberUpTo(parser, delay, kMostPortDelayUs, "microseconds");
    for (const auto* number : {&captureMs, &delayUs}) {
        if (const auto* failure = std::get_if<Failure>(number)) {
            return *failure;
        }
    }
    settings.captureTime = std::chrono::milliseconds(std::get<unsigned>(captureMs));
    settings.portDelay = std::chrono::microseconds(std::get<unsigned>(delayUs));
    if (parser.isSet(frame)) {
        std::string error;
        settings.fixedFrame = readFrameFile(paths["frame"], error);
        if (!settings.fixedFrame) {
            return Failure{error, startup::kExitFailure};
        }
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments as bytes, before QCoreApplication takes any of its own out.
    const std::vector<std::string> arguments(argv, argv + argc);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("camera-emulator");
    QCoreApplication::setApplicationVersion(PROJECT_VERSION);

    const auto parsed = parseCommandLine(app, arguments);
    if (const auto* failure = std::get_if<Failure>(&parsed)) {
        return fail(failure->message, failure->status);
    }
    const Settings& settings = std::get<Settings>(parsed);

    // The signals that end the emulator are taken by sigwait below; blocked before any thread
    // starts, so no serving thread is interrupted by them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

    emulator::EmulatorLog log;
    std::string why;
    if (!settings.logFile.empty() && !log.openFile(settings.logFile, why)) {
        return fail("cannot open " + settings.logFile + ": " + why, startup::kExitFailure);
    }
    emulator::CameraModule::Options moduleOptions;
    moduleOptions.captureTime = settings.captureTime;
    moduleOptions.fixedFrame = settings.fixedFrame;

    // Each link has a module of its own: a frame read over one never drains bytes queued for the
    // other.
    emulator::CameraModule serialModule(log, moduleOptions);
    emulator::CameraModule spiModule(log, moduleOptions);
    emulator::SpiSlave slave(spiModule);
    emulator::EmulatedPort::Options portOptions;
    portOptions.accessDelay = settings.portDelay;
    emulator::EmulatedPort port(slave, portOptions);

    emulator::SerialPeer peer(serialModule, log);
    emulator::PortSocketServer server(port, log);
    if (!settings.serialLink.empty()) {
        const auto device = peer.start(settings.serialLink, why);
        if (!device) {
            return fail("serial: " + why, startup::kExitFailure);
        }
        std::printf("serial port: %s -> %s\n", settings.serialLink.c_str(), device->c_str());
    }
    if (!settings.portSocket.empty()) {
        if (!server.start(settings.portSocket, why)) {
            peer.stop();
            return fail("port I/O: " + why, startup::kExitFailure);
        }
        std::printf("port I/O socket: %s\n", settings.portSocket.c_str());
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&endSignals, &received);
    server.stop();
    peer.stop();
    return startup::kExitDone;
}
