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
#include <QTimer>
#include <fstream>
#include <iterator>

#include "emulator/pty_line_speed.h"
#include "end_to_end/comtrak_on_emulator.h"
#include "serial/line_settings.h"
#include "serial/qt_serial_control.h"
#include "session/real_clock.h"
#include "support/compressed_clock.h"
#include "support/emulated_serial_module.h"
#include "support/fakes.h"
#include "support/window_controls.h"
#include "ui/comtrak_form.h"

namespace {

using namespace comtrak_e2e;
using Bytes = std::vector<std::uint8_t>;

TEST_F(ComtrakOnEmulator, SpeedWriteReadAndResetKeepModuleAndPcInStep) {
    EXPECT_TRUE(control.isOpen());
    EXPECT_EQ(control.baud(), 2400u);
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
    EXPECT_EQ(control.baud(), 2400u);
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
    testing_support::clickControl(twoPortWindow, "Command15");
    ASSERT_TRUE(QTest::qWaitFor([&] { return emulated.module.lineBaud() == 9600; }, 2000));

    testing_support::pickEntry(twoPortWindow, "Combo1", 2);
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

// The frame crosses the line at 115200 as both ends see it, in a quarter of its time.
class ComtrakLongFrame : public ComtrakOnEmulator {
  protected:
    ComtrakLongFrame() : ComtrakOnEmulator(frameOf(65000), {.characterTimeDivisor = 4}) {}
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
    protocol::writeRegister(link, Register::FrameWidth, 160);
    protocol::writeRegister(link, Register::FrameHeight, 120);
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

// The program's window: the line on a thread of its own with the real clock.
struct ComtrakOnItsThread {
    explicit ComtrakOnItsThread(Bytes frame)
        : emulated(comtrak_e2e::sending(std::move(frame))), control(portsFor(emulated.device)) {
        form.runLinkOnItsOwnThread([this] { clock.interrupt(); });
        form.Form_Load();
    }
    static serial::PortMap portsFor(const std::string& device) {
        serial::PortMap ports;
        ports.assign(2, device);
        return ports;
    }
    testing_support::EmulatedSerialModule emulated;
    serial::QtSerialControl control;
    session::RealClock clock;
    serial::SerialLink link{control, clock};
    frames::FrameStore frames;
    testing_support::FakeDialogs dialogs;
    ui::ComtrakForm form{control, link, frames, clock, dialogs};
};

// The frame comes in on the link's thread while the window holds capture and frame read, and
// the window's loop runs through the 3 s after a compression write; the close ends that wait at
// once and closes the line.
TEST(ComtrakWindowOnItsThread, ReceivesAFrameAndRepaintsThroughTheCompressionWait) {
    const Bytes sent = comtrak_e2e::frameOf(100);
    ComtrakOnItsThread w(sent);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.control.isOpen() && !w.form.linkBusy(); }));
    testing_support::clickControl(w.form, "Command7");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !testing_support::frameReadAgain(w.form); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return testing_support::frameReadAgain(w.form); }, 5000));
    EXPECT_TRUE(std::ranges::equal(w.frames.frame(), sent));
    EXPECT_EQ(w.form.findChild<QLineEdit*>("Text4")->text(), "100");

    testing_support::pickEntry(w.form, "Combo2", 5);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.emulated.module.registerValue(protocol::Register::Compression) == 5; }));
    bool ranWhileFrozen = false;
    QTimer::singleShot(0, &w.form, [&] { ranWhileFrozen = w.form.linkBusy(); });
    QTest::qWait(20);
    EXPECT_TRUE(ranWhileFrozen);
    w.form.close();
    EXPECT_FALSE(w.control.isOpen());
}
