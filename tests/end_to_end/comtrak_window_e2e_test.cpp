// The serial window through QSerialPort on a pseudo-terminal served by the emulated module: what
// the module hears and at which speed, what lands in the frame store and in the saved file.
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
#include "serial/line_settings.h"
#include "serial/qt_serial_control.h"
#include "support/compressed_clock.h"
#include "support/emulated_serial_module.h"
#include "support/fakes.h"
#include "ui/comtrak_form.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using protocol::Register;

std::vector<std::uint8_t> readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every byte value, then a pattern, `length` bytes in all.
Bytes frameOf(std::size_t length) {
    Bytes frame(length);
    for (std::size_t i = 0; i < length; ++i) {
        frame[i] = static_cast<std::uint8_t>((i * 131 + i / 256) % 256);
    }
    frame.front() = 0;
    frame.back() = 255;
    return frame;
}

emulator::CameraModule::Options sending(std::optional<Bytes> frame) {
    emulator::CameraModule::Options options;
    options.captureTime = std::chrono::microseconds(0);
    options.fixedFrame = std::move(frame);
    return options;
}

class ComtrakOnEmulator : public ::testing::Test {
  protected:
    explicit ComtrakOnEmulator(std::optional<Bytes> frame = std::nullopt)
        : emulated(sending(std::move(frame))), control(portsFor(emulated.device)) {}

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
    void click(const char* name) {
        auto* button = form.findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QComboBox* speedBox() { return form.findChild<QComboBox*>("Combo4"); }
    void writeSpeed(const QString& text, std::uint32_t baud) {
        speedBox()->setCurrentText(text);
        click("Command15");
        ASSERT_EQ(control.settings(), serial::lineSettingsFor(baud));
        ASSERT_TRUE(QTest::qWaitFor([&] { return emulated.module.lineBaud() == baud; }, 2000));
    }
    // Lets the window's timer run until `count` bytes are stored and nothing more comes.
    void receive(std::uint32_t count, int limitMs) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() >= count; }, limitMs))
            << frames.count() << " of " << count;
        QTest::qWait(100);
        EXPECT_EQ(frames.count(), count);
    }
    // The module hears a register write correctly only when both ends run at one speed.
    void expectLinkInStep(std::uint8_t brightness) {
        const Bytes write{protocol::registerNumber(Register::Brightness), brightness};
        link.send(write);
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

TEST_F(ComtrakOnEmulator, SpeedWriteReadAndResetKeepModuleAndPcInStep) {
    EXPECT_TRUE(control.isOpen());
    EXPECT_EQ(control.settings(), "2400,N,8,1");
    expectLinkInStep(10);

    writeSpeed("115200", 115200);
    // Heard as 17, 11: sent before the PC switched.
    EXPECT_EQ(emulated.module.registerValue(Register::Speed), 11);
    expectLinkInStep(20);

    writeSpeed(" 38400 ", 38400);
    EXPECT_EQ(emulated.module.registerValue(Register::Speed), 9);
    speedBox()->setCurrentText("1200");
    click("Command13");
    EXPECT_EQ(speedBox()->currentText(), "38400");
    EXPECT_TRUE(dialogs.warnings.empty());
    // The reply did not reach the frame store.
    QTest::qWait(20);
    EXPECT_EQ(frames.count(), 0u);

    writeSpeed("14400", 14400);
    expectLinkInStep(30);
    writeSpeed("28800", 28800);
    expectLinkInStep(40);

    click("Command3");
    EXPECT_EQ(control.settings(), "2400,N,8,1");
    EXPECT_TRUE(QTest::qWaitFor([&] { return emulated.module.lineBaud() == 2400; }, 2000));
    EXPECT_EQ(speedBox()->currentText(), "28800");
    expectLinkInStep(50);
}

TEST_F(ComtrakOnEmulator, PortChoiceAfterASpeedWriteOpensTheNewPortAtThatSpeed) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    serial::PortMap ports = portsFor(emulated.device);
    ports.assign(3, name);
    serial::QtSerialControl twoPorts(ports);
    serial::SerialLink twoPortLink(twoPorts, clock);
    ui::ComtrakForm twoPortWindow(twoPorts, twoPortLink, frames, clock, dialogs);
    form.Form_Unload();
    twoPortWindow.Form_Load();
    auto* speed = twoPortWindow.findChild<QComboBox*>("Combo4");
    speed->setCurrentText("9600");
    QTest::mouseClick(twoPortWindow.findChild<QAbstractButton*>("Command15"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return emulated.module.lineBaud() == 9600; }, 2000));

    auto* portBox = twoPortWindow.findChild<QComboBox*>("Combo1");
    portBox->setCurrentIndex(2);
    emit portBox->activated(2);
    EXPECT_TRUE(twoPorts.isOpen());
    EXPECT_EQ(emulator::ptySlaveBaud(master), 9600u);
    EXPECT_TRUE(dialogs.warnings.empty());
    twoPortWindow.Form_Unload();
    close(master);
}

class ComtrakShortFrame : public ComtrakOnEmulator {
  protected:
    ComtrakShortFrame() : ComtrakOnEmulator(frameOf(37)) {}
};

TEST_F(ComtrakShortFrame, FrameLandsIntactAndASecondReadAppends) {
    const Bytes sent = frameOf(37);
    click("Command8");
    click("Command12");
    QTest::qWait(50);
    EXPECT_EQ(frames.count(), 0u);  // the capture alone brings nothing
    click("Command7");
    receive(37, 3000);
    EXPECT_TRUE(std::ranges::equal(frames.frame(), sent));
    EXPECT_EQ(form.findChild<QLineEdit*>("Text4")->text(), "37");

    click("Command12");
    click("Command7");
    receive(74, 3000);
    EXPECT_TRUE(std::ranges::equal(frames.frame().subspan(37), sent));

    const QString path = temp.filePath("two.jpg");
    dialogs.saveAnswers = {path};
    click("Command6");
    const Bytes saved = readFile(path);
    ASSERT_EQ(saved.size(), 74u);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), saved.begin()));
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), saved.begin() + 37));
}

class ComtrakLongFrame : public ComtrakOnEmulator {
  protected:
    ComtrakLongFrame() : ComtrakOnEmulator(frameOf(65000)) {}
};

TEST_F(ComtrakLongFrame, A65000ByteFrameAt115200LandsIntact) {
    writeSpeed("115200", 115200);
    click("Command8");
    click("Command12");
    click("Command7");
    receive(65000, 20000);
    EXPECT_TRUE(std::ranges::equal(frames.frame(), frameOf(65000)));
    EXPECT_EQ(form.findChild<QLineEdit*>("Text4")->text(), "65000");
}

TEST_F(ComtrakOnEmulator, ACapturedFrameIsReadViewedAndSaved) {
    writeSpeed("115200", 115200);
    link.writeRegister(Register::FrameWidth, 160);
    link.writeRegister(Register::FrameHeight, 120);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return emulated.module.registerValue(Register::FrameHeight) == 120; }, 2000));
    click("Command8");
    click("Command12");
    ASSERT_TRUE(QTest::qWaitFor([&] { return emulated.module.framesCaptured() == 1; }, 2000));
    const Bytes sent = emulated.module.currentFrame();
    click("Command7");
    receive(static_cast<std::uint32_t>(sent.size()), 10000);

    const QString path = temp.filePath("frame.jpg");
    dialogs.saveAnswers = {path};
    click("Command6");
    EXPECT_EQ(readFile(path), sent);
    click("Command14");
    EXPECT_EQ(form.findChild<QLabel*>("Picture1")->pixmap().size(), QSize(160, 120));
}

}  // namespace
