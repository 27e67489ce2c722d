// The module's frames: real baseline JPEG of the configured size and colour mode, under the PC's
// download limit at every setting, with the settings visible in the pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <optional>

#include "emulator/frame_source.h"
#include "emulator_test_support.h"
#include "protocol/encodings.h"

namespace emulator {
namespace {

QImage decode(const std::vector<std::uint8_t>& jpeg) {
    QImage image;
    image.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPEG");
    return image;
}

// The frame header of a JPEG stream: which start-of-frame marker and how many components.
struct FrameHeader {
    std::uint8_t marker;
    int components;
};
std::optional<FrameHeader> frameHeader(const std::vector<std::uint8_t>& jpeg) {
    std::size_t i = 2;  // after SOI
    while (i + 9 < jpeg.size()) {
        if (jpeg[i] != 0xFF) {
            return std::nullopt;
        }
        const std::uint8_t marker = jpeg[i + 1];
        const std::size_t length = jpeg[i + 2] * 256u + jpeg[i + 3];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            return FrameHeader{marker, jpeg[i + 9]};
        }
        i += 2 + length;
    }
    return std::nullopt;
}

FrameRequest requestFor(protocol::FrameSize size, std::uint8_t compression, bool testMode) {
    FrameRequest r;
    r.widthRegister = size.width;
    r.heightRegister = size.height;
    r.compressionRegister = compression;
    r.brightnessRegister = 120;
    r.redRegister = r.greenRegister = r.blueRegister = 128;
    r.testMode = testMode;
    r.frameNumber = 7;
    return r;
}

double meanOf(const QImage& image, int (*channel)(QRgb)) {
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            sum += channel(image.pixel(x, y));
        }
    }
    return sum / (image.width() * image.height());
}

TEST(FrameSource, EveryStandardSizeDecodesToItsSizeAndColourModeUnderTheLimit) {
    for (const auto& standard : protocol::kStandardFrameSizes) {
        for (bool testMode : {false, true}) {
            for (auto colour :
                 {protocol::ColourMode::Colour, protocol::ColourMode::BlackAndWhite}) {
                for (std::uint8_t level = 0; level <= protocol::kMaxCompressionLevel; ++level) {
                    const std::uint8_t compression = *protocol::encodeCompression(level, colour);
                    const EncodedFrame frame =
                        makeFrame(requestFor(standard.size, compression, testMode));
                    SCOPED_TRACE(std::string(standard.text) + (testMode ? " bars" : " scene") +
                                 " compression " + std::to_string(compression));
                    EXPECT_LE(frame.jpeg.size(), protocol::kMaxFrameBytes);
                    const QImage image = decode(frame.jpeg);
                    ASSERT_FALSE(image.isNull());
                    EXPECT_EQ(image.width(), standard.size.width);
                    EXPECT_EQ(image.height(), standard.size.height);
                    const auto header = frameHeader(frame.jpeg);
                    ASSERT_TRUE(header.has_value());
                    EXPECT_EQ(header->marker, 0xC0) << "baseline";
                    const bool grey = colour == protocol::ColourMode::BlackAndWhite;
                    EXPECT_EQ(header->components, grey ? 1 : 3);
                    EXPECT_EQ(image.isGrayscale(), grey);
                    EXPECT_EQ(frame.quality, qualityForLevel(level));
                }
            }
        }
    }
}

TEST(FrameSource, AbsurdSizesAreClampedAndStillFit) {
    struct Case {
        protocol::FrameSize registers;
        int width;
        int height;
    };
    const Case cases[] = {
        {{65535, 65535}, kMaxFrameWidth, kMaxFrameHeight},
        {{0, 0}, kMinFrameSide, kMinFrameSide},
        {{256, 200}, 256, 200},
        {{1, 4000}, kMinFrameSide, kMaxFrameHeight},
        {{33, 17}, 33, 17},
    };
    for (const Case& c : cases) {
        for (bool testMode : {false, true}) {
            // Level 0 in colour is the largest frame the module makes.
            const EncodedFrame frame = makeFrame(requestFor(c.registers, 0, testMode));
            SCOPED_TRACE(std::to_string(c.registers.width) + "x" +
                         std::to_string(c.registers.height));
            EXPECT_LE(frame.jpeg.size(), protocol::kMaxFrameBytes);
            const QImage image = decode(frame.jpeg);
            EXPECT_EQ(image.width(), c.width);
            EXPECT_EQ(image.height(), c.height);
        }
    }
}

