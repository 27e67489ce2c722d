// The socket back-end against a port server run in a thread of the test: the bytes on the wire,
// the answers used, and what happens when the server is missing, silent or goes away.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "lpt/port_watch.h"
#include "lpt/socket_port.h"
#include "lpt/spi_link.h"
#include "support/fault_port_server.h"

namespace lpt {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr std::chrono::milliseconds kShortReplyLimit{100};

using testing_support::FaultPortServer;
using testing_support::PortFault;
using ServedAccess = FaultPortServer::Access;

// What a port watch hears, in the server's terms: each access with the value written or read.
struct WatchedAccesses final : lpt::PortWatch {
    void wrote(std::uint16_t address, std::uint8_t value) override {
        heard.push_back({'w', address, value});
    }
    void read(std::uint16_t address, std::uint8_t value) override {
        heard.push_back({'r', address, value});
    }
    void byteBegins(ByteKind) override {}
    void operationEnded() override {}
    void faulted(std::string_view) override { ++faults; }
    std::vector<ServedAccess> heard;
    int faults = 0;
};

class SocketPortTest : public ::testing::Test {
  protected:
    std::string socketPath() const { return dir_.filePath("port.sock").toStdString(); }

    QTemporaryDir dir_;
};

TEST_F(SocketPortTest, WritesAndReadsGoOutInTheWireFormatAndUseTheAnswer) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0xA7}));
    SocketPort port(socketPath());
    ASSERT_TRUE(port.start()) << port.fault();

    EXPECT_TRUE(port.writeByte(0x378, 0xFA));
    std::uint8_t status = 0;
    EXPECT_TRUE(port.readByte(0x279, status));
    EXPECT_EQ(status, 0xA7u);
    EXPECT_TRUE(port.writeByte(0x1234, 0x00));
    port.stop();
    ASSERT_TRUE(server.waitForHangUp());

    EXPECT_THAT(server.rawBytes(), ElementsAre('w', 0x78, 0x03, 0xFA,  //
                                               'r', 0x79, 0x02,        //
                                               'w', 0x34, 0x12, 0x00));
}

TEST_F(SocketPortTest, SpiLinkByteWriteInModeZeroReachesTheServerInOrder) {
    FaultPortServer server(socketPath());
    SocketPort port(socketPath());
    ASSERT_TRUE(port.start());
    SpiLink link(port);

    link.wrtLPTport(0xA5);
    port.stop();
    ASSERT_TRUE(server.waitForHangUp());

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
    FaultPortServer server(
        socketPath(), FaultPortServer::answers({0x20, 0xDF, 0xFF, 0x00, 0x80, 0x20, 0x1F, 0xA0}));
    SocketPort port(socketPath());
    ASSERT_TRUE(port.start());
    SpiLink link(port);

    EXPECT_EQ(link.read1byteLPTport()->value, 0xA5);
    EXPECT_EQ(port.roundTrips(), 1u);  // the byte's accesses went out together
    port.stop();
    ASSERT_TRUE(server.waitForHangUp());

    const auto accesses = server.accesses();
    ASSERT_EQ(accesses.size(), 25u);
    for (std::size_t bit = 0; bit < 8; ++bit) {
        EXPECT_EQ(accesses[bit * 3], (ServedAccess{'w', 0x378, 248}));
        EXPECT_EQ(accesses[bit * 3 + 1].command, 'r');
        EXPECT_EQ(accesses[bit * 3 + 1].address, 0x379);
        EXPECT_EQ(accesses[bit * 3 + 2], (ServedAccess{'w', 0x378, 249}));
    }
    EXPECT_EQ(accesses.back(), (ServedAccess{'w', 0x378, 250}));
}

// What a poll that sends its status read ahead gives: the status, or -1 for nothing yet, -2 for
// a failure.
int pollAhead(SpiLink& link) {
    const auto ahead = link.pollStatusAhead();
    using Outcome = SpiLink::StatusAhead::Outcome;
    return ahead.outcome == Outcome::Status ? ahead.status
                                            : (ahead.outcome == Outcome::NotYet ? -1 : -2);
}

