// Whether a frame is a whole JPEG: SOI first, EOI last, and an image decodes from it.
#pragma once

#include <cstdint>
#include <span>

namespace camctl {

struct JpegCheck {
    bool startsWithSoi = false;
    bool endsWithEoi = false;
    bool decodes = false;
    int width = 0;
    int height = 0;

    bool whole() const { return startsWithSoi && endsWithEoi && decodes; }
};

JpegCheck checkJpeg(std::span<const std::uint8_t> frame);

}  // namespace camctl
