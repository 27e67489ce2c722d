// camctl's JPEG check on frames of any bytes: it never fails, and it calls a frame whole only when
// it starts with SOI, ends with EOI and decodes to a picture with a size.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QtGlobal>

#include "camctl/jpeg_check.h"
#include "fuzz_script.h"

namespace {

// Qt's JPEG reader is a plugin: without it nothing would decode and the target would fuzz the
// first two bytes alone. A picture Qt writes must pass.
void checkJpegPluginLoads() {
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "JPEG").write(picture);
    const QByteArray& bytes = buffer.data();
    FUZZ_CHECK(camctl::checkJpeg(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                           static_cast<std::size_t>(bytes.size())))
                   .whole());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    checkJpegPluginLoads();
    // The JPEG reader warns about each broken frame; a run of them says nothing and costs time.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const camctl::JpegCheck check = camctl::checkJpeg(std::span(data, size));
    FUZZ_CHECK(check.startsWithSoi || !check.decodes);
    FUZZ_CHECK(!check.decodes || (check.width > 0 && check.height > 0));
    return 0;
}