// A poll sends its status read ahead, a later one takes the answer, and one after that gives it
// once the line has settled with nothing more on it; any other access takes an answer owed
// first and drops one not yet given. The watch hears every read in the server's order.
TEST_F(SocketPortTest, AStatusReadSentAheadIsGivenOnceTheLineHasSettled) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x80, 0x00, 0x80}));
    SocketPort port(socketPath());
    ASSERT_TRUE(port.start());
    SpiLink link(port);
    WatchedAccesses watch;
    link.setPortWatch(&watch);

    EXPECT_EQ(pollAhead(link), -1);  // sent
    EXPECT_EQ(pollAhead(link), -1);  // taken
    std::this_thread::sleep_for(2 * SocketPort::kSettleTime + std::chrono::milliseconds(5));
    EXPECT_EQ(pollAhead(link), 0x80);    // settled: given, and the next one sent
    EXPECT_EQ(link.pollStatus(), 0x80);  // after the answer owed, 0x00
    port.stop();
    ASSERT_TRUE(server.waitForHangUp());

    EXPECT_THAT(server.accesses(),
                ElementsAre(ServedAccess{'r', 0x379, 0x80}, ServedAccess{'r', 0x379, 0x00},
                            ServedAccess{'r', 0x379, 0x80}));
    EXPECT_EQ(watch.heard, server.accesses());
}

// A stray byte that comes before the answer to a read sent ahead, the answer after it in a
// send of its own: the stray byte is never given as the status, and the answer that follows it
// breaks the link.
TEST_F(SocketPortTest, AStrayByteAheadOfAnAnswerIsNeverGivenAsTheStatus) {
    FaultPortServer server(
        socketPath(), FaultPortServer::answers(std::vector<std::uint8_t>(64, 0x80)),
        {.fault = PortFault::StrayAhead, .lateBy = std::chrono::milliseconds(20)});
    SocketPort port(socketPath());
    ASSERT_TRUE(port.start());
    SpiLink link(port);
    ::testing::internal::CaptureStderr();
    std::vector<int> given;
    for (int poll = 0; poll < 12 && (given.empty() || given.back() != -2); ++poll) {
        given.push_back(pollAhead(link));
        std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(given, Not(Contains(0x00)));
    EXPECT_EQ(given.back(), -2);
    const auto fault = link.takeFault();
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->kind, protocol::LinkFault::Kind::StrayByte);
}

TEST_F(SocketPortTest, AServerGoneMidByteGivesNoByteFromTheAnswersThatCame) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x20, 0x20, 0x20}),
                           {.fault = PortFault::Close, .after = 10});
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());
    SpiLink link(port);
    WatchedAccesses watch;
    link.setPortWatch(&watch);

    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(link.read1byteLPTport());
    ::testing::internal::GetCapturedStderr();
    const auto fault = link.takeFault();
    ASSERT_TRUE(fault);
    EXPECT_EQ(fault->kind, protocol::LinkFault::Kind::Lost);
    // The held byte's accesses are not told as if they had been answered; its fault is.
    EXPECT_THAT(watch.heard, IsEmpty());
    EXPECT_EQ(watch.faults, 1);
}

TEST_F(SocketPortTest, AFrameFromTheServerComesInMsbFirstWithReadyOnItsLastBit) {
    FaultPortServer server(socketPath(), FaultPortServer::frame({0xA5, 0x3C}));
    SocketPort port(socketPath());
    ASSERT_TRUE(port.start());
    SpiLink link(port);
    WatchedAccesses watch;
    link.setPortWatch(&watch);

    const auto first = link.read1byteLPTport();
    const auto last = link.read1byteLPTport();
    ASSERT_TRUE(first && last);
    // Held and sent together, the accesses are told in their order with the answers read.
    // (The writes after the last read may still be on their way to the server.)
    const auto served = server.accesses();
    ASSERT_EQ(watch.heard.size(), 2u * 25u);
    EXPECT_TRUE(std::equal(served.begin(), served.end(), watch.heard.begin()));
    EXPECT_EQ(first->value, 0xA5);
    EXPECT_EQ(first->status & kReadyBit, 0u);
    EXPECT_EQ(last->value, 0x3C);
    EXPECT_EQ(last->status & kReadyBit, kReadyBit);
}

