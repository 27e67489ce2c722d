#include "emulator/frame_source.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "protocol/encodings.h"

namespace emulator {

namespace {

constexpr int kBestQuality = 90;
constexpr int kQualityStepPerLevel = 12;
constexpr int kLowestQuality = 1;
constexpr int kQualityFallbackStep = 10;

// Neutral settings: brightness 120 (step 12 of 25, the middle) adds nothing; a colour level of
// 128 (step 32 of 63, the middle) keeps the channel as it is, 0 removes it, 252 about doubles it.
constexpr int kNeutralBrightness = 120;
constexpr double kNeutralColourLevel = 128.0;

// A 3x5 digit font, one row of three bits per entry, most significant bit on the left: the frame
// number is drawn without QPainter text, which would need a QGuiApplication.
constexpr int kGlyphWidth = 3;
constexpr int kGlyphHeight = 5;
constexpr std::array<std::array<std::uint8_t, kGlyphHeight>, 10> kDigitGlyphs{{
    {7, 5, 5, 5, 7},  // 0
    {2, 6, 2, 2, 7},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 7, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {7, 4, 7, 5, 7},  // 6
    {7, 1, 1, 1, 1},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 7},  // 9
}};

int clampByte(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

void fillRect(QImage& image, int x0, int y0, int w, int h, QRgb colour) {
    const int x1 = std::min(image.width(), x0 + w);
    const int y1 = std::min(image.height(), y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = std::max(0, x0); x < x1; ++x) {
            line[x] = colour;
        }
    }
}

// The frame number in white on a black plate in the top left corner, scaled with the frame.
void drawFrameNumber(QImage& image, std::uint32_t number) {
    const std::string digits = std::to_string(number);
    const int scale = std::max(1, image.height() / 40);
    const int advance = (kGlyphWidth + 1) * scale;
    const int margin = scale;
    fillRect(image, 0, 0, margin * 2 + advance * static_cast<int>(digits.size()),
             margin * 2 + kGlyphHeight * scale, qRgb(0, 0, 0));
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const auto& glyph = kDigitGlyphs[static_cast<std::size_t>(digits[i] - '0')];
        const int left = margin + static_cast<int>(i) * advance;
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int col = 0; col < kGlyphWidth; ++col) {
                if (glyph[static_cast<std::size_t>(row)] & (1 << (kGlyphWidth - 1 - col))) {
                    fillRect(image, left + col * scale, margin + row * scale, scale, scale,
                             qRgb(255, 255, 255));
                }
            }
        }
    }
}

// Smooth colour waves that drift with the frame number and a dark ball that travels across: smooth
// areas compress well, and every frame differs visibly from the one before.
QImage syntheticScene(int width, int height, std::uint32_t frameNumber) {
    QImage image(width, height, QImage::Format_RGB32);
    const double phase = frameNumber * 0.35;
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const int ballRadius = std::max(2, std::min(width, height) / 8);
    const int travel = std::max(1, width - 2 * ballRadius);
    const int ballX =
        ballRadius + static_cast<int>((frameNumber * 7u) % static_cast<unsigned>(travel));
    const int ballY = height / 2 + static_cast<int>(std::sin(phase) * height / 4);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double fy = static_cast<double>(y) / height;
        for (int x = 0; x < width; ++x) {
            const double fx = static_cast<double>(x) / width;
            const int dx = x - ballX;
            const int dy = y - ballY;
            if (dx * dx + dy * dy <= ballRadius * ballRadius) {
                line[x] = qRgb(30, 30, 40);
                continue;
            }
            line[x] = qRgb(clampByte(128 + 100 * std::sin(kTwoPi * fx + phase)),
                           clampByte(128 + 100 * std::cos(kTwoPi * fy + phase * 0.7)),
                           clampByte(128 + 80 * std::sin(kTwoPi * (fx + fy) / 2 - phase)));
        }
    }
    drawFrameNumber(image, frameNumber);
    return image;
}

// Eight vertical bars at 75 % amplitude: white, yellow, cyan, green, magenta, red, blue, black.
// The test pattern is fixed so the PC side can check the link against a known picture; it does
// not go through brightness and colour levels.
QImage colourBars(int width, int height) {
    constexpr int kLevel = 191;
    constexpr std::array<QRgb, 8> kBars{qRgb(kLevel, kLevel, kLevel), qRgb(kLevel, kLevel, 0),
                                        qRgb(0, kLevel, kLevel),      qRgb(0, kLevel, 0),
                                        qRgb(kLevel, 0, kLevel),      qRgb(kLevel, 0, 0),
                                        qRgb(0, 0, kLevel),           qRgb(0, 0, 0)};
    QImage image(width, height, QImage::Format_RGB32);
    for (int x = 0; x < width; ++x) {
        fillRect(image, x, 0, 1, height,
                 kBars[static_cast<std::size_t>(x * static_cast<int>(kBars.size()) / width)]);
    }
    return image;
}

// Brightness adds an offset to every channel; R, G and B scale their channel.
void applyLevels(QImage& image, const FrameRequest& request) {
    const int offset = request.brightnessRegister - kNeutralBrightness;
    const double red = request.redRegister / kNeutralColourLevel;
    const double green = request.greenRegister / kNeutralColourLevel;
    const double blue = request.blueRegister / kNeutralColourLevel;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgb(clampByte(qRed(p) * red + offset), clampByte(qGreen(p) * green + offset),
                           clampByte(qBlue(p) * blue + offset));
        }
    }
}

std::vector<std::uint8_t> encodeJpeg(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(false);  // baseline: what a camera module's encoder makes
    writer.setOptimizedWrite(false);
    writer.write(image);
    return {bytes.begin(), bytes.end()};
}

}  // namespace

FrameGeometry clampedGeometry(std::uint16_t widthRegister, std::uint16_t heightRegister) {
    return {std::clamp<int>(widthRegister, kMinFrameSide, kMaxFrameWidth),
            std::clamp<int>(heightRegister, kMinFrameSide, kMaxFrameHeight)};
}

int qualityForLevel(int level) {
    return std::max(kLowestQuality, kBestQuality - kQualityStepPerLevel * level);
}

EncodedFrame makeFrame(const FrameRequest& request) {
    const FrameGeometry size = clampedGeometry(request.widthRegister, request.heightRegister);
    QImage image;
    if (request.testMode) {
        image = colourBars(size.width, size.height);
    } else {
        image = syntheticScene(size.width, size.height, request.frameNumber);
        applyLevels(image, request);
    }
    // The window's read-back decodes the register the same way, so the colour box and the
    // frames agree whatever value was written (a typed 16 is black-and-white on both sides).
    const protocol::CompressionSetting compression =
        protocol::decodeCompression(request.compressionRegister);
    if (compression.mode == protocol::ColourMode::BlackAndWhite) {
        // An 8-bit greyscale image makes Qt's writer emit a one-component JPEG.
        image = image.convertToFormat(QImage::Format_Grayscale8);
    }

    // A busy picture at a fine level may not fit the PC's limit: step the quality down until it
    // does, as a module's rate control would.
    int quality = qualityForLevel(compression.level);
    std::vector<std::uint8_t> jpeg = encodeJpeg(image, quality);
    while (jpeg.size() > protocol::kMaxFrameBytes && quality > kLowestQuality) {
        quality = std::max(kLowestQuality, quality - kQualityFallbackStep);
        jpeg = encodeJpeg(image, quality);
    }
    return {std::move(jpeg), quality};
}

}  // namespace emulator
