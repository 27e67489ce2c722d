#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/encodings.h"
#include "protocol/exchange_trace.h"
#include "protocol/registers.h"

using namespace protocol;

TEST(RegisterMap, RequestBytesAndReplyLengths) {
    // One-byte registers ask with number - 16, the 16-bit ones with number - 48.
    const std::pair<Register, int> expected[] = {
        {Register::Compression, 0}, {Register::Speed, 1},      {Register::SpiMode, 2},
        {Register::Brightness, 3},  {Register::Red, 4},        {Register::Green, 5},
        {Register::Blue, 6},        {Register::FrameWidth, 7}, {Register::FrameHeight, 8}};
    for (auto [reg, request] : expected) {
        EXPECT_EQ(requestByte(reg), request) << int(registerNumber(reg));
        EXPECT_EQ(registerForRequest(static_cast<std::uint8_t>(request)), reg);
        EXPECT_EQ(valueLength(reg), request >= 7 ? 2 : 1);
    }
    EXPECT_FALSE(registerForRequest(9).has_value());
    EXPECT_EQ(registerForNumber(0x37), Register::FrameWidth);
    EXPECT_FALSE(registerForNumber(23).has_value());
    EXPECT_FALSE(registerForNumber(54).has_value());
}

TEST(RegisterMap, CommandBytes) {
    for (int b = 0; b < 256; ++b) {
        const bool expected = b == 64 || b == 128 || b == 160 || b == 161 || b == 192;
        EXPECT_EQ(isCommand(static_cast<std::uint8_t>(b)), expected) << b;
    }
}

TEST(Encodings, CompressionBothWays) {
    EXPECT_EQ(encodeCompression(2, ColourMode::BlackAndWhite), 10);
    EXPECT_EQ(encodeCompression(6, ColourMode::Colour), 6);
    EXPECT_EQ(decodeCompression(10), (CompressionSetting{2, ColourMode::BlackAndWhite}));
    // Any bit above bit 2 reads as black-and-white; the level is the low three bits.
    EXPECT_EQ(decodeCompression(255), (CompressionSetting{7, ColourMode::BlackAndWhite}));
    EXPECT_EQ(decodeCompression(16), (CompressionSetting{0, ColourMode::BlackAndWhite}));
    EXPECT_EQ(decodeCompression(7), (CompressionSetting{7, ColourMode::Colour}));
}

TEST(Encodings, SpeedCodesHaveNoCodeEight) {
    EXPECT_EQ(speedCodeForBaud(38400), 9);
    EXPECT_EQ(speedCodeForBaud(115200), 11);
    EXPECT_EQ(speedCodeForBaud(14400), 5);
    EXPECT_FALSE(speedCodeForBaud(31250).has_value());
    EXPECT_EQ(baudForSpeedCode(9), 38400u);
    int speeds = 0;
    for (int code = 0; code < 256; ++code) {
        if (baudForSpeedCode(static_cast<std::uint8_t>(code))) {
            ++speeds;
            EXPECT_EQ(*speedCodeForBaud(*baudForSpeedCode(static_cast<std::uint8_t>(code))), code);
        }
    }
    EXPECT_EQ(speeds, 10);
    EXPECT_FALSE(baudForSpeedCode(8).has_value());
    EXPECT_FALSE(baudForSpeedCode(0).has_value());
    EXPECT_FALSE(baudForSpeedCode(12).has_value());
}

TEST(Encodings, SpiModeBrightnessAndLevels) {
    EXPECT_EQ(decodeSpiMode(2), 2);
    EXPECT_FALSE(decodeSpiMode(9).has_value());
    EXPECT_EQ(encodeBrightness(6), 60);
    EXPECT_EQ(decodeBrightness(57), 5);
    EXPECT_EQ(decodeBrightness(255), 25);
    EXPECT_EQ(encodeColourLevel(63), 252);
    EXPECT_EQ(decodeColourLevel(255), 63);
    EXPECT_EQ(decodeColourLevel(128), 32);
}