TEST_F(SocketPortTest, NoServerIsAFailedStartNamingThePathAndTheReason) {
    SocketPort port(socketPath());

    EXPECT_FALSE(port.start());
    const std::string startFault = port.fault();
    EXPECT_THAT(startFault, HasSubstr("cannot connect to port socket " + socketPath()));
    EXPECT_THAT(startFault, HasSubstr(std::strerror(ENOENT)));
    std::uint8_t value = 99;
    EXPECT_FALSE(port.readByte(0x379, value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(port.writeByte(0x378, 0xFA));
    EXPECT_EQ(port.fault(), startFault);  // the accesses fail for the start's reason
}

TEST_F(SocketPortTest, AServerThatDoesNotAcceptIsAFailedStartWithinTheLimit) {
    FaultPortServer server(socketPath(), {}, {.fault = PortFault::NeverAccept});
    SocketPort port(socketPath(), kShortReplyLimit);

    EXPECT_FALSE(port.start());
    EXPECT_THAT(port.fault(), HasSubstr(socketPath()));
    EXPECT_THAT(port.fault(), HasSubstr("accepted no connection within 100 ms"));
}

// Every way of losing the server: the access that meets the fault fails and gives no byte, one
// line goes to stderr, fault() says what happened, and every later access fails without
// reaching the server. A read sent ahead meets it when its answer is taken.
struct LostServerCase {
    const char* name;
    testing_support::PortFaultOptions fault;
    int readsThatSucceed;
    std::size_t requestsTheServerRead;  // 3 bytes each
    std::string reason;
    bool sentAhead = false;
};
void PrintTo(const LostServerCase& lost, std::ostream* out) {
    *out << lost.name;
}

class SocketPortLostServerTest : public SocketPortTest,
                                 public ::testing::WithParamInterface<LostServerCase> {};

TEST_P(SocketPortLostServerTest, FailsTheAccessThatMeetsItAndEveryOneAfter) {
    const LostServerCase& lost = GetParam();
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x80, 0x80, 0x80}), lost.fault);
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());

    std::uint8_t value = 0;
    for (int i = 0; i < lost.readsThatSucceed; ++i) {
        ASSERT_TRUE(port.readByte(0x379, value));
        EXPECT_EQ(value, 0x80u);
    }
    ::testing::internal::CaptureStderr();
    value = 0xFF;
    if (lost.sentAhead) {
        port.hold();
        EXPECT_TRUE(port.readByte(0x379, value));
        EXPECT_TRUE(port.sendHeld());
        EXPECT_FALSE(port.takeAnswers());
    } else {
        EXPECT_FALSE(port.readByte(0x379, value));
    }
    EXPECT_EQ(value, 0u);
    for (int i = 0; i < 50; ++i) {
        value = 0xFF;
        EXPECT_FALSE(port.writeByte(0x378, 0xF8));
        EXPECT_FALSE(port.readByte(0x379, value));
        EXPECT_EQ(value, 0u);
    }
    const std::string errors = ::testing::internal::GetCapturedStderr();

    EXPECT_THAT(port.fault(), HasSubstr(socketPath()));
    EXPECT_THAT(port.fault(), HasSubstr(lost.reason));
    if (lost.readsThatSucceed > 0) {
        EXPECT_THAT(port.fault(), Not(HasSubstr("before any answer")));
    }
    EXPECT_THAT(errors, HasSubstr(port.fault()));
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    ASSERT_TRUE(server.waitForHangUp());
    EXPECT_EQ(server.rawBytes().size(), 3 * lost.requestsTheServerRead);
}

const std::string kReset = std::string("connection reset: ") + std::strerror(ECONNRESET);
const std::string kNoAnswer = "no answer to a port read within 100 ms";

INSTANTIATE_TEST_SUITE_P(
    Ways, SocketPortLostServerTest,
    ::testing::Values(
        // Closed before any answer: most likely another client holds the simulator.
        LostServerCase{"HangsUpAtOnce",
                       {PortFault::Close, 0},
                       0,
                       0,
                       "closed the connection before any answer: another client may hold the "
                       "simulator"},
        LostServerCase{"HangsUpMidRun", {PortFault::Close, 1}, 1, 1, "closed the connection"},
        LostServerCase{"ResetsMidRun", {PortFault::Reset, 1}, 1, 1, kReset},
        LostServerCase{"FallsSilent", {PortFault::Silent, 1}, 1, 2, kNoAnswer},
        LostServerCase{
            "FallsSilentOnAReadSentAhead", {PortFault::Silent, 1}, 1, 2, kNoAnswer, true},
        LostServerCase{"ResetsOnAReadSentAhead", {PortFault::Reset, 1}, 1, 1, kReset, true},
        LostServerCase{"AnswersTooLate", {PortFault::LateAnswer, 1}, 1, 2, kNoAnswer},
        LostServerCase{"SendsAByteWithTheAnswer",
                       {PortFault::ExtraByte, 2},
                       1,
                       2,
                       "sent 1 byte(s) nobody asked for"}),
    [](const auto& instance) { return std::string(instance.param.name); });

