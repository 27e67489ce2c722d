// The camera-emulator program as an engineer starts it: a pseudo-terminal behind a link and the
// socket port protocol behind a path, both answering, and both gone after Ctrl-C, whatever a
// client does.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "lpt/frame_download.h"
#include "lpt/socket_port.h"
#include "lpt/spi_link.h"
#include "protocol/registers.h"

namespace {

bool exists(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

// Writes register 19 over the socket port protocol and reads it back, as SPI --port-io=unix does.
std::optional<std::uint8_t> roundTripOverSocket(const QString& socket, std::uint8_t value) {
    lpt::SocketPort port(socket.toStdString());
    if (!port.start()) {
        ADD_FAILURE() << port.fault();
        return std::nullopt;
    }
    lpt::SpiLink spi(port);
    spi.enterStartState();
    const std::uint8_t write[] = {19, value};
    spi.send(write);
    const std::uint8_t request = 3;
    spi.send(std::span(&request, 1));
    const std::optional<std::uint8_t> answer = spi.readOne();
    port.stop();
    return answer;
}

// The frame as SPI --port-io=unix downloads it, the client going away after `limit` bytes.
QByteArray frameOverSocket(const QString& socket, std::uint32_t limit) {
    lpt::SocketPort port(socket.toStdString());
    lpt::SpiLink spi(port);
    EXPECT_TRUE(port.start()) << port.fault();
    spi.enterStartState();
    spi.send(std::array<std::uint8_t, 1>{protocol::command::kFrameRead});
    frames::FrameStore store;
    lpt::downloadFrame(spi, store, {{}, [&] { return store.count() >= limit; }});
    return {reinterpret_cast<const char*>(store.frame().data()),
            static_cast<qsizetype>(store.frame().size())};
}

// The same over the serial link, at the module's start speed.
std::optional<std::uint8_t> roundTripOverSerial(const QString& link, std::uint8_t value) {
    QSerialPort serial(link);
    serial.setBaudRate(2400);
    if (!serial.open(QIODevice::ReadWrite)) {
        ADD_FAILURE() << serial.errorString().toStdString();
        return std::nullopt;
    }
    const char bytes[] = {19, static_cast<char>(value), 3};
    serial.write(bytes, sizeof bytes);
    if (!QTest::qWaitFor([&] { return serial.bytesAvailable() >= 1; }, 3000)) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(serial.readAll().at(0));
}

// A socket client connected to `path`, non-blocking; -1 when the connection failed.
int connectTo(const QString& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(path));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Starts the emulator and waits until every path it was told to serve is there.
void startEmulator(QProcess& emulator, const QStringList& arguments, const QStringList& paths) {
    emulator.start(QStringLiteral(CAMERA_EMULATOR_PROGRAM), arguments);
    ASSERT_TRUE(emulator.waitForStarted(5000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return std::all_of(paths.begin(), paths.end(), exists); }, 5000));
}

void endWith(QProcess& emulator, int signal) {
    ::kill(static_cast<pid_t>(emulator.processId()), signal);
    ASSERT_TRUE(emulator.waitForFinished(5000));
    EXPECT_EQ(emulator.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(emulator.exitCode(), 0);
}

}  // namespace

TEST(CameraEmulatorProgram, ServesBothFrontEndsAndCleansUpOnCtrlC) {
    QTemporaryDir dir;
    const QString link = dir.filePath("camera");
    const QString socket = dir.filePath("camera.sock");
    const QString log = dir.filePath("camera.log");
    QProcess emulator;
    ASSERT_NO_FATAL_FAILURE(
        startEmulator(emulator, {"--serial=" + link, "--port-io-socket=" + socket, "--log=" + log},
                      {link, socket}));

    // The parallel-port side through the PC's own socket back-end and SPI link.
    EXPECT_EQ(roundTripOverSocket(socket, 30), 30);

    // The serial side at the module's start speed.
    EXPECT_EQ(roundTripOverSerial(link, 40), 40);

    endWith(emulator, SIGINT);
    EXPECT_FALSE(exists(link));
    EXPECT_FALSE(exists(socket));
    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    EXPECT_FALSE(logFile.readAll().isEmpty());
}

TEST(CameraEmulatorProgram, EndsOnSigtermWhileAClientSendsReadsAndNeverTakesTheAnswers) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("camera.sock");
    QProcess emulator;
    ASSERT_NO_FATAL_FAILURE(startEmulator(emulator, {"--port-io-socket=" + socket}, {socket}));

