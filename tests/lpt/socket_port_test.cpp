// The socket back-end against a port server run in a thread of the test: the bytes on the wire,
// the answers used, and what happens when the server is missing, silent or goes away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "lpt/socket_port.h"
#include "lpt/spi_link.h"

namespace lpt {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

constexpr std::chrono::milliseconds kShortReplyLimit{100};

// What the server does with a connection.
enum class ServerBehaviour {
    Answer,            // answers every read
    NeverAnswer,       // takes every message, answers nothing
    CloseAfterAccept,  // hangs up at once
    CloseAfterOneRead  // answers the first read, then hangs up
};

struct ServedAccess {
    char command;
    std::uint16_t address;
    std::uint8_t value;  // written, or answered
    friend bool operator==(const ServedAccess&, const ServedAccess&) = default;
};

// Serves one connection in the port socket protocol and keeps everything it received.
class PortServer {
  public:
    PortServer(const std::string& path, ServerBehaviour behaviour,
               std::deque<std::uint8_t> answers = {})
        : behaviour_(behaviour), answers_(std::move(answers)) {
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listenFd_, 1), 0);
        thread_ = std::thread([this] { serve(); });
    }

    ~PortServer() {
        ::shutdown(listenFd_, SHUT_RDWR);  // wakes an accept() nobody connected to
        finish();
        ::close(listenFd_);
    }

    // Waits until the client has hung up (or the server has), then gives what was received.
    const std::vector<std::uint8_t>& rawBytes() {
        finish();
        return raw_;
    }
    const std::vector<ServedAccess>& accesses() {
        finish();
        return accesses_;
    }

  private:
    void finish() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    bool receive(int fd, std::uint8_t* into, std::size_t count) {
        while (count > 0) {
            const ssize_t got = ::recv(fd, into, count, 0);
            if (got <= 0) {
                return false;
            }
            raw_.insert(raw_.end(), into, into + got);
            into += got;
            count -= static_cast<std::size_t>(got);
        }
        return true;
    }

    void serve() {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        if (behaviour_ != ServerBehaviour::CloseAfterAccept) {
            serveMessages(fd);
        }
        ::close(fd);
    }

    void serveMessages(int fd) {
        std::uint8_t header[3];
        while (receive(fd, header, sizeof header)) {
            const auto address = static_cast<std::uint16_t>(header[1] | header[2] << 8);
            if (header[0] == 'w') {
                std::uint8_t value = 0;
                if (!receive(fd, &value, 1)) {
                    return;
                }
                accesses_.push_back({'w', address, value});
                continue;
            }
            accesses_.push_back({static_cast<char>(header[0]), address, 0});
            if (behaviour_ == ServerBehaviour::NeverAnswer) {
                continue;
            }
            std::uint8_t answer = 0;
            if (!answers_.empty()) {
                answer = answers_.front();
                answers_.pop_front();
            }
            accesses_.back().value = answer;
            ::send(fd, &answer, 1, MSG_NOSIGNAL);
            if (behaviour_ == ServerBehaviour::CloseAfterOneRead) {
                return;
            }
        }
    }

    ServerBehaviour behaviour_;
    std::deque<std::uint8_t> answers_;
    int listenFd_ = -1;
    std::thread thread_;
    std::vector<std::uint8_t> raw_;
    std::vector<ServedAccess> accesses_;
};

class SocketPortTest : public ::testing::Test {
  protected:
    std::string socketPath() const { return dir_.filePath("port.sock").toStdString(); }

    QTemporaryDir dir_;
};

TEST_F(SocketPortTest, WritesAndReadsGoOutInTheWireFormatAndUseTheAnswer) {
    PortServer server(socketPath(), ServerBehaviour::Answer, {0xA7});
    SocketPort port(socketPath());
    ASSERT_TRUE(port.InitializeWinIo()) << port.failureReason();

    EXPECT_TRUE(port.SetPortVal(0x378, 0xFA, 1));
    std::uint32_t status = 0;
    EXPECT_TRUE(port.GetPortVal(0x279, status, 1));
    EXPECT_EQ(status, 0xA7u);
    EXPECT_TRUE(port.SetPortVal(0x1234, 0x00, 1));
    port.ShutdownWinIo();

    EXPECT_THAT(server.rawBytes(), ElementsAre('w', 0x78, 0x03, 0xFA,  //
                                               'r', 0x79, 0x02,        //
                                               'w', 0x34, 0x12, 0x00));
}

