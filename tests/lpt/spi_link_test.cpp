#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "lpt/spi_link.h"
#include "support/recording_port.h"

using lpt::SpiLink;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing_support::PortAccess;
using testing_support::RecordingPort;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A link in `mode`, with the accesses that got it there forgotten.
struct LinkInMode {
    explicit LinkInMode(int mode) : link(port) {
        link.enterStartState();
        if (mode != 0) {
            link.switchMode(mode);
        }
        port.clear();
    }
    RecordingPort port;
    SpiLink link;
};

// The data-register writes of one byte sent as setup/sample pairs, most significant bit first.
Bytes expectedByteWrite(std::uint8_t value, std::uint8_t setup, std::uint8_t sample,
                        std::uint8_t idle) {
    Bytes out;
    for (int bit = 7; bit >= 0; --bit) {
        const std::uint8_t line = (value >> bit) & 1 ? 4 : 0;
        out.push_back(setup + line);
        out.push_back(sample + line);
    }
    out.push_back(idle);
    return out;
}

}  // namespace

TEST(SpiLinkWrite, ExactDataRegisterSequenceInEveryMode) {
    const Bytes mode0 = {252, 253, 248, 249, 252, 253, 248, 249, 248,
                         249, 252, 253, 248, 249, 252, 253, 250};
    const Bytes mode1 = {253, 252, 249, 248, 253, 252, 249, 248, 249,
                         248, 253, 252, 249, 248, 253, 252, 250};
    Bytes mode3 = mode0;
    mode3.back() = 251;
    Bytes mode2 = mode1;
    mode2.back() = 251;
    const Bytes* expected[] = {&mode0, &mode1, &mode2, &mode3};

    for (int mode = 0; mode < 4; ++mode) {
        LinkInMode l(mode);
        l.link.wrtLPTport(0xA5);
        EXPECT_THAT(l.port.writtenValues(), ElementsAreArray(*expected[mode])) << "mode " << mode;
        EXPECT_EQ(l.port.readCount(), 0u);
        for (const PortAccess& a : l.port.accesses()) {
            EXPECT_EQ(a.address, 0x378);
        }
    }
}

TEST(SpiLinkWrite, AllZeroAndAllOneBytes) {
    LinkInMode l(0);
    l.link.wrtLPTport(0);
    EXPECT_THAT(l.port.writtenValues(), ElementsAreArray(expectedByteWrite(0, 248, 249, 250)));
    l.port.clear();
    l.link.wrtLPTport(0xFF);
    EXPECT_THAT(l.port.writtenValues(), ElementsAreArray(expectedByteWrite(0xFF, 248, 249, 250)));
}

TEST(SpiLinkRead, WriteReadWriteOrderAndBitAssembly) {
    LinkInMode l(0);
    // Bit 5 carries the data: 0xFF and 0x20 are ones, 0xDF and 0x00 zeros.
    l.port.queueStatus({0xFF, 0xDF, 0x20, 0x00, 0xDF, 0x20, 0x00, 0xFF});
    const auto in = l.link.read1byteLPTport();
    ASSERT_TRUE(in);
    EXPECT_EQ(in->value, 0xA5);

    std::vector<PortAccess> expected;
    const std::uint8_t statuses[] = {0xFF, 0xDF, 0x20, 0x00, 0xDF, 0x20, 0x00, 0xFF};
    for (std::uint8_t s : statuses) {
        expected.push_back({PortAccess::Kind::Write, 0x378, 248});
        expected.push_back({PortAccess::Kind::Read, 0x379, s});
        expected.push_back({PortAccess::Kind::Write, 0x378, 249});
    }
    expected.push_back({PortAccess::Kind::Write, 0x378, 250});
    EXPECT_THAT(l.port.accesses(), ElementsAreArray(expected));
    EXPECT_EQ(in->status, 0xFFu);  // the status of the last read comes with the byte
}

TEST(SpiLinkRead, ReadPatternsFollowTheMode) {
    for (int mode = 0; mode < 4; ++mode) {
        LinkInMode l(mode);
        l.port.setStatusFallback(0x20);
        EXPECT_EQ(l.link.read1byteLPTport()->value, 0xFF);
        const auto& p = lpt::kModePatterns[static_cast<std::size_t>(mode)];
        // The data line stays 0 throughout a read.
        EXPECT_THAT(l.port.writtenValues(),
                    ElementsAreArray(expectedByteWrite(0, p.setup, p.sample, p.idle)));
        EXPECT_EQ(l.port.readCount(), 8u);
    }
}

TEST(SpiLinkRead, TwoBytesAreTwoChipSelectFrames) {
    LinkInMode l(0);
    l.port.queueStatus({0x20, 0, 0, 0, 0, 0, 0, 0x20, /* second byte */ 0, 0, 0, 0, 0, 0, 0x20, 0});
    EXPECT_EQ(l.link.read2bytesLPTport(), (std::pair<std::uint8_t, std::uint8_t>(0x81, 0x02)));
    const Bytes writes = l.port.writtenValues();
    ASSERT_EQ(writes.size(), 34u);
    EXPECT_EQ(writes[16], 250);
    EXPECT_EQ(writes[33], 250);

    // Through the module-link interface: the same bytes in the same order.
    l.port.queueStatus({0, 0, 0, 0, 0, 0, 0, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20});
    using Reply = std::pair<std::uint8_t, std::uint8_t>;
    EXPECT_EQ(l.link.readTwo(), Reply(1, 0xFF));
}