    const int client = connectTo(socket);
    ASSERT_GE(client, 0);
    std::vector<std::uint8_t> reads;
    for (int i = 0; i < 1000; ++i) {
        reads.insert(reads.end(), {'r', 0x79, 0x03});
    }
    // Send until the emulator stops taking requests: its unread answers fill the socket.
    std::size_t sent = 0;
    while (sent < 64u * 1024 * 1024) {
        const ssize_t n = send(client, reads.data(), reads.size(), MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{client, POLLOUT, 0};
        if (poll(&p, 1, 300) == 0) {
            break;
        }
    }

    endWith(emulator, SIGTERM);
    EXPECT_FALSE(exists(socket));
    close(client);
}

TEST(CameraEmulatorProgram, AClientThatGoesMidFrameLeavesTheNextOneAWholeFrame) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("camera.sock"), frame = dir.filePath("frame.jpg");
    const QByteArray jpeg = "\xFF\xD8" + QByteArray(1000, 'Z') + "\xFF\xD9";
    std::ofstream(frame.toStdString(), std::ios::binary) << jpeg.toStdString();
    QProcess emulator;
    ASSERT_NO_FATAL_FAILURE(startEmulator(
        emulator, {"--port-io-socket=" + socket, "--frame=" + frame, "--capture-time=0"},
        {socket}));
    EXPECT_EQ(frameOverSocket(socket, 100).size(), 100);
    EXPECT_EQ(frameOverSocket(socket, lpt::kDownloadLimit), jpeg);
    endWith(emulator, SIGTERM);
}

TEST(CameraEmulatorProgram, RefusesAFrameFileThatIsNoJpegOrTooLarge) {
    QByteArray tooLarge(65001, '\0');
    tooLarge[0] = '\xFF';
    tooLarge[1] = '\xD8';
    struct Case {
        const char* file;
        QByteArray contents;
        const char* why;
    };
    const Case cases[] = {
        {"picture.gif", "GIF89a", "not a JPEG"},
        {"large.jpg", tooLarge, "65001 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        QTemporaryDir dir;
        const QString frame = dir.filePath(c.file);
        QFile file(frame);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents);
        file.close();
        const QString socket = dir.filePath("camera.sock");
        QProcess emulator;
        emulator.start(QStringLiteral(CAMERA_EMULATOR_PROGRAM),
                       {"--frame=" + frame, "--port-io-socket=" + socket});
        ASSERT_TRUE(emulator.waitForFinished(5000));
        EXPECT_EQ(emulator.exitCode(), 1);
        const QString error = QString::fromLocal8Bit(emulator.readAllStandardError());
        EXPECT_TRUE(error.contains(frame) && error.contains(c.why)) << error.toStdString();
        EXPECT_FALSE(exists(socket));
    }
}

TEST(CameraEmulatorProgram, ASecondEmulatorOnAServedPathIsRefusedAndTheFirstServesOn) {
    QTemporaryDir dir;
    const QString link = dir.filePath("camera");
    const QString socket = dir.filePath("camera.sock");
    QProcess first;
    ASSERT_NO_FATAL_FAILURE(
        startEmulator(first, {"--serial=" + link, "--port-io-socket=" + socket}, {link, socket}));

    for (const QString& option : {"--serial=" + link, "--port-io-socket=" + socket}) {
        SCOPED_TRACE(option.toStdString());
        QProcess second;
        second.start(QStringLiteral(CAMERA_EMULATOR_PROGRAM), {option});
        ASSERT_TRUE(second.waitForFinished(5000));
        EXPECT_EQ(second.exitCode(), 1);
        const QString error = QString::fromLocal8Bit(second.readAllStandardError());
        EXPECT_TRUE(error.contains("another emulator")) << error.toStdString();
    }
    EXPECT_EQ(roundTripOverSocket(socket, 44), 44);
    EXPECT_EQ(roundTripOverSerial(link, 45), 45);
    endWith(first, SIGTERM);
}

