// The serial window through QSerialPort on a pseudo-terminal served by the emulated module.
#pragma once

#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <iterator>

#include "emulator/pty_line_speed.h"
#include "protocol/wire.h"
#include "serial/line_settings.h"
#include "serial/qt_serial_control.h"
#include "support/compressed_clock.h"
#include "support/emulated_serial_module.h"
#include "support/fakes.h"
#include "support/window_controls.h"
#include "ui/comtrak_form.h"

namespace comtrak_e2e {

using Bytes = std::vector<std::uint8_t>;
using protocol::Register;

inline std::vector<std::uint8_t> readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte value, then a pattern, `length` bytes in all.
inline Bytes frameOf(std::size_t length) {
    Bytes frame(length);
    for (std::size_t i = 0; i < length; ++i) {
        frame[i] = static_cast<std::uint8_t>((i * 131 + i / 256) % 256);
    }
    frame.front() = 0;
    frame.back() = 255;
    return frame;
}

inline emulator::CameraModule::Options sending(std::optional<Bytes> frame) {
    emulator::CameraModule::Options options;
    options.captureTime = std::chrono::microseconds(0);
    options.fixedFrame = std::move(frame);
    return options;
}

class ComtrakOnEmulator : public ::testing::Test {
  protected:
    explicit ComtrakOnEmulator(std::optional<Bytes> frame = std::nullopt,
                               emulator::SerialPeer::Options peerOptions = {})
        : emulated(sending(std::move(frame)), peerOptions), control(portsFor(emulated.device)) {
        emulated.pace(clock);
    }

    void SetUp() override {
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        form.setExitAction([] {});
        form.Form_Load();
        ASSERT_TRUE(dialogs.warnings.empty());
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    static serial::PortMap portsFor(const std::string& device) {
        serial::PortMap ports;
        ports.assign(2, device);
        return ports;
    }
    void click(const char* name) { testing_support::clickControl(form, name); }
    QComboBox* speedBox() { return form.findChild<QComboBox*>("Combo4"); }
    void writeSpeed(const QString& text, std::uint32_t baud) {
        speedBox()->setCurrentText(text);
        click("Command15");
        ASSERT_EQ(control.baud(), baud);
        ASSERT_TRUE(QTest::qWaitFor([&] { return emulated.module.lineBaud() == baud; }, 2000));
    }
    // Lets the window's timer run until `count` bytes are stored and the window has seen the
    // frame end (a frame read may be clicked again).
    void receive(std::uint32_t count, int limitMs) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() >= count; }, limitMs))
            << frames.count() << " of " << count;
        ASSERT_TRUE(QTest::qWaitFor([&] { return testing_support::frameReadAgain(form); }, 2000));
        EXPECT_EQ(frames.count(), count);
    }
    // The module hears a register write correctly only when both ends run at one speed.
    void expectLinkInStep(std::uint8_t brightness) {
        protocol::writeRegister(link, Register::Brightness, brightness);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return emulated.module.registerValue(Register::Brightness) == brightness; },
            2000));
    }

    QTemporaryDir temp;
    testing_support::EmulatedSerialModule emulated;
    serial::QtSerialControl control;
    // A second's wait really lets the emulator's thread run for a quarter of one: long enough
    // for it to have read what was sent before the PC's speed changes, even on a loaded machine.
    testing_support::CompressedClock clock{std::chrono::milliseconds(250)};
    serial::SerialLink link{control, clock};
    frames::FrameStore frames;
    testing_support::FakeDialogs dialogs;
    ui::ComtrakForm form{control, link, frames, clock, dialogs};
};

}  // namespace comtrak_e2e
