// The emulated module's SPI slave driven by the PC's own SPI link through the emulated port: the
// two sides were written apart, so these tests check one against the other on the wire.
#include <gtest/gtest.h>

#include <optional>

#include "emulator_test_support.h"
#include "lpt/frame_download.h"
#include "protocol/encodings.h"
#include "protocol/registers.h"

namespace emulator {
namespace {

using protocol::Register;
using testing::entriesWithBytes;
using testing::ManualClock;

// Forwards to the emulated port and keeps every status value read, to see the ready flag bit by
// bit as the PC sees it.
class StatusSpy final : public protocol::PortIo {
  public:
    explicit StatusSpy(protocol::PortIo& inner) : inner_(inner) {}
    bool start() override { return inner_.start(); }
    void stop() override { inner_.stop(); }
    bool writeByte(std::uint16_t a, std::uint8_t v) override { return inner_.writeByte(a, v); }
    bool readByte(std::uint16_t a, std::uint8_t& v) override {
        const bool ok = inner_.readByte(a, v);
        statusReads.push_back(v);
        return ok;
    }
    std::vector<std::uint8_t> statusReads;

  private:
    protocol::PortIo& inner_;
};

class SpiBench {
  public:
    explicit SpiBench(std::optional<std::vector<std::uint8_t>> fixedFrame = {})
        : module(log, testing::optionsWith(clock, std::move(fixedFrame))) {
        link.enterStartState();
    }

    // Puts the module in `moduleMode` behind the link's back, with the link left in `pcMode`.
    void desynchronise(int pcMode, int moduleMode) {
        link.switchMode(pcMode);
        module.receive(protocol::registerNumber(Register::SpiMode));
        module.receive(static_cast<std::uint8_t>(moduleMode));
    }

    std::uint8_t readBack(Register r) {
        const std::uint8_t request[] = {protocol::requestByte(r)};
        link.send(request);
        return *link.readOne();
    }

