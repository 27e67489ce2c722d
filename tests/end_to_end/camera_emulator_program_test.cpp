// The camera-emulator program as an engineer starts it: a pseudo-terminal behind a link and the
// socket port protocol behind a path, both answering, and both gone after Ctrl-C.
#include <signal.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include "lpt/socket_port.h"
#include "lpt/spi_link.h"

namespace {

bool exists(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

}  // namespace

TEST(CameraEmulatorProgram, ServesBothFrontEndsAndCleansUpOnCtrlC) {
    QTemporaryDir dir;
    const QString link = dir.filePath("camera");
    const QString socket = dir.filePath("camera.sock");
    const QString log = dir.filePath("camera.log");
    QProcess emulator;
    emulator.start(QStringLiteral(CAMERA_EMULATOR_PROGRAM),
                   {"--serial=" + link, "--port-io-socket=" + socket, "--log=" + log});
    ASSERT_TRUE(emulator.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return exists(link) && exists(socket); }, 5000));

    // The parallel-port side through the PC's own socket back-end and SPI link.
    lpt::SocketPort port(socket.toStdString());
    ASSERT_TRUE(port.InitializeWinIo()) << port.failureReason();
    lpt::SpiLink spi(port);
    spi.enterStartState();
    const std::uint8_t write[] = {19, 30};
    spi.send(write);
    const std::uint8_t request = 3;
    spi.send(std::span(&request, 1));
    EXPECT_EQ(spi.readOne(), 30);
    port.ShutdownWinIo();

    // The serial side at the module's start speed.
    QSerialPort serial(link);
    serial.setBaudRate(2400);
    ASSERT_TRUE(serial.open(QIODevice::ReadWrite)) << serial.errorString().toStdString();
    serial.write(QByteArray("\x13\x28\x03", 3));  // brightness 40, then ask for it
    ASSERT_TRUE(QTest::qWaitFor([&] { return serial.bytesAvailable() >= 1; }, 3000));
    EXPECT_EQ(static_cast<std::uint8_t>(serial.readAll().at(0)), 40);
    serial.close();

    ::kill(static_cast<pid_t>(emulator.processId()), SIGINT);
    ASSERT_TRUE(emulator.waitForFinished(5000));
    EXPECT_EQ(emulator.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(emulator.exitCode(), 0);
    EXPECT_FALSE(exists(link));
    EXPECT_FALSE(exists(socket));
    QFile logFile(log);
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
    EXPECT_FALSE(logFile.readAll().isEmpty());
}