TEST(FrameSource, HigherCompressionLevelsGiveSmallerFrames) {
    const protocol::FrameSize size{352, 288};
    std::size_t previous = SIZE_MAX;
    for (std::uint8_t level = 0; level <= protocol::kMaxCompressionLevel; ++level) {
        const std::size_t bytes = makeFrame(requestFor(size, level, false)).jpeg.size();
        EXPECT_LT(bytes, previous) << "level " << int(level);
        previous = bytes;
    }
}

TEST(FrameSource, BrightnessAndColourLevelsChangeThePixels) {
    const protocol::FrameSize size{160, 120};
    FrameRequest dark = requestFor(size, 0, false);
    dark.brightnessRegister = 0;
    FrameRequest bright = dark;
    bright.brightnessRegister = 250;
    EXPECT_GT(meanOf(decode(makeFrame(bright).jpeg), qGreen),
              meanOf(decode(makeFrame(dark).jpeg), qGreen) + 100);

    FrameRequest noRed = requestFor(size, 0, false);
    noRed.redRegister = 0;
    const QImage withoutRed = decode(makeFrame(noRed).jpeg);
    const QImage neutral = decode(makeFrame(requestFor(size, 0, false)).jpeg);
    EXPECT_LT(meanOf(withoutRed, qRed), 20);
    EXPECT_GT(meanOf(neutral, qRed), 80);
    EXPECT_NEAR(meanOf(withoutRed, qBlue), meanOf(neutral, qBlue), 8) << "blue untouched";
}

TEST(FrameSource, TheSceneMovesFromFrameToFrameAndTheBarsDoNot) {
    const protocol::FrameSize size{176, 144};
    FrameRequest first = requestFor(size, 0, false);
    FrameRequest second = first;
    second.frameNumber = first.frameNumber + 1;
    EXPECT_NE(decode(makeFrame(first).jpeg), decode(makeFrame(second).jpeg));

    first.testMode = second.testMode = true;
    const QImage bars = decode(makeFrame(first).jpeg);
    EXPECT_EQ(makeFrame(first).jpeg, makeFrame(second).jpeg);
    // Centre of the first bar (white) and of the sixth (red), 75 % amplitude.
    const QRgb white = bars.pixel(size.width / 16, size.height / 2);
    const QRgb red = bars.pixel(size.width * 11 / 16, size.height / 2);
    EXPECT_NEAR(qRed(white), 191, 12);
    EXPECT_NEAR(qBlue(white), 191, 12);
    EXPECT_NEAR(qRed(red), 191, 12);
    EXPECT_LT(qGreen(red), 25);
}

// Through the module's own registers and commands: what the PC sets is what the frame shows.
TEST(FrameSource, ACaptureUsesTheRegistersTheModuleHolds) {
    EmulatorLog log;
    testing::ManualClock clock;
    CameraModule module(log, testing::optionsWith(clock));
    const std::uint8_t bytes[] = {55, 0, 176, 56, 0, 144, 16, 8 + 2, protocol::command::kCapture};
    for (std::uint8_t b : bytes) {
        module.receive(b);
    }
    const QImage image = decode(module.currentFrame());
    EXPECT_EQ(image.size(), QSize(176, 144));
    EXPECT_TRUE(image.isGrayscale());
    EXPECT_EQ(module.framesCaptured(), 1u);
}

}  // namespace
}  // namespace emulator
