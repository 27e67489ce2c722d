// The module's state machine on its own: what it logs, and what reset and a frame read without a
// capture leave behind.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "emulator_test_support.h"
#include "protocol/encodings.h"
#include "protocol/registers.h"

namespace emulator {
namespace {

using protocol::Register;

void feed(CameraModule& module, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        module.receive(static_cast<std::uint8_t>(b));
    }
}

std::vector<std::uint8_t> drain(CameraModule& module) {
    std::vector<std::uint8_t> out;
    while (module.hasOutgoing()) {
        out.push_back(module.takeOutgoing().value);
        module.outgoingByteFinished();
    }
    return out;
}

TEST(CameraModuleLog, TheFileHoldsOneLinePerExchangeWithItsBytes) {
    QTemporaryDir dir;
    const QString path = dir.filePath("emulator.log");
    EmulatorLog log;
    std::string error;
    ASSERT_TRUE(log.openFile(path.toStdString(), error)) << error;
    CameraModule module(log);
    feed(module, {19, 100, 3, 0x99});

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith("write 13 64 : register 19: 60 -> 100"))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("request 03 64 : register 19")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains("ignored 99")) << lines[2].toStdString();
}

TEST(CameraModuleCommands, AFrameReadBeforeAnyCaptureSendsAFreshFrame) {
    EmulatorLog log;
    testing::ManualClock clock;
    CameraModule module(log, testing::optionsWith(clock));
    feed(module, {protocol::command::kFrameRead});
    const std::vector<std::uint8_t> sent = drain(module);
    EXPECT_EQ(module.framesCaptured(), 1u);
    EXPECT_EQ(sent, module.currentFrame());
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(sent[0], 0xFF);
    EXPECT_EQ(sent[1], 0xD8);
}

TEST(CameraModuleCommands, ResetRestoresModeAndSpeedAndDropsWhatWasQueued) {
    EmulatorLog log;
    testing::ManualClock clock;
    CameraModule module(log, testing::optionsWith(clock));
    feed(module,
         {18, 2, 17, 11, 160, 19, 250, protocol::command::kCapture, protocol::command::kFrameRead});
    ASSERT_FALSE(module.ready());
    // Half a register write is pending when the reset comes: the reset is taken as its value
    // byte, as a module parsing bytes would; the next reset is a reset.
    feed(module, {20, protocol::command::kReset});
    EXPECT_EQ(module.registerValue(Register::Red), protocol::command::kReset);
    feed(module, {protocol::command::kReset});

    EXPECT_EQ(module.spiMode(), 0);
    EXPECT_EQ(module.lineBaud(), 2400u);
    EXPECT_FALSE(module.testMode());
    EXPECT_EQ(module.registerValue(Register::Brightness), protocol::encodeBrightness(6));
    EXPECT_TRUE(module.ready()) << "no frame left to send, no capture running";
    EXPECT_TRUE(drain(module).empty());
}

// A capture drops the rest of the frame going out: the next frame read sends the new frame whole.
TEST(CameraModuleCommands, ACaptureDropsTheRestOfTheFrameGoingOut) {
    EmulatorLog log;
    testing::ManualClock clock;
    CameraModule module(log, testing::optionsWith(clock));
    feed(module, {protocol::command::kCapture, protocol::command::kFrameRead});
    module.takeOutgoing();
    feed(module, {protocol::command::kCapture, protocol::command::kFrameRead});
    EXPECT_EQ(drain(module), module.currentFrame());
}

// A fresh module and a reset one answer every read-back with what the windows show at start, and
// the first frame has the size shown there.
TEST(CameraModuleCommands, StartsAndResetsToTheSettingsTheWindowsShowAtStart) {
    const std::pair<Register, std::vector<std::uint8_t>> shown[] = {
        {Register::Compression, {*protocol::encodeCompression(2, protocol::ColourMode::Colour)}},
        {Register::Speed, {2}},
        {Register::SpiMode, {0}},
        {Register::Brightness, {protocol::encodeBrightness(6)}},
        {Register::Red, {protocol::encodeColourLevel(31)}},
        {Register::Green, {protocol::encodeColourLevel(31)}},
        {Register::Blue, {protocol::encodeColourLevel(31)}},
        {Register::FrameWidth, {352 >> 8, 352 & 0xFF}},
        {Register::FrameHeight, {288 >> 8, 288 & 0xFF}},
    };
    EmulatorLog log;
    testing::ManualClock clock;
    CameraModule module(log, testing::optionsWith(clock));
    for (const char* when : {"fresh", "after reset"}) {
        SCOPED_TRACE(when);
        for (const auto& [reg, reply] : shown) {
            module.receive(protocol::requestByte(reg));
            EXPECT_EQ(drain(module), reply) << int(protocol::registerNumber(reg));
        }
        EXPECT_EQ(module.spiMode(), 0);
        EXPECT_EQ(module.lineBaud(), 2400u);
        feed(module, {protocol::command::kFrameRead});
        const std::vector<std::uint8_t> frame = drain(module);
        EXPECT_EQ(QImage::fromData(frame.data(), static_cast<int>(frame.size())).size(),
                  QSize(352, 288));

        // Every register away from its start value, then the reset.
        feed(module, {16, 13, 17, 4, 18, 3, 19, 200, 20, 8, 21, 8, 22, 8, 55, 0, 160, 56, 0, 120});
        feed(module, {protocol::command::kReset});
    }
}

TEST(CameraModuleCommands, ValuesWithoutAMeaningAreHeldButChangeNoPort) {
    EmulatorLog log;
    CameraModule module(log);
    feed(module, {18, 7, 17, 8, 2});
    EXPECT_EQ(module.spiMode(), 0);
    EXPECT_EQ(module.lineBaud(), 2400u);
    EXPECT_EQ(drain(module), (std::vector<std::uint8_t>{7}));
    feed(module, {1});
    EXPECT_EQ(drain(module), (std::vector<std::uint8_t>{8}));
}

// A PC that repeats a command faster than the module can answer it must not make the module queue
// an answer per repetition: a frame read while a frame is going out is ignored, and replies stop
// at the reply queue's limit.
TEST(CameraModuleFlood, WhatIsQueuedStaysBoundedWhateverThePcRepeats) {
    const std::vector<std::uint8_t> frame{0xFF, 0xD8, 0x01, 0x02, 0xFF, 0xD9};
    struct Flood {
        const char* name;
        std::uint8_t byte;
        std::size_t mostQueued;
    };
    const Flood floods[] = {
        {"frame read", protocol::command::kFrameRead, frame.size()},
        {"two-byte request", protocol::requestByte(Register::FrameWidth),
         CameraModule::kReplyQueueLimit},
    };
    for (const Flood& flood : floods) {
        SCOPED_TRACE(flood.name);
        EmulatorLog log;
        testing::ManualClock clock;
        CameraModule module(log, testing::optionsWith(clock, frame));
        feed(module, {protocol::command::kCapture});
        for (int i = 0; i < 20000; ++i) {
            module.receive(flood.byte);
        }
        EXPECT_LE(drain(module).size(), flood.mostQueued);
        EXPECT_FALSE(log.entriesOf(LogKind::Ignored).empty()) << "what was dropped is logged";
    }
}

}  // namespace
}  // namespace emulator