TEST(SpiLinkModeSwitch, RegisterWriteGoesOutInTheOldModeThenNewIdle) {
    LinkInMode l(0);
    l.link.switchMode(2);
    Bytes expected = expectedByteWrite(18, 248, 249, 250);
    const Bytes value = expectedByteWrite(2, 248, 249, 250);
    expected.insert(expected.end(), value.begin(), value.end());
    expected.push_back(251);
    EXPECT_THAT(l.port.writtenValues(), ElementsAreArray(expected));

    // The next byte uses mode 2's setup 249 and sample 248.
    l.port.clear();
    l.link.wrtLPTport(0);
    EXPECT_THAT(l.port.writtenValues(), ElementsAreArray(expectedByteWrite(0, 249, 248, 251)));
}

TEST(SpiLinkModeSwitch, SwitchingToTheModeInForceRunsInFull) {
    LinkInMode l(3);
    l.link.switchMode(3);
    Bytes expected = expectedByteWrite(18, 248, 249, 251);
    const Bytes value = expectedByteWrite(3, 248, 249, 251);
    expected.insert(expected.end(), value.begin(), value.end());
    expected.push_back(251);
    EXPECT_THAT(l.port.writtenValues(), ElementsAreArray(expected));
}

TEST(SpiLinkPortChoice, IndexPicksTheBaseAndWritesNothing) {
    RecordingPort port;
    SpiLink link(port);
    link.enterStartState();
    port.clear();
    link.choosePort(1);
    EXPECT_EQ(link.portBase(), 632);
    EXPECT_TRUE(port.accesses().empty());
    link.wrtLPTport(0);
    link.pollStatus();
    EXPECT_EQ(port.accesses().front().address, 0x278);
    EXPECT_EQ(port.accesses().back(), (PortAccess{PortAccess::Kind::Read, 0x279, 0}));
    link.choosePort(0);
    EXPECT_EQ(link.portBase(), 888);
    link.choosePort(5);  // any index but 0 is LPT2
    EXPECT_EQ(link.portBase(), 632);
}

TEST(SpiLinkStart, StartStateAndSingleStop) {
    RecordingPort port;
    port.setInitializeResult(false, "no device");
    SpiLink link(port);
    link.choosePort(1);
    EXPECT_FALSE(link.startPortAccess());
    link.enterStartState();
    // Start goes on after a failure: LPT1, the mode-0 idle pattern written (attempted).
    EXPECT_EQ(link.portBase(), 888);
    EXPECT_THAT(port.accesses(), ElementsAre(PortAccess{PortAccess::Kind::Write, 0x378, 250}));
    EXPECT_EQ(link.failureReason(), "no device");
    link.stopPortAccess();
    link.stopPortAccess();
    EXPECT_EQ(port.shutdownCalls(), 1);
}

TEST(SpiLinkTrace, OneRecordPerExchange) {
    struct Recorder : protocol::ExchangeTrace {
        std::vector<std::pair<protocol::Direction, Bytes>> records;
        void record(protocol::Direction d, std::span<const std::uint8_t> b) override {
            records.emplace_back(d, Bytes(b.begin(), b.end()));
        }
    } recorder;
    RecordingPort port;
    SpiLink link(port, &recorder);
    port.setStatusFallback(0x20);
    const std::uint8_t write[] = {55, 1, 96};
    link.send(write);
    link.readOne();
    link.switchMode(1);
    ASSERT_EQ(recorder.records.size(), 3u);
    EXPECT_EQ(recorder.records[0].second, (Bytes{55, 1, 96}));
    EXPECT_EQ(recorder.records[1], (std::pair{protocol::Direction::FromModule, Bytes{0xFF}}));
    EXPECT_EQ(recorder.records[2].second, (Bytes{18, 1}));
    // A register write through the link is one frame per byte: 3 x 17 writes.
    EXPECT_EQ(port.writtenValues().size(), 3u * 17 + 17 + 2 * 17 + 1);
}

TEST(SpiLinkFault, TraceHoldsTheBytesThatWentOutThenTheFaultAndReadsGiveNothing) {
    struct Recorder : protocol::ExchangeTrace {
        std::vector<std::string> lines;
        void record(protocol::Direction, std::span<const std::uint8_t> b) override {
            lines.push_back(std::to_string(b.size()) + " bytes");
        }
        void recordFault(std::string_view what) override { lines.emplace_back(what); }
    } recorder;
    RecordingPort port;
    SpiLink link(port, &recorder);
    ASSERT_TRUE(link.startPortAccess());
    port.failFrom(17 + 5, "gone");  // inside the second byte
    const std::uint8_t write[] = {55, 1, 96};
    link.send(write);
    EXPECT_EQ(link.readOne(), std::nullopt);
    EXPECT_EQ(recorder.lines, (std::vector<std::string>{"1 bytes", "LPT1: gone"}));
    EXPECT_EQ(port.failedAccesses(), 1u);
    EXPECT_EQ(link.takeFault(),
              (protocol::LinkFault{protocol::LinkFault::Kind::Lost, "LPT1", "gone"}));
    EXPECT_EQ(link.takeFault(), std::nullopt);  // told once

    link.beginOperation();  // the port comes back: the next operation goes out whole
    link.choosePort(1);
    link.send(write);
    EXPECT_EQ(port.restartCalls(), 1);
    EXPECT_EQ(port.accesses().size(), 17u + 5 + 3 * 17);
    EXPECT_EQ(link.takeFault(), std::nullopt);
}