    EmulatorLog log;
    ManualClock clock;
    CameraModule module;
    SpiSlave slave{module};
    EmulatedPort port{slave};
    StatusSpy spy{port};
    lpt::SpiLink link{spy};
};

class SpiEveryMode : public ::testing::TestWithParam<int> {};

TEST_P(SpiEveryMode, RegisterWritesLandAndReadRequestsReturnThem) {
    SpiBench bench;
    const int mode = GetParam();
    bench.link.switchMode(mode);
    ASSERT_EQ(bench.module.spiMode(), mode);

    const std::uint8_t brightness = static_cast<std::uint8_t>(0xA5 ^ mode);
    const std::uint8_t write[] = {protocol::registerNumber(Register::Brightness), brightness};
    bench.link.send(write);
    const std::uint8_t width[] = {protocol::registerNumber(Register::FrameWidth), 1, 96};
    bench.link.send(width);

    EXPECT_EQ(bench.module.registerValue(Register::Brightness), brightness);
    EXPECT_EQ(bench.module.registerValue(Register::FrameWidth), 352);
    EXPECT_EQ(entriesWithBytes(bench.log, LogKind::RegisterWrite, {19, brightness}).size(), 1u);

    EXPECT_EQ(bench.readBack(Register::Brightness), brightness);
    EXPECT_EQ(bench.readBack(Register::SpiMode), mode);
    const std::uint8_t widthRequest[] = {protocol::requestByte(Register::FrameWidth)};
    bench.link.send(widthRequest);
    EXPECT_EQ(bench.link.readTwo(), (std::pair<std::uint8_t, std::uint8_t>{1, 96}));

    // The frames that clocked the replies in carried 0 on the data line: none of them may have
    // been taken for a request of register 16.
    EXPECT_TRUE(entriesWithBytes(bench.log, LogKind::ReadRequest, {0, 3}).empty());
    EXPECT_EQ(bench.log.entriesOf(LogKind::ReadRequest).size(), 3u);
    EXPECT_TRUE(bench.log.entriesOf(LogKind::Ignored).empty());
}

TEST_P(SpiEveryMode, ModeSwitchWrittenInTheOldModeTakesEffectForTheNextFrame) {
    const int from = GetParam();
    for (int to = 0; to < protocol::kSpiModeCount; ++to) {
        SpiBench bench;
        bench.link.switchMode(from);
        bench.link.switchMode(to);
        EXPECT_EQ(bench.module.spiMode(), to) << from << " -> " << to;
        const std::uint8_t write[] = {protocol::registerNumber(Register::Red), 44};
        bench.link.send(write);
        EXPECT_EQ(bench.readBack(Register::Red), 44) << from << " -> " << to;
    }
}

TEST_P(SpiEveryMode, ReadyFlagRisesExactlyWithTheEighthBitOfTheLastFrameByte) {
    const std::vector<std::uint8_t> frame{0xFF, 0xD8, 0x00, 0x81, 0x7E, 0xFF, 0xD9};
    SpiBench bench(frame);
    bench.link.switchMode(GetParam());

    const std::uint8_t capture[] = {protocol::command::kCapture};
    bench.link.send(capture);
    EXPECT_EQ(bench.link.pollStatus().value() & 0x80, 0) << "busy while compressing";
    bench.clock.advance(testing::kTestCaptureTime);
    EXPECT_EQ(bench.link.pollStatus().value() & 0x80, 0x80);

    // The download as the PC runs it: bytes until the flag read with an eighth bit is 1.
    const std::uint8_t frameRead[] = {protocol::command::kFrameRead};
    bench.link.send(frameRead);
    bench.spy.statusReads.clear();
    frames::FrameStore received;
    lpt::downloadFrame(bench.link, received);
    EXPECT_EQ(std::vector<std::uint8_t>(received.frame().begin(), received.frame().end()), frame);

    ASSERT_EQ(bench.spy.statusReads.size(), frame.size() * 8);
    for (std::size_t i = 0; i < bench.spy.statusReads.size(); ++i) {
        const bool lastRead = i + 1 == bench.spy.statusReads.size();
        EXPECT_EQ((bench.spy.statusReads[i] & 0x80) != 0, lastRead) << "status read " << i;
    }
    EXPECT_EQ(bench.log.entriesOf(LogKind::FrameSent).size(), 1u);
    EXPECT_EQ(bench.link.pollStatus().value() & 0x80, 0x80) << "stays ready after the frame";
}

INSTANTIATE_TEST_SUITE_P(Modes, SpiEveryMode, ::testing::Range(0, protocol::kSpiModeCount));

TEST(SpiModeMismatch, APcInAnotherModeReadsGarbage) {
    for (int pcMode = 0; pcMode < protocol::kSpiModeCount; ++pcMode) {
        for (int moduleMode = 0; moduleMode < protocol::kSpiModeCount; ++moduleMode) {
            if (pcMode == moduleMode) {
                continue;
            }
            SpiBench bench;
            bench.module.receive(protocol::registerNumber(Register::Green));
            bench.module.receive(0x6C);
            bench.desynchronise(pcMode, moduleMode);
            EXPECT_NE(bench.readBack(Register::Green), 0x6C)
                << "pc " << pcMode << " module " << moduleMode;
        }
    }
}

// Writes depend only on the edge that samples MOSI: modes 0 and 3 both sample on the rising edge
// and 1 and 2 on the falling one, so a write crosses those pairs intact, as it would on a real
// slave; every other pairing garbles it.
TEST(SpiModeMismatch, WritesLandOnlyWhenBothSidesSampleOnTheSameEdge) {
    for (int pcMode = 0; pcMode < protocol::kSpiModeCount; ++pcMode) {
        for (int moduleMode = 0; moduleMode < protocol::kSpiModeCount; ++moduleMode) {
            SpiBench bench;
            bench.desynchronise(pcMode, moduleMode);
            const std::uint8_t write[] = {protocol::registerNumber(Register::Green), 0x6C};
            bench.link.send(write);
            const bool sameSamplingEdge = pcMode == moduleMode || pcMode + moduleMode == 3;
            EXPECT_EQ(bench.module.registerValue(Register::Green) == 0x6C, sameSamplingEdge)
                << "pc " << pcMode << " module " << moduleMode;
        }
    }
}

TEST(SpiResetSequence, ResetFromMode2EndsWithBothSidesInMode0) {
    // What the PC's reset button does: 192 in the mode in force, 18,0 in the old mode (which the
    // reset module no longer understands), the mode-0 patterns, then 18,0 again in mode 0.
    SpiBench bench;
    bench.link.switchMode(2);
    const std::uint8_t reset[] = {protocol::command::kReset};
    bench.link.send(reset);
    EXPECT_EQ(bench.module.spiMode(), 0);
    bench.link.switchMode(0);
    bench.link.switchMode(0);

    EXPECT_EQ(bench.module.spiMode(), 0);
    const std::uint8_t write[] = {protocol::registerNumber(Register::Brightness), 70};
    bench.link.send(write);
    EXPECT_EQ(bench.readBack(Register::Brightness), 70);
}

TEST(SpiBadInput, AWriteCutShortIsDroppedAndTheModuleKeepsAnswering) {
    SpiBench bench;
    const std::uint8_t first[] = {protocol::registerNumber(Register::Brightness)};
    bench.link.send(first);
    // Four bits of the value, then chip select rises.
    for (int bit = 0; bit < 4; ++bit) {
        bench.port.writeByte(emulator::kFirstPortBase, 0xF8 | 0x04);
        bench.port.writeByte(emulator::kFirstPortBase, 0xF9 | 0x04);
    }
    bench.port.writeByte(emulator::kFirstPortBase, 0xFA);

    EXPECT_EQ(bench.module.registerValue(Register::Brightness), protocol::encodeBrightness(6));
    ASSERT_EQ(bench.log.entriesOf(LogKind::Ignored).size(), 1u);
    EXPECT_EQ(bench.log.entriesOf(LogKind::Ignored)[0].bytes, (std::vector<std::uint8_t>{19}));

    // The next byte is a first byte again, not the value of the abandoned write.
    EXPECT_EQ(bench.readBack(Register::Brightness), protocol::encodeBrightness(6));
}

TEST(SpiBadInput, UnknownFirstBytesAreLoggedAndIgnored) {
    SpiBench bench;
    const std::uint8_t noise[] = {0x09, 0x30, 0xFF, 0x17};
    bench.link.send(noise);
    EXPECT_EQ(bench.log.entriesOf(LogKind::Ignored).size(), 4u);
    EXPECT_TRUE(bench.log.entriesOf(LogKind::RegisterWrite).empty());
    EXPECT_EQ(bench.readBack(Register::Speed), 2);
}

TEST(SpiBadInput, BothPortsReachTheModuleAndOtherAddressesDoNot) {
    SpiBench bench;
    bench.link.choosePort(1);
    const std::uint8_t write[] = {protocol::registerNumber(Register::Red), 12};
    bench.link.send(write);
    EXPECT_EQ(bench.module.registerValue(Register::Red), 12);

    // A stray write elsewhere makes no edge on the module's lines.
    bench.port.writeByte(0x3BC, 0xF8);
    std::uint8_t floating = 0;
    bench.port.readByte(0x3BD, floating);
    EXPECT_EQ(floating, 0xFFu);
    EXPECT_EQ(bench.readBack(Register::Red), 12);
}

}  // namespace
}  // namespace emulator

namespace emulator {
namespace {

TEST(EmulatedPortTiming, EveryAccessTakesAtLeastTheConfiguredDelay) {
    EmulatorLog log;
    CameraModule module(log);
    SpiSlave slave(module);
    EmulatedPort::Options options;
    options.accessDelay = std::chrono::microseconds(200);
    EmulatedPort port(slave, options);
    lpt::SpiLink link(port);
    const auto start = std::chrono::steady_clock::now();
    link.wrtLPTport(0x5A);  // 17 writes
    EXPECT_GE(std::chrono::steady_clock::now() - start, 17 * options.accessDelay);
}

}  // namespace
}  // namespace emulator