TEST_F(SocketPortTest, SpiLinkByteWriteInModeZeroReachesTheServerInOrder) {
    PortServer server(socketPath(), ServerBehaviour::Answer);
    SocketPort port(socketPath());
    ASSERT_TRUE(port.InitializeWinIo());
    SpiLink link(port);

    link.wrtLPTport(0xA5);
    port.ShutdownWinIo();

    const std::vector<std::uint8_t> expected = {252, 253, 248, 249, 252, 253, 248, 249, 248,
                                                249, 252, 253, 248, 249, 252, 253, 250};
    std::vector<ServedAccess> expectedAccesses;
    for (std::uint8_t value : expected) {
        expectedAccesses.push_back({'w', 0x378, value});
    }
    EXPECT_THAT(server.accesses(), ElementsAreArray(expectedAccesses));
}

TEST_F(SocketPortTest, SpiLinkByteReadTakesEachBitFromTheServersStatusAnswer) {
    // MISO is status bit 5: 1, 0, 1, 0, 0, 1, 0, 1 is 0xA5; other bits must not leak in.
    PortServer server(socketPath(), ServerBehaviour::Answer,
                      {0x20, 0xDF, 0xFF, 0x00, 0x80, 0x20, 0x1F, 0xA0});
    SocketPort port(socketPath());
    ASSERT_TRUE(port.InitializeWinIo());
    SpiLink link(port);

    EXPECT_EQ(link.read1byteLPTport(), 0xA5);
    port.ShutdownWinIo();

    const auto& accesses = server.accesses();
    ASSERT_EQ(accesses.size(), 25u);
    for (std::size_t bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(accesses[bit * 3], (ServedAccess{'w', 0x378, 248}));
        EXPECT_EQ(accesses[bit * 3 + 1].command, 'r');
        EXPECT_EQ(accesses[bit * 3 + 1].address, 0x379);
        EXPECT_EQ(accesses[bit * 3 + 2], (ServedAccess{'w', 0x378, 249}));
    }
    EXPECT_EQ(accesses.back(), (ServedAccess{'w', 0x378, 250}));
}

TEST_F(SocketPortTest, NoServerIsAFailedStartNamingThePathAndTheReason) {
    SocketPort port(socketPath());

    EXPECT_FALSE(port.InitializeWinIo());
    EXPECT_THAT(port.failureReason(), HasSubstr(socketPath()));
    EXPECT_THAT(port.failureReason(), HasSubstr(std::strerror(ENOENT)));
    std::uint32_t value = 99;
    EXPECT_FALSE(port.GetPortVal(0x379, value, 1));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(port.SetPortVal(0x378, 0xFA, 1));
}

// Every way of losing the server: reported once on stderr, then every access is false and
// reads give 0, without a crash or a SIGPIPE.
struct LostServerCase {
    const char* name;
    ServerBehaviour behaviour;
    int readsThatSucceed;
};
void PrintTo(const LostServerCase& lost, std::ostream* out) {
    *out << lost.name;
}

class SocketPortLostServerTest : public SocketPortTest,
                                 public ::testing::WithParamInterface<LostServerCase> {};

TEST_P(SocketPortLostServerTest, BreaksTheLinkOnceAndGoesOnQuietly) {
    PortServer server(socketPath(), GetParam().behaviour, {0x80});
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.InitializeWinIo());

    std::uint32_t value = 0;
    for (int i = 0; i < GetParam().readsThatSucceed; ++i) {
        ASSERT_TRUE(port.GetPortVal(0x379, value, 1));
    }
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(port.GetPortVal(0x379, value, 1));
    for (int i = 0; i < 50; ++i) {
        value = 0xFF;
        EXPECT_FALSE(port.SetPortVal(0x378, 0xF8, 1));
        EXPECT_FALSE(port.GetPortVal(0x379, value, 1));
        EXPECT_EQ(value, 0u);
    }
    const std::string errors = ::testing::internal::GetCapturedStderr();

    EXPECT_THAT(errors, HasSubstr(socketPath()));
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SocketPortLostServerTest,
    ::testing::Values(LostServerCase{"HangsUpAtOnce", ServerBehaviour::CloseAfterAccept, 0},
                      LostServerCase{"HangsUpMidRun", ServerBehaviour::CloseAfterOneRead, 1},
                      LostServerCase{"NeverAnswers", ServerBehaviour::NeverAnswer, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketPortTest, ANewStartAfterABrokenLinkConnectsAgain) {
    SocketPort port(socketPath(), kShortReplyLimit);
    std::uint32_t value = 0;
    {
        PortServer gone(socketPath(), ServerBehaviour::CloseAfterAccept);
        ASSERT_TRUE(port.InitializeWinIo());
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(port.GetPortVal(0x379, value, 1));
        ::testing::internal::GetCapturedStderr();
    }
    std::filesystem::remove(socketPath());
    PortServer back(socketPath(), ServerBehaviour::Answer, {0x42});

    ASSERT_TRUE(port.InitializeWinIo());
    EXPECT_TRUE(port.GetPortVal(0x379, value, 1));
    EXPECT_EQ(value, 0x42u);
    port.ShutdownWinIo();
}

}  // namespace
}  // namespace lpt
