#include "camctl/jpeg_check.h"

#include <QByteArray>
#include <QImage>

namespace camctl {

JpegCheck checkJpeg(std::span<const std::uint8_t> frame) {
    JpegCheck check;
    const std::size_t n = frame.size();
    check.startsWithSoi = n >= 2 && frame[0] == 0xFF && frame[1] == 0xD8;
    check.endsWithEoi = n >= 4 && frame[n - 2] == 0xFF && frame[n - 1] == 0xD9;
    if (check.startsWithSoi) {
        const QImage image =
            QImage::fromData(QByteArray::fromRawData(reinterpret_cast<const char*>(frame.data()),
                                                     static_cast<qsizetype>(n)),
                             "JPEG");
        check.decodes = !image.isNull();
        check.width = image.width();
        check.height = image.height();
    }
    return check;
}

}  // namespace camctl
