// The serial link's exchanges on a scripted line: what goes out in which send, which reply bytes
// a query keeps, and how long it waits for a module that does not answer.
#include <gtest/gtest.h>

#include "protocol/exchange_trace.h"
#include "protocol/wire.h"
#include "serial/frame_end.h"
#include "serial/line_settings.h"
#include "serial/serial_link.h"
#include "support/fake_clock.h"
#include "support/scripted_serial_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using protocol::Register;

struct RecordingTrace final : protocol::ExchangeTrace {
    void record(protocol::Direction direction, std::span<const std::uint8_t> bytes) override {
        records.push_back({direction, Bytes(bytes.begin(), bytes.end())});
    }
    void recordFault(std::string_view what) override { faults.emplace_back(what); }
    std::vector<std::pair<protocol::Direction, Bytes>> records;
    std::vector<std::string> faults;
};

class SerialLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        control.setBaud(2400);
        ASSERT_FALSE(control.open());
        control.events.clear();
    }
    // The module answers the next send with `reply`, all at once.
    void answerWith(Bytes reply) {
        control.module = [this, reply](const Bytes&) { control.arrive(reply); };
    }

    testing_support::FakeClock clock;
    testing_support::ScriptedSerialControl control{&clock};
    RecordingTrace trace;
    serial::SerialLink link{control, clock, &trace};
};

TEST_F(SerialLinkTest, RegisterWritesAndCommandsGoOutInOneSendEach) {
    protocol::writeRegister(link, Register::Speed, 11);
    protocol::writeRegister(link, Register::FrameWidth, 352);
    protocol::writeRegister(link, Register::FrameHeight, 0x01FF);
    protocol::sendCommand(link, 192);
    EXPECT_EQ(control.outputs(),
              (std::vector<Bytes>{{17, 11}, {55, 1, 96}, {56, 0x01, 0xFF}, {192}}));
    ASSERT_EQ(trace.records.size(), 4u);
    EXPECT_EQ(trace.records[1].second, (Bytes{55, 1, 96}));
}

// A reply is exactly the bytes asked for. A byte more, with the reply or in the quiet time after
// it, shows that some byte on the line was no answer: the query fails as in doubt, and every byte
// that came is dropped, none left for the frame.
TEST_F(SerialLinkTest, AReplyIsExactlyTheBytesAskedForAndAByteMorePutsItInDoubt) {
    struct Case {
        std::uint8_t request;
        Bytes reply;
        std::optional<std::uint16_t> value;
    };
    const Case cases[] = {
        {1, {9}, 9},
        {7, {0x01, 0x60}, 0x0160},
        {8, {0x00, 0xFF}, 0x00FF},
        {1, {9, 200, 201}, std::nullopt},
        {7, {0x01, 0x77, 0x60}, std::nullopt},
        {1, {0xAA, 9}, std::nullopt},  // a stray byte just before the answer
    };
    for (const Case& c : cases) {
        answerWith(c.reply);
        link.beginOperation();
        const Register r = *protocol::registerForRequest(c.request);
        EXPECT_EQ(protocol::queryRegister(link, r), c.value)
            << int(c.request) << " " << c.reply.size();
        EXPECT_EQ(link.takeFault().has_value(), !c.value.has_value());
        EXPECT_TRUE(control.incoming.empty());
    }
    // Each reply is traced as taken, whole.
    EXPECT_EQ(trace.records[1], (std::pair{protocol::Direction::FromModule, Bytes{9}}));
    EXPECT_EQ(trace.records[11], (std::pair{protocol::Direction::FromModule, Bytes{0xAA, 9}}));
    ASSERT_FALSE(trace.faults.empty());
    EXPECT_EQ(trace.faults.back(),
              "COM1 (/dev/scripted1): 1 byte(s) more than the reply came: the answer is in doubt");
}

TEST_F(SerialLinkTest, ReplyWaitYieldsUntilTheReplyComes) {
    link.send(Bytes{1});
    int turns = 0;
    clock.duringWait = [&] {
        if (++turns == 5) {
            control.arrive({4});
        }
    };
    EXPECT_EQ(link.readOne(), 4);
    EXPECT_GE(turns, 5);
}

TEST_F(SerialLinkTest, SilentModuleTimesOutAfterASecondAndTwentyCharacterTimes) {
    for (const std::uint32_t baud : {1200u, 115200u}) {
        SCOPED_TRACE(baud);
        control.setBaud(baud);
        const auto limit =
            std::chrono::seconds(1) + std::chrono::nanoseconds(200'000'000'000 / baud);
        EXPECT_EQ(link.replyTimeLimit(),
                  std::chrono::duration_cast<protocol::Clock::Duration>(limit));

        const auto start = clock.now();
        EXPECT_EQ(link.readOne(), std::nullopt);
        const auto waited = clock.now() - start;
        // The limit, then a reply time of quiet line in which a late reply is dropped.
        EXPECT_GE(waited, 2 * limit);
        EXPECT_LT(waited, 2 * limit + std::chrono::milliseconds(5));
    }
}

TEST_F(SerialLinkTest, WhatFollowsAReplyOrATimeOutIsDroppedNotLeftForTheFrame) {
    // One byte of a two-byte reply is no reply; its second byte comes late.
    control.arrive({3});
    int turns = 0;
    clock.duringWait = [&] {
        if (++turns == 1500) {
            control.arrive({4});
        }
    };
    EXPECT_EQ(link.readTwo(), std::nullopt);
    EXPECT_TRUE(control.incoming.empty());
    // A reply, and one more byte on the line a little later: the answer is in doubt.
    control.arrive({9});
    turns = 0;
    clock.duringWait = [&] {
        if (++turns == 10) {
            control.arrive({78});
        }
    };
    EXPECT_EQ(link.readOne(), std::nullopt);
    EXPECT_EQ(link.takeFault()->kind, protocol::LinkFault::Kind::StrayByte);
    EXPECT_TRUE(control.incoming.empty());
}

TEST_F(SerialLinkTest, NothingIsSentOrAwaitedOnAClosedPort) {
    control.close();
    control.events.clear();
    protocol::writeRegister(link, Register::Brightness, 60);
    protocol::sendCommand(link, 64);
    EXPECT_TRUE(control.outputs().empty());
    EXPECT_TRUE(trace.records.empty());
    EXPECT_EQ(link.readOne(), std::nullopt);
    EXPECT_EQ(clock.yieldingWaits, 0);
}

TEST(LineSettingsTest, SpeedBoxTextsAndCodes) {
    const std::pair<const char*, int> table[] = {
        {"1200", 1},  {"2400", 2},  {"4800", 3},  {"9600", 4},   {"14400", 5},
        {"19200", 6}, {"28800", 7}, {"38400", 9}, {"57600", 10}, {"115200", 11}};
    for (const auto& [text, code] : table) {
        const auto speed = serial::speedForText(text);
        ASSERT_TRUE(speed) << text;
        EXPECT_EQ(speed->code, code) << text;
        EXPECT_EQ(speed->baud, std::stoul(text));
        EXPECT_EQ(serial::speedTextForCode(static_cast<std::uint8_t>(code)), text);
    }
    for (int code : {0, 8, 12, 255}) {
        EXPECT_EQ(serial::speedTextForCode(static_cast<std::uint8_t>(code)), std::nullopt) << code;
    }
    EXPECT_EQ(serial::trimBlanks("  9600 "), "9600");
    for (const char* text : {"09600", "9600 baud", "", "38400.0", "-2400", "9601"}) {
        EXPECT_FALSE(serial::speedForText(serial::trimBlanks(text))) << text;
    }
}

}  // namespace