TEST(Encodings, FrameSizeBytes) {
    // The bytes each standard size goes out as, high byte first.
    struct Row {
        const char* text;
        std::uint8_t w[2];
        std::uint8_t h[2];
    };
    const Row rows[] = {{"352x288", {1, 96}, {1, 32}},
                        {"320x240", {1, 64}, {0, 240}},
                        {"176x144", {0, 176}, {0, 144}},
                        {"160x120", {0, 160}, {0, 120}}};
    for (const Row& row : rows) {
        const auto standard = standardSizeForText(row.text);
        ASSERT_TRUE(standard.has_value()) << row.text;
        EXPECT_EQ(splitWide(standard->size.width), std::pair(row.w[0], row.w[1]));
        EXPECT_EQ(splitWide(standard->size.height), std::pair(row.h[0], row.h[1]));
        const FrameSize back{joinWide(row.w[0], row.w[1]), joinWide(row.h[0], row.h[1])};
        EXPECT_EQ(standardSizeFor(back)->text, row.text);
    }
    // Only a match of all four bytes is a standard size.
    EXPECT_FALSE(standardSizeFor({joinWide(1, 0), joinWide(0, 200)}).has_value());
    EXPECT_EQ(joinWide(1, 0), 256);
    EXPECT_EQ(joinWide(255, 255), 65535);
    EXPECT_FALSE(standardSizeFor({352, 240}).has_value());
}

TEST(Encodings, ArbitrarySizeIsTakenDownToSixteensAndHeldInRange) {
    const std::pair<std::pair<std::int64_t, std::int64_t>, FrameSize> rows[] = {
        {{100, 50}, {96, 48}},
        {{1000, 1000}, {352, 320}},
        {{-50, 31}, {32, 32}},
        {{367, 319}, {352, 304}},
    };
    for (const auto& [given, written] : rows) {
        EXPECT_EQ(arbitraryFrameSize(given.first, given.second), written)
            << given.first << "x" << given.second;
    }
}

namespace {
// "HH:MM:SS.uuuuuu" followed by `rest`.
bool isStampedLine(const std::string& line, const std::string& rest) {
    constexpr std::size_t kStamp = 15;
    if (line.size() != kStamp + rest.size() || line.compare(kStamp, std::string::npos, rest) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < kStamp; ++i) {
        const char c = line[i];
        const bool separator = i == 2 || i == 5 || i == 8;
        const bool ok = separator ? c == (i == 8 ? '.' : ':') : (c >= '0' && c <= '9');
        if (!ok) {
            return false;
        }
    }
    return true;
}
}  // namespace

TEST(ExchangeTrace, LineHasTimeDirectionAndHex) {
    const std::uint8_t bytes[] = {0x37, 0x01, 0x60};
    const std::string out = formatTraceLine(Direction::ToModule, bytes);
    EXPECT_TRUE(isStampedLine(out, " -> 37 01 60")) << out;
    const std::uint8_t reply[] = {0x00, 0xF0};
    const std::string in = formatTraceLine(Direction::FromModule, reply);
    EXPECT_TRUE(isStampedLine(in, " <- 00 F0")) << in;
    EXPECT_FALSE(isStampedLine("12:34:56.1234x5 <- 00 F0", " <- 00 F0"));
}

namespace {
std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}
}  // namespace

TEST(TraceFile, LinesAFullDeviceRefusesAreCountedAndTheFirstIsToldOnce) {
    std::string error;
    auto trace = TraceFile::open("/dev/full", error);
    ASSERT_TRUE(trace) << error;
    std::vector<std::string> told;
    trace->onFirstLoss([&](const std::string& reason) { told.push_back(reason); });
    const std::uint8_t bytes[] = {0x40};
    trace->record(Direction::ToModule, bytes);
    trace->record(Direction::FromModule, bytes);
    trace->recordFault("port gone");
    EXPECT_EQ(told, std::vector<std::string>{std::strerror(ENOSPC)});
    EXPECT_EQ(trace->linesLost(), 3u);
}

// A file size limit stands in for a disk that fills up and then gets room again.
TEST(TraceFile, WritingGoesOnOnceThereIsRoomAgain) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("trace").toStdString();
    std::string error;
    auto trace = TraceFile::open(path, error);
    ASSERT_TRUE(trace) << error;
    int told = 0;
    trace->onFirstLoss([&](const std::string&) { ++told; });
    const std::uint8_t first[] = {0x01}, second[] = {0x02, 0x02, 0x02}, third[] = {0x03};

    trace->record(Direction::ToModule, first);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit full = saved;
    full.rlim_cur = std::filesystem::file_size(path) + 10;  // room for part of the next line
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    trace->record(Direction::ToModule, second);
    trace->record(Direction::ToModule, second);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    trace->record(Direction::ToModule, third);

    EXPECT_EQ(told, 1);
    EXPECT_EQ(trace->linesLost(), 2u);
    const auto lines = linesOf(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(isStampedLine(lines[0], " -> 01")) << lines[0];
    EXPECT_EQ(lines[1].size(), 10u);  // the cut line stands alone
    EXPECT_TRUE(isStampedLine(lines[2], " -> 03")) << lines[2];
}
