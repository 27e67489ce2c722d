// The module's picture: a baseline JPEG made from the register settings. Colour bars in test
// mode, otherwise a synthetic scene that moves from frame to frame with the frame number drawn
// in. Pure: the same request always gives the same bytes. Needs no QGuiApplication.
#pragma once

#include <cstdint>
#include <vector>

namespace emulator {

// Everything a frame depends on, as the module's registers and state hold it.
struct FrameRequest {
    std::uint16_t widthRegister = 0;
    std::uint16_t heightRegister = 0;
    std::uint8_t compressionRegister = 0;  // as protocol::decodeCompression reads it
    std::uint8_t brightnessRegister = 0;
    std::uint8_t redRegister = 0;
    std::uint8_t greenRegister = 0;
    std::uint8_t blueRegister = 0;
    bool testMode = false;
    std::uint32_t frameNumber = 0;
};

// Frame sides the module can make. The sensor is VGA: a register asking for more gets the
// largest side the sensor has, and a register asking for less than one 16x16 macroblock (0
// included) gets one macroblock. Sizes in between are made exactly, multiple of 16 or not.
inline constexpr int kMinFrameSide = 16;
inline constexpr int kMaxFrameWidth = 640;
inline constexpr int kMaxFrameHeight = 480;

struct FrameGeometry {
    int width;
    int height;
};
FrameGeometry clampedGeometry(std::uint16_t widthRegister, std::uint16_t heightRegister);

// JPEG quality for a compression level 0..7. Level 0 is the finest, each level coarser by 12:
// 0 -> 90, 1 -> 78, 2 -> 66, 3 -> 54, 4 -> 42, 5 -> 30, 6 -> 18, 7 -> 6 (7 is never in the
// compression list but the register can hold it).
int qualityForLevel(int level);

struct EncodedFrame {
    std::vector<std::uint8_t> jpeg;
    int quality;  // the quality actually used: lower than the level's when the frame had not fit
};

EncodedFrame makeFrame(const FrameRequest& request);

}  // namespace emulator
