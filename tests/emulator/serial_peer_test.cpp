// The serial peer on a real pseudo-terminal, with the PC side opened by plain termios as a serial
// program would open it.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "emulator/serial_peer.h"
#include "emulator/uart_line.h"
#include "emulator_test_support.h"
#include "protocol/encodings.h"
#include "protocol/registers.h"
#include "protocol/wire.h"

namespace emulator {
namespace {

using namespace std::chrono_literals;
using protocol::Register;
using Clock = std::chrono::steady_clock;

speed_t speedConstant(std::uint32_t baud) {
    switch (baud) {
        case 2400:
            return B2400;
        case 9600:
            return B9600;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            ADD_FAILURE() << "no constant for " << baud;
            return B0;
    }
}

// The PC's end of the line: the slave device, raw, at a chosen speed.
class PcSerialPort {
  public:
    explicit PcSerialPort(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd_, 0) << path;
        setBaud(2400);
    }
    ~PcSerialPort() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    void setBaud(std::uint32_t baud) {
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, speedConstant(baud));
        ASSERT_EQ(tcsetattr(fd_, TCSANOW, &t), 0);
    }
    void send(std::vector<std::uint8_t> bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came or `limit` passed.
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds limit = 3s) {
        std::vector<std::uint8_t> got;
        const auto end = Clock::now() + limit;
        while (got.size() < count && Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, 10);
            std::uint8_t buffer[4096];
            const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            }
        }
        return got;
    }

    // Bytes on the line that the PC has not read yet.
    int waiting() const {
        int n = 0;
        return ioctl(fd_, FIONREAD, &n) == 0 ? n : 0;
    }

  private:
    int fd_ = -1;
};

// Waits for something another thread does, without a fixed sleep.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 2s) {
    const auto end = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class SerialBench : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        const auto path = peer.start(dir.filePath("link").toStdString(), error);
        ASSERT_TRUE(path.has_value()) << error;
        slavePath = *path;
        pc = std::make_unique<PcSerialPort>(slavePath);
    }

    // Write the speed register at the speed in force, then follow on the PC side.
    void switchSpeed(std::uint8_t code, std::uint32_t baud) {
        pc->send({protocol::registerNumber(Register::Speed), code});
        ASSERT_TRUE(eventually([&] { return module.lineBaud() == baud; }));
        pc->setBaud(baud);
    }

    QTemporaryDir dir;
    EmulatorLog log;
    testing::ManualClock clock;
    CameraModule module{log, testing::optionsWith(clock)};
    SerialPeer peer{module, log};
    std::string slavePath;
    std::unique_ptr<PcSerialPort> pc;
};

TEST_F(SerialBench, RegisterWritesAndQueriesRoundTrip) {
    pc->send({protocol::registerNumber(Register::Brightness), 100});
    pc->send({protocol::registerNumber(Register::FrameHeight), 0, 240});
    pc->send({protocol::requestByte(Register::Brightness)});
    EXPECT_EQ(pc->receive(1), (std::vector<std::uint8_t>{100}));
    pc->send({protocol::requestByte(Register::FrameHeight)});
    EXPECT_EQ(pc->receive(2), (std::vector<std::uint8_t>{0, 240}));
    EXPECT_EQ(module.registerValue(Register::FrameHeight), 240);
    EXPECT_EQ(testing::entriesWithBytes(log, LogKind::RegisterWrite, {19, 100}).size(), 1u);
    // Nothing more than the replies came back.
    EXPECT_TRUE(pc->receive(1, 100ms).empty());
}

TEST_F(SerialBench, AFrameArrivesCompleteAndNoSoonerThanItsLineTime) {
    switchSpeed(11, 115200);
    pc->send({protocol::registerNumber(Register::FrameWidth), 0, 48});
    pc->send({protocol::registerNumber(Register::FrameHeight), 0, 32});
    pc->send({protocol::command::kTestModeOn, protocol::command::kCapture});
    ASSERT_TRUE(eventually([&] { return module.framesCaptured() == 1; }));
    const std::vector<std::uint8_t> frame = module.currentFrame();

    const auto sent = Clock::now();
    pc->send({protocol::command::kFrameRead});
    const std::vector<std::uint8_t> received = pc->receive(frame.size());
    const auto elapsed = Clock::now() - sent;

    EXPECT_EQ(received, frame);
    const auto lineTime = protocol::characterTime(115200, static_cast<std::int64_t>(frame.size()));
    EXPECT_GE(elapsed, lineTime);
    QImage image;
    EXPECT_TRUE(image.loadFromData(received.data(), static_cast<int>(received.size())));
    EXPECT_EQ(image.size(), QSize(48, 32));
    EXPECT_TRUE(eventually([&] { return log.entriesOf(LogKind::FrameSent).size() == 1; }));
}

TEST_F(SerialBench, APcAtAnotherSpeedIsMisheardAndMishears) {
    pc->setBaud(9600);
    pc->send({protocol::registerNumber(Register::Brightness), 100});
    ASSERT_TRUE(eventually([&] {
        for (const LogEntry& e : log.entriesOf(LogKind::Line)) {
            if (e.bytes == std::vector<std::uint8_t>{19, 100}) {
                return true;
            }
        }
        return false;
    }));
    EXPECT_NE(module.registerValue(Register::Brightness), 100);

    // The other way: the module answers at 2400 to a PC listening at 9600.
    module.receive(protocol::requestByte(Register::Red));
    const std::uint8_t reply[] = {protocol::encodeColourLevel(31)};
    const std::vector<std::uint8_t> misheard = receiveAtOtherSpeed(reply, 2400, 9600);
    const std::vector<std::uint8_t> heard = pc->receive(misheard.size(), 500ms);
    EXPECT_FALSE(heard.empty());
    EXPECT_NE(heard, (std::vector<std::uint8_t>{reply[0]}));
    EXPECT_EQ(heard, misheard);
}

