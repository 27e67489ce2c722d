// The serial control over QSerialPort on a real pseudo-terminal: the line speed the kernel ends
// up with, the bytes both ways untouched, and what a port that cannot be opened or goes away
// gives.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <numeric>

#include "emulator/pty_line_speed.h"
#include "serial/line_settings.h"
#include "serial/qt_serial_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The far end of a pseudo-terminal, standing for the module's side of the line.
class PtyPair {
  public:
    PtyPair() {
        char name[256] = {};
        int slave = -1;
        EXPECT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
        // Closed at once: QSerialPort opens the slave itself; the master stays readable.
        close(slave);
        slavePath_ = name;
    }
    ~PtyPair() { closeMaster(); }
    void closeMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    Bytes read(std::size_t count) {
        Bytes got;
        for (int tries = 0; got.size() < count && tries < 200; ++tries) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) > 0) {
                std::uint8_t buffer[1024];
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    got.insert(got.end(), buffer, buffer + n);
                }
            }
        }
        return got;
    }

  private:
    int master_ = -1;
    std::string slavePath_;
};

serial::PortMap mapWith(int portNumber, const std::string& device) {
    serial::PortMap ports;
    ports.assign(portNumber, device);
    return ports;
}

TEST(PortMapTest, ComNIsTtySNMinusOneUnlessAssigned) {
    serial::PortMap ports;
    EXPECT_EQ(ports.deviceOf(1), "/dev/ttyS0");
    EXPECT_EQ(ports.deviceOf(4), "/dev/ttyS3");
    ports.assign(2, "/dev/ttyUSB0");
    EXPECT_EQ(ports.deviceOf(2), "/dev/ttyUSB0");
    EXPECT_EQ(ports.deviceOf(0), "");
    EXPECT_EQ(ports.deviceOf(5), "");
}

TEST(QtSerialControlTest, EveryTableSpeedReachesTheLineIncludingTheCustomRates) {
    PtyPair pty;
    serial::QtSerialControl control(mapWith(2, pty.slavePath()));
    control.setCommPort(2);
    ASSERT_TRUE(control.setBaud(2400));
    ASSERT_EQ(control.open(), std::nullopt);
    EXPECT_EQ(emulator::ptySlaveBaud(pty.master()), 2400u);
    for (const std::uint32_t baud :
         {1200u, 4800u, 9600u, 14400u, 19200u, 28800u, 38400u, 57600u, 115200u, 2400u}) {
        ASSERT_TRUE(control.setBaud(baud)) << baud;
        EXPECT_EQ(emulator::ptySlaveBaud(pty.master()), baud);
        EXPECT_EQ(control.baud(), baud);
    }
    // Settings given while closed take effect at the next open.
    control.close();
    ASSERT_TRUE(control.setBaud(28800));
    ASSERT_EQ(control.open(), std::nullopt);
    EXPECT_EQ(emulator::ptySlaveBaud(pty.master()), 28800u);
    // No speed at all changes nothing.
    EXPECT_FALSE(control.setBaud(0));
    EXPECT_EQ(control.baud(), 28800u);
    EXPECT_EQ(emulator::ptySlaveBaud(pty.master()), 28800u);
}

TEST(QtSerialControlTest, EveryByteValueCrossesBothWaysUntranslated) {
    PtyPair pty;
    serial::QtSerialControl control(mapWith(1, pty.slavePath()));
    control.setCommPort(1);
    control.setBaud(115200);
    ASSERT_EQ(control.open(), std::nullopt);

    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    for (std::size_t at = 0; at < all.size(); at += 3) {
        control.output(std::span(all).subspan(at, std::min<std::size_t>(3, all.size() - at)));
    }
    // Handed to the system at once: no event loop has run since.
    EXPECT_EQ(pty.read(all.size()), all);

    ASSERT_EQ(write(pty.master(), all.data(), all.size()), 256);
    ASSERT_TRUE(QTest::qWaitFor([&] { return control.inBufferCount() == all.size(); }, 2000));
    EXPECT_EQ(control.input(), all);
    EXPECT_EQ(control.inBufferCount(), 0u);
    EXPECT_TRUE(control.input().empty());
}

TEST(QtSerialControlTest, MissingDeviceIsNamedAndTheClosedPortIgnoresSends) {
    QTemporaryDir dir;
    const std::string missing = dir.filePath("no-such-tty").toStdString();
    serial::QtSerialControl control(mapWith(3, missing));
    control.setCommPort(3);
    control.setBaud(2400);
    const auto failure = control.open();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->fault, serial::OpenFault::NotFound);
    EXPECT_EQ(failure->device, missing);
    EXPECT_FALSE(failure->reason.empty());
    EXPECT_FALSE(control.isOpen());

    const Bytes command{64};
    control.output(command);
    EXPECT_EQ(control.inBufferCount(), 0u);
    EXPECT_TRUE(control.input().empty());
    EXPECT_EQ(control.takeLineFault(), std::nullopt);
}

TEST(QtSerialControlTest, ANonTerminalIsRefused) {
    // A plain file opens, but it has no line to set: the port must not pass for open.
    QTemporaryDir dir;
    const std::string plain = dir.filePath("plain").toStdString();
    { std::ofstream(plain) << "x"; }
    serial::QtSerialControl control(mapWith(1, plain));
    control.setCommPort(1);
    control.setBaud(2400);
    EXPECT_TRUE(control.open().has_value());
    EXPECT_FALSE(control.isOpen());
}

TEST(QtSerialControlTest, APortHeldByAnotherControlIsBusy) {
    PtyPair pty;
    serial::QtSerialControl first(mapWith(2, pty.slavePath()));
    serial::QtSerialControl second(mapWith(2, pty.slavePath()));
    for (auto* control : {&first, &second}) {
        control->setCommPort(2);
        control->setBaud(2400);
    }
    ASSERT_EQ(first.open(), std::nullopt);
    const auto failure = second.open();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->fault, serial::OpenFault::Busy);
    first.close();
    EXPECT_EQ(second.open(), std::nullopt);
}

TEST(QtSerialControlTest, ALineThatGoesAwayIsReportedOnceAndThePortClosesKeepingWhatCame) {
    PtyPair pty;
    serial::QtSerialControl control(mapWith(2, pty.slavePath()));
    control.setCommPort(2);
    control.setBaud(2400);
    ASSERT_EQ(control.open(), std::nullopt);
    int lineEvents = 0;  // what the window's reception wakes on
    control.onLineEvent([&] { ++lineEvents; });
    const Bytes cameFirst{0xFF, 0xD8, 0x01, 0x02};
    ASSERT_EQ(::write(pty.master(), cameFirst.data(), cameFirst.size()),
              static_cast<ssize_t>(cameFirst.size()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return control.inBufferCount() == cameFirst.size(); }, 2000));
    EXPECT_GE(lineEvents, 1);
    const int beforeHangUp = lineEvents;
    pty.closeMaster();  // the far end hangs up, as an unplugged adapter does

    std::optional<serial::LineFault> fault;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            fault = control.takeLineFault();
            return fault.has_value();
        },
        2000));
    EXPECT_TRUE(fault->hungUp) << fault->systemError;
    EXPECT_GT(lineEvents, beforeHangUp);
    QTest::qWait(50);
    EXPECT_EQ(control.takeLineFault(), std::nullopt);
    EXPECT_FALSE(control.isOpen());
    EXPECT_EQ(control.input(), cameFirst);  // received before the hang-up: not lost with it
    EXPECT_EQ(control.inBufferCount(), 0u);
    const Bytes command{64};
    control.output(command);  // must not crash
}

}  // namespace
