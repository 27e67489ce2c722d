// The port I/O socket server: the byte protocol on the wire, and the PC's own socket back-end and
// SPI link talking to the emulated module through it.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "emulator/path_lock.h"
#include "emulator/port_socket_server.h"
#include "emulator_test_support.h"
#include "lpt/frame_download.h"
#include "lpt/socket_port.h"
#include "protocol/registers.h"
#include "support/recording_port.h"

namespace emulator {
namespace {

using protocol::Register;

// A client speaking the protocol by hand.
class RawClient {
  public:
    explicit RawClient(const std::string& path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(fd_); }
    bool connected() const { return connected_; }
    void send(std::vector<std::uint8_t> bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::vector<std::uint8_t> receive(std::size_t count) {
        std::vector<std::uint8_t> got(count);
        std::size_t have = 0;
        timeval limit{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        while (have < count) {
            const ssize_t n = recv(fd_, got.data() + have, count - have, 0);
            if (n <= 0) {
                break;
            }
            have += static_cast<std::size_t>(n);
        }
        got.resize(have);
        return got;
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

class SocketBench : public ::testing::Test {
  protected:
    std::string path() const { return dir.filePath("port").toStdString(); }
    QTemporaryDir dir;
    EmulatorLog log;
};

TEST_F(SocketBench, MessagesReachThePortExactlyEvenWhenSplitOrRunTogether) {
    testing_support::RecordingPort port;
    port.queueStatus({0x11, 0x22, 0x33});
    PortSocketServer server(port, log);
    std::string error;
    ASSERT_TRUE(server.start(path(), error)) << error;

    RawClient client(path());
    ASSERT_TRUE(client.connected());
    client.send({'w', 0x78});  // a write in two pieces
    client.send({0x03, 0xFA});
    // Junk between messages, then two reads and a write in one piece.
    client.send({'x', 'r', 0x79, 0x03, 'r', 0x79, 0x02, 'w', 0x78, 0x02, 0xFB});
    EXPECT_EQ(client.receive(2), (std::vector<std::uint8_t>{0x11, 0x22}));
    client.send({'r', 0x79, 0x03});
    EXPECT_EQ(client.receive(1), (std::vector<std::uint8_t>{0x33}));

    using testing_support::PortAccess;
    const std::vector<PortAccess> expected{
        {PortAccess::Kind::Write, 0x378, 0xFA}, {PortAccess::Kind::Read, 0x379, 0x11},
        {PortAccess::Kind::Read, 0x279, 0x22},  {PortAccess::Kind::Write, 0x278, 0xFB},
        {PortAccess::Kind::Read, 0x379, 0x33},
    };
    EXPECT_EQ(port.accesses(), expected);
    ASSERT_EQ(log.entriesOf(LogKind::Ignored).size(), 1u);
    EXPECT_EQ(log.entriesOf(LogKind::Ignored)[0].bytes, (std::vector<std::uint8_t>{'x'}));
}

TEST_F(SocketBench, ThePcSocketBackEndDrivesTheEmulatedModule) {
    testing::ManualClock clock;
    const std::vector<std::uint8_t> frame{0xFF, 0xD8, 0x12, 0xFF, 0xD9};
    CameraModule module(log, testing::optionsWith(clock, frame));
    SpiSlave slave(module);
    EmulatedPort port(slave);
    PortSocketServer server(port, log);
    std::string error;
    ASSERT_TRUE(server.start(path(), error)) << error;

    lpt::SocketPort socketPort(path());
    lpt::SpiLink link(socketPort);
    ASSERT_TRUE(link.startPortAccess()) << socketPort.fault();
    link.enterStartState();
    link.switchMode(3);
    const std::uint8_t write[] = {protocol::registerNumber(Register::Blue), 200};
    link.send(write);
    const std::uint8_t request[] = {protocol::requestByte(Register::Blue)};
    link.send(request);
    EXPECT_EQ(link.readOne(), 200);
    EXPECT_EQ(module.spiMode(), 3);

    const std::uint8_t capture[] = {protocol::command::kCapture};
    link.send(capture);
    // Writes are not answered: the status read is what makes sure the server has run them.
    EXPECT_EQ(link.pollStatus().value() & 0x80, 0);
    clock.advance(testing::kTestCaptureTime);
    const std::uint8_t frameRead[] = {protocol::command::kFrameRead};
    link.send(frameRead);
    frames::FrameStore received;
    lpt::downloadFrame(link, received);
    EXPECT_EQ(std::vector<std::uint8_t>(received.frame().begin(), received.frame().end()), frame);
    link.stopPortAccess();
}

// A path another emulator holds the lock of is refused, even before that one has bound it.
TEST_F(SocketBench, APathWhoseLockIsHeldIsRefused) {
    PathLock holder;
    std::string error;
    ASSERT_TRUE(holder.acquire(path(), error)) << error;
    testing_support::RecordingPort port;
    EXPECT_FALSE(PortSocketServer(port, log).start(path(), error));
    EXPECT_NE(error.find("another emulator"), std::string::npos) << error;
}

// A client that comes while another holds the module is shut out at once, with nothing sent.
TEST_F(SocketBench, ASecondClientIsShutOutAtOnceWhileTheFirstHoldsTheModule) {
    testing_support::RecordingPort port;
    PortSocketServer server(port, log);
    std::string error;
    ASSERT_TRUE(server.start(path(), error)) << error;
    lpt::SocketPort first(path()), second(path());
    std::uint8_t value = 0;
    ASSERT_TRUE(first.start() && first.readByte(0x379, value)) << first.fault();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(second.start() && second.readByte(0x379, value));
    EXPECT_NE(second.fault().find("the simulator closed the connection"), std::string::npos)
        << second.fault();
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("another client holds the module"),
              std::string::npos);
    EXPECT_TRUE(first.readByte(0x379, value)) << "the first is served on";
    EXPECT_EQ(port.accesses().size(), 2u) << "nothing of the second reached the port";
}

TEST_F(SocketBench, ANewClientIsServedAfterTheFirstHangsUpAndStopRemovesThePath) {
    testing_support::RecordingPort port;
    port.setStatusFallback(0x5A);
    PortSocketServer server(port, log);
    std::string error;
    ASSERT_TRUE(server.start(path(), error)) << error;
    {
        RawClient first(path());
        first.send({'r', 0x79, 0x03});
        EXPECT_EQ(first.receive(1), (std::vector<std::uint8_t>{0x5A}));
    }
    RawClient second(path());
    second.send({'r', 0x79, 0x03});
    EXPECT_EQ(second.receive(1), (std::vector<std::uint8_t>{0x5A}));

    server.stop();
    struct stat st {};
    EXPECT_NE(lstat(path().c_str(), &st), 0);
}

TEST_F(SocketBench, AClientThatPipelinesReadsGetsEveryAnswerInOrderOnceItReads) {
    testing_support::RecordingPort port;
    port.setResponder(
        [](std::uint16_t, std::size_t read) { return static_cast<std::uint8_t>(read); });
    PortSocketServer server(port, log);
    std::string error;
    ASSERT_TRUE(server.start(path(), error)) << error;

    // Far more reads than the sockets buffer: the server has to hold back while the client is
    // still sending and not yet reading, and then lose nothing.
    constexpr std::size_t kReads = 300000;
    std::vector<std::uint8_t> reads;
    for (std::size_t i = 0; i < kReads; ++i) {
        reads.insert(reads.end(), {'r', 0x79, 0x03});
    }
    RawClient client(path());
    std::thread sender([&] { client.send(reads); });
    const std::vector<std::uint8_t> answers = client.receive(kReads);
    sender.join();
    ASSERT_EQ(answers.size(), kReads);
    for (std::size_t i = 0; i < kReads; ++i) {
        ASSERT_EQ(answers[i], static_cast<std::uint8_t>(i)) << "answer " << i;
    }
}

TEST_F(SocketBench, AStaleSocketIsReplacedALiveOneAndAnyOtherFileAreLeftAlone) {
    testing_support::RecordingPort port;
    port.setStatusFallback(0x5A);
    // A socket as a killed emulator leaves it: bound, closed, never removed.
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path().c_str());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(stale);

    PortSocketServer first(port, log);
    std::string error;
    ASSERT_TRUE(first.start(path(), error)) << error;
    {
        PortSocketServer second(port, log);
        EXPECT_FALSE(second.start(path(), error));
        EXPECT_NE(error.find("another emulator"), std::string::npos) << error;
    }
    RawClient client(path());
    client.send({'r', 0x79, 0x03});
    EXPECT_EQ(client.receive(1), (std::vector<std::uint8_t>{0x5A})) << "the first still serves";

    const std::string regular = dir.filePath("regular").toStdString();
    FILE* f = std::fopen(regular.c_str(), "w");
    std::fclose(f);
    PortSocketServer other(port, log);
    EXPECT_FALSE(other.start(regular, error));
    EXPECT_NE(error.find("not a socket"), std::string::npos);
}

}  // namespace
}  // namespace emulator
