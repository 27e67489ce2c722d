// The SPI window on a recording port, with a fake clock and scripted dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <iterator>

#include "support/fakes.h"
#include "support/recording_port.h"
#include "support/window_controls.h"
#include "ui/spi_form.h"

namespace spi_window {

inline std::vector<std::uint8_t> jpegBytes(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return {data.begin(), data.end()};
}

inline std::vector<std::uint8_t> readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The SPI window on a recording port, loaded as the program loads it.
class SpiWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        // View copies go to a folder of the test's own, so leftovers can be seen.
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", tempBase.path().toLocal8Bit());
        form.setExitAction([this] { ++exits; });
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    void load() {
        form.Form_Load();
        port.clear();
    }
    template <typename T>
    T* control(const char* name) {
        return testing_support::findControl<T>(form, name);
    }
    void click(const char* name) { testing_support::clickControl(form, name); }
    void holdFrame(const std::vector<std::uint8_t>& bytes) {
        frames.storeAll(bytes);
        form.showReceivedCount();
    }

    QTemporaryDir tempBase;
    testing_support::RecordingPort port;
    lpt::SpiLink link{port};
    frames::FrameStore frames;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, frames, clock, dialogs};
    int exits = 0;
};

}  // namespace spi_window