TEST_F(SerialBench, ResetReturnsTheModuleTo2400) {
    switchSpeed(10, 57600);
    pc->send({protocol::command::kReset});
    ASSERT_TRUE(eventually([&] { return module.lineBaud() == 2400; }));
    pc->setBaud(2400);
    pc->send({protocol::requestByte(Register::Speed)});
    EXPECT_EQ(pc->receive(1), (std::vector<std::uint8_t>{2}));
}

TEST_F(SerialBench, ThePcMayCloseAndReopenThePortAndTheLinkGoesWithTheEmulator) {
    const std::string link = dir.filePath("link").toStdString();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), slavePath);

    pc.reset();
    pc = std::make_unique<PcSerialPort>(link);
    pc->send({protocol::requestByte(Register::Green)});
    EXPECT_EQ(pc->receive(1), (std::vector<std::uint8_t>{protocol::encodeColourLevel(31)}));

    peer.stop();
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "link removed";
}

// The PC closing its port mid-frame takes the rest along, queued or left unread on the line.
TEST_F(SerialBench, APcThatClosesMidFrameLeavesTheNextOneAWholeFrame) {
    switchSpeed(11, 115200);
    pc->send({protocol::command::kCapture, protocol::command::kFrameRead});
    ASSERT_EQ(pc->receive(20).size(), 20u);
    ASSERT_TRUE(eventually([&] { return pc->waiting() > 0; }));
    pc.reset();
    ASSERT_TRUE(eventually(
        [&] { return log.entriesOf(LogKind::Line).back().text.starts_with("the PC closed"); }));
    pc = std::make_unique<PcSerialPort>(slavePath);
    pc->setBaud(115200);
    pc->send({protocol::command::kFrameRead});
    EXPECT_EQ(pc->receive(module.currentFrame().size()), module.currentFrame());
}

// The line is quiet for good only once the module has heard what the PC sent and the PC has read
// every byte of the answer: an answer left on the line keeps it busy however long it waits there.
TEST_F(SerialBench, TheLineIsQuietOnlyOnceEveryByteHasArrived) {
    struct Exchange {
        const char* what;
        std::vector<std::uint8_t> sent;
        std::vector<std::uint8_t> answer;
    };
    const std::uint8_t brightness = protocol::registerNumber(Register::Brightness);
    const std::uint8_t height = protocol::registerNumber(Register::FrameHeight);
    const Exchange exchanges[] = {
        {"register write", {brightness, 100, height, 1, 32}, {}},
        {"one-byte query", {protocol::requestByte(Register::Brightness)}, {100}},
        {"two-byte query", {protocol::requestByte(Register::FrameHeight)}, {1, 32}},
    };
    EXPECT_TRUE(peer.lineQuiet());
    for (const Exchange& e : exchanges) {
        SCOPED_TRACE(e.what);
        pc->send(e.sent);
        if (!e.answer.empty()) {
            ASSERT_TRUE(
                eventually([&] { return pc->waiting() == static_cast<int>(e.answer.size()); }));
            EXPECT_FALSE(eventually([&] { return peer.lineQuiet(); }, 50ms));
            EXPECT_EQ(pc->receive(e.answer.size()), e.answer);
        }
        ASSERT_TRUE(eventually([&] { return peer.lineQuiet(); }));
        EXPECT_EQ(module.registerValue(Register::FrameHeight), 288);
        EXPECT_EQ(module.registerValue(Register::Brightness), 100);
    }
}

TEST(SerialPeerStart, RefusesToReplaceAFileThatIsNoLink) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("occupied").toStdString();
    close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    EmulatorLog log;
    CameraModule module(log);
    SerialPeer peer(module, log);
    std::string error;
    EXPECT_FALSE(peer.start(path, error).has_value());
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos);
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << "the file is left alone";
}

TEST(SerialPeerStart, ALinkLeftByAKilledEmulatorIsReusedAndOneInUseIsRefused) {
    QTemporaryDir dir;
    const std::string link = dir.filePath("link").toStdString();
    // What a killed emulator leaves: a link to a terminal that is gone and an unlocked lock file.
    ASSERT_EQ(symlink("/dev/pts/gone", link.c_str()), 0);
    close(open((link + ".lock").c_str(), O_CREAT | O_WRONLY, 0600));
    EmulatorLog log;
    CameraModule module(log);
    SerialPeer first(module, log);
    std::string error;
    const auto device = first.start(link, error);
    ASSERT_TRUE(device.has_value()) << error;

    SerialPeer second(module, log);
    EXPECT_FALSE(second.start(link, error).has_value());
    EXPECT_NE(error.find("another emulator"), std::string::npos) << error;
    second.stop();
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), *device) << "the first one's link is left as it was";
}

TEST(UartLine, EqualSpeedsPassEveryByteAndOthersGarble) {
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) {
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(receiveAtOtherSpeed(all, 9600, 9600), all);
    EXPECT_NE(receiveAtOtherSpeed(all, 9600, 2400), all);
    EXPECT_NE(receiveAtOtherSpeed(all, 2400, 9600), all);
}

}  // namespace
}  // namespace emulator