namespace {
// Whether a file (or a link, or a socket) has exactly the name `bytes`.
bool existsAsBytes(const QByteArray& bytes) {
    struct stat st {};
    return ::lstat(bytes.constData(), &st) == 0;
}
}  // namespace

TEST(CameraEmulatorProgram, ALogThatLosesRecordsIsToldOnceAndCountedAndServingGoesOn) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("camera.sock");
    QProcess emulator;
    ASSERT_NO_FATAL_FAILURE(
        startEmulator(emulator, {"--port-io-socket=" + socket, "--log=/dev/full"}, {socket}));
    EXPECT_EQ(roundTripOverSocket(socket, 50), 50);
    EXPECT_EQ(roundTripOverSocket(socket, 51), 51);
    endWith(emulator, SIGINT);

    const QStringList lines =
        QString::fromLocal8Bit(emulator.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains("/dev/full") && lines[0].contains(std::strerror(ENOSPC)))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QRegularExpression(" [1-9][0-9]* records lost$")))
        << lines[1].toStdString();
}

// A QString turns the byte FF into U+FFFD, so the names are made by a shell, which passes bytes.
TEST(CameraEmulatorProgram, PathsThatAreNoUtf8AreUsedByteForByte) {
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray link = folder + "/link\xff", socket = folder + "/sock\xff",
                     log = folder + "/log\xff", frame = folder + "/frame\xff.jpg";
    std::ofstream(frame.toStdString(), std::ios::binary) << "\xFF\xD8\xFF\xD9";
    ASSERT_TRUE(existsAsBytes(frame));

    QProcess emulator;
    const QString script = QStringLiteral(
        "ff=$(printf '\\377'); exec \"$0\" \"--serial=$1/link$ff\" \"--port-io-socket=$1/sock$ff\" "
        "\"--log=$1/log$ff\" --frame \"$1/frame$ff.jpg\"");
    emulator.start("/bin/sh", {"-c", script, QStringLiteral(CAMERA_EMULATOR_PROGRAM), dir.path()});
    ASSERT_TRUE(emulator.waitForStarted(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return existsAsBytes(link) && existsAsBytes(socket); }, 5000))
        << emulator.readAllStandardError().toStdString();
    EXPECT_TRUE(existsAsBytes(log));
    endWith(emulator, SIGTERM);
    EXPECT_FALSE(existsAsBytes(link));
    EXPECT_FALSE(existsAsBytes(socket));
}

TEST(CameraEmulatorProgram, ExitStatusSaysWhatWentWrongAndNothingIsServedBeforeTheCheck) {
    QTemporaryDir dir;
    const QString socket = dir.filePath("camera.sock");
    const QString served = "--port-io-socket=" + socket;
    const QString fifo = dir.filePath("frame.fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        QStringList arguments;
        int status;
        QString says = {};  // on standard error
    } cases[] = {
        {{"--help"}, 0},
        {{"--version"}, 0},
        {{served, "--no-such-option"}, 2},
        {{served, "extra"}, 2},
        {{served, "--capture-time=soon"}, 2},
        {{}, 2},  // nothing to serve
        {{served, "--log=" + dir.filePath("missing/camera.log")}, 1},
        {{served, "--port-delay=15000000"}, 2, "--port-delay takes 0 to 10000"},
        {{served, "--capture-time=60001"}, 2, "--capture-time takes 0 to 60000"},
        {{served, "--frame=" + fifo}, 1, "a FIFO, not a regular file"},
        {{served, "--frame=/dev/zero"}, 1, "a device, not a regular file"},
        {{served, "--log="}, 2, "--log is given an empty FILE"},
        {{served, served}, 2, "--port-io-socket is given more than once"},
        {{served, "--serial=" + socket}, 2, "--serial and --port-io-socket name the same path"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess emulator;
        emulator.start(QStringLiteral(CAMERA_EMULATOR_PROGRAM), c.arguments);
        ASSERT_TRUE(emulator.waitForFinished(5000));
        EXPECT_EQ(emulator.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(emulator.exitCode(), c.status);
        EXPECT_FALSE(exists(socket));
        const QString error = QString::fromLocal8Bit(emulator.readAllStandardError());
        EXPECT_TRUE(error.contains(c.says)) << error.toStdString();
    }
}