TEST_F(SocketPortTest, AStrayByteWaitingBeforeAReadFailsItAndIsNoAnswer) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x11}),
                           {.fault = PortFault::ExtraByte, .after = 1});
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());
    ASSERT_TRUE(port.writeByte(0x378, 0xF8));
    ASSERT_TRUE(server.waitForAccesses(1));  // the stray byte follows the write

    ::testing::internal::CaptureStderr();
    std::uint8_t value = 0xFF;
    EXPECT_FALSE(port.readByte(0x379, value));
    ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(value, 0u);
    EXPECT_THAT(port.fault(), HasSubstr("sent 1 byte(s) nobody asked for"));
    ASSERT_TRUE(server.waitForHangUp());
    EXPECT_EQ(server.rawBytes().size(), 4u);  // the read was never asked for
}

TEST_F(SocketPortTest, AStrayByteRacingTheAnswerIsNeverConfirmedAsOne) {
    // The stray byte follows the write at once; the read may find it waiting, receive it with
    // the answer, or take it for the answer, and then the true answer shows at the confirmation.
    // Whichever way the race goes, no answer out of turn is both read and confirmed.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        FaultPortServer server(socketPath(), FaultPortServer::answers({0x11}),
                               {.fault = PortFault::ExtraByte, .after = 1});
        SocketPort port(socketPath(), kShortReplyLimit);
        ASSERT_TRUE(port.start());
        ::testing::internal::CaptureStderr();
        std::uint8_t value = 0;
        const bool written = port.writeByte(0x378, 0xF8);
        const bool read = port.readByte(0x379, value);
        const bool confirmed = port.confirmAnswers();
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(written);
        EXPECT_FALSE(read && confirmed);
        EXPECT_TRUE(port.answersInDoubt());
        EXPECT_THAT(port.fault(), HasSubstr("nobody asked for"));
        std::filesystem::remove(socketPath());
    }
}

TEST_F(SocketPortTest, ConfirmingAnswersThatCameInTurnChangesNothing) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x11, 0x22}));
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());
    std::uint8_t value = 0;
    ASSERT_TRUE(port.readByte(0x379, value));
    EXPECT_TRUE(port.confirmAnswers());
    ASSERT_TRUE(port.readByte(0x379, value));
    EXPECT_EQ(value, 0x22u);
    EXPECT_FALSE(port.answersInDoubt());
}

TEST_F(SocketPortTest, ASecondStartOnAHealthyLinkKeepsTheConnection) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x42}));
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());

    EXPECT_TRUE(port.start());
    std::uint8_t value = 0;
    EXPECT_TRUE(port.readByte(0x379, value));
    EXPECT_EQ(value, 0x42u);
    port.stop();
    EXPECT_TRUE(server.waitForHangUp(1));
    EXPECT_FALSE(server.waitForHangUp(2, std::chrono::milliseconds{50}));
}

TEST_F(SocketPortTest, AStartAfterTheServerRestartsConnectsAgainAndRearmsTheNotice) {
    FaultPortServer server(socketPath(), FaultPortServer::answers({0x42}),
                           {.fault = PortFault::Close, .after = 1});
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());
    std::uint8_t value = 0;
    ASSERT_TRUE(port.readByte(0x379, value));

    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(port.readByte(0x379, value));
    server.restart();
    ASSERT_TRUE(port.start()) << port.fault();
    EXPECT_THAT(port.fault(), IsEmpty());
    EXPECT_TRUE(port.readByte(0x379, value));
    EXPECT_EQ(value, 0x42u);
    server.stop();
    EXPECT_FALSE(port.readByte(0x379, value));
    const std::string errors = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors;  // one per break
}

TEST_F(SocketPortTest, AStartAfterABreakWithoutAServerSaysItCannotReconnect) {
    FaultPortServer server(socketPath(), {}, {.fault = PortFault::Close, .after = 0});
    SocketPort port(socketPath(), kShortReplyLimit);
    ASSERT_TRUE(port.start());
    std::uint8_t value = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(port.readByte(0x379, value));
    ::testing::internal::GetCapturedStderr();
    server.stop();

    EXPECT_FALSE(port.start());
    const std::string restartFault = port.fault();
    EXPECT_THAT(restartFault, HasSubstr("cannot reconnect to port socket " + socketPath() + ": " +
                                        std::strerror(ENOENT)));
    EXPECT_FALSE(port.writeByte(0x378, 0xFA));
    EXPECT_EQ(port.fault(), restartFault);
}

}  // namespace
}  // namespace lpt
