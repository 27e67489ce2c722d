#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include "ui/spi_window.h"
#include "ui/status_indicator.h"

using spi_window::SpiWindow;
using ::testing::ElementsAreArray;
using testing_support::PortAccess;

namespace {

using Bytes = std::vector<std::uint8_t>;

void appendByteWrite(Bytes& out, std::uint8_t value, const lpt::SpiModePatterns& p) {
    for (int bit = 7; bit >= 0; --bit) {
        const std::uint8_t line = (value >> bit) & 1 ? 4 : 0;
        out.push_back(p.setup + line);
        out.push_back(p.sample + line);
    }
    out.push_back(p.idle);
}

class SpiFrameWindow : public SpiWindow {
  protected:
    QLabel* indicator() { return control<QLabel>("Label3"); }
    QColor indicatorColour() { return indicator()->palette().color(QPalette::Window); }
    QTimer* timer() { return form.findChild<QTimer*>("Timer1"); }

    // A module that sends `length` bytes 0, 1, 2... and raises ready at the last one's 8th bit.
    void moduleSends(std::size_t length) {
        port.setResponder([length](std::uint16_t, std::size_t read) -> std::uint8_t {
            const std::size_t byteIndex = read / 8;
            const int bit = 7 - static_cast<int>(read % 8);
            std::uint8_t status = ((static_cast<std::uint8_t>(byteIndex) >> bit) & 1) ? 0x20 : 0;
            if (byteIndex + 1 == length && read % 8 == 7) {
                status |= 0x80;
            }
            return status;
        });
    }
};

}  // namespace

TEST_F(SpiFrameWindow, ReadFrameSendsTheCommandThenDownloadsAndCounts) {
    load();
    EXPECT_TRUE(timer()->isActive());
    EXPECT_LE(timer()->interval(), 16);  // at most 64 status reads a second
    moduleSends(300);
    clock.stepPerLook = std::chrono::milliseconds(1);
    bool tickReadNothing = false;
    QString busyCaption;
    clock.duringYield = [&] {
        // A tick during the download reads no status between its reads.
        const std::size_t reads = port.readCount();
        form.Timer1_Timer();
        tickReadNothing = port.readCount() == reads;
        busyCaption = indicator()->text();
    };
    click("Command7");

    // 128 goes out first, then the first byte is clocked in at once.
    Bytes expected;
    appendByteWrite(expected, 128, lpt::kModePatterns[0]);
    const Bytes writes = port.writtenValues();
    ASSERT_GT(writes.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), writes.begin()));
    EXPECT_EQ(port.accesses()[17].kind, PortAccess::Kind::Write);
    EXPECT_EQ(port.accesses()[18].kind, PortAccess::Kind::Read);

    EXPECT_EQ(frames.count(), 300u);
    EXPECT_EQ(frames.frame()[255], 255);
    EXPECT_EQ(control<QLineEdit>("Text4")->text(), "300");
    EXPECT_GT(clock.yields, 0);
    EXPECT_TRUE(tickReadNothing);
    EXPECT_EQ(busyCaption, "BUSY");
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(indicator()->text(), "READY");
    EXPECT_EQ(indicatorColour(), QColor(0, 255, 0));
}

TEST_F(SpiFrameWindow, DownloadAtTheLimitTouchesNoPort) {
    load();
    holdFrame(Bytes(65000, 7));
    form.readFrameLPTport();
    EXPECT_TRUE(port.accesses().empty());
    EXPECT_EQ(frames.count(), 65000u);
    EXPECT_EQ(control<QLineEdit>("Text4")->text(), "65000");
    EXPECT_EQ(indicator()->text(), "READY");
    EXPECT_TRUE(timer()->isActive());
}

TEST_F(SpiFrameWindow, StatusPollFollowsTheReadyFlag) {
    load();
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0x80, "READY"}, {0x7F, "BUSY"}, {0xFF, "READY"}, {0x00, "BUSY"}};
    for (auto [status, caption] : cases) {
        port.queueStatus({status});
        form.Timer1_Timer();
        EXPECT_EQ(indicator()->text(), caption) << int(status);
        EXPECT_EQ(indicatorColour(),
                  QString(caption) == "READY" ? QColor(0, 255, 0) : QColor(255, 0, 0));
    }
    // The poll only reads: no clock edge, no chip-select change.
    EXPECT_EQ(port.readCount(), 4u);
    EXPECT_TRUE(port.writtenValues().empty());
    EXPECT_EQ(port.accesses().back().address, 0x379);
}

TEST_F(SpiFrameWindow, ResetFromModeTwoExactSequence) {
    load();
    click("Option3");
    port.clear();
    click("Command3");

    const auto& mode2 = lpt::kModePatterns[2];
    const auto& mode0 = lpt::kModePatterns[0];
    Bytes expected;
    appendByteWrite(expected, 192, mode2);
    appendByteWrite(expected, 18, mode2);  // the selection change: mode 0 told in mode 2
    appendByteWrite(expected, 0, mode2);
    expected.push_back(250);
    appendByteWrite(expected, 18, mode0);  // the direct call: mode 0 told in mode 0
    appendByteWrite(expected, 0, mode0);
    expected.push_back(250);
    EXPECT_THAT(port.writtenValues(), ElementsAreArray(expected));
    EXPECT_TRUE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_EQ(link.patterns(), mode0);
}

TEST_F(SpiFrameWindow, CaptureSendsOnlyTheCommand) {
    load();
    click("Command12");
    Bytes expected;
    appendByteWrite(expected, 64, lpt::kModePatterns[0]);
    EXPECT_THAT(port.writtenValues(), ElementsAreArray(expected));
    EXPECT_EQ(port.readCount(), 0u);
    EXPECT_TRUE(indicator()->text().isEmpty());
}

TEST_F(SpiFrameWindow, SecondReadDuringADownloadStartsNothing) {
    load();
    moduleSends(200);
    clock.stepPerLook = std::chrono::milliseconds(1);
    int clicks = 0;
    clock.duringYield = [&] {
        if (clicks++ == 0) {
            click("Command7");
        }
    };
    click("Command7");
    // One frame-read command only, and the one download stored the whole frame.
    Bytes commandFrame;
    appendByteWrite(commandFrame, 128, lpt::kModePatterns[0]);
    const Bytes writes = port.writtenValues();
    EXPECT_EQ(writes.size(), 17u + 200 * 17);
    EXPECT_EQ(frames.count(), 200u);
    EXPECT_EQ(port.readCount(), 200u * 8);
}

TEST_F(SpiFrameWindow, ClosingDuringADownloadStopsItAndPortAccessOnce) {
    load();
    form.show();
    moduleSends(5000);
    clock.stepPerLook = std::chrono::milliseconds(1);
    std::size_t accessesAtClose = 0;
    clock.duringYield = [&] {
        if (frames.count() > 100 && accessesAtClose == 0) {
            form.close();
            accessesAtClose = port.accesses().size();
        }
    };
    click("Command7");
    ASSERT_GT(accessesAtClose, 0u);
    EXPECT_EQ(port.accesses().size(), accessesAtClose);  // not one access after the stop
    EXPECT_EQ(port.shutdownCalls(), 1);
    EXPECT_LT(frames.count(), 5000u);
    EXPECT_FALSE(timer()->isActive());
    form.Timer1_Timer();  // a tick already queued does nothing either
    EXPECT_EQ(port.accesses().size(), accessesAtClose);
}

TEST(StatusIndicatorColours, WindowsColourValues) {
    EXPECT_EQ(ui::fromWindowsColour(255), QColor(255, 0, 0));
    EXPECT_EQ(ui::fromWindowsColour(65280), QColor(0, 255, 0));
    EXPECT_EQ(ui::fromWindowsColour(0xFF0000), QColor(0, 0, 255));
}

TEST_F(SpiFrameWindow, ClicksDuringADownloadAreNotTakenAndTheControlsSayso) {
    load();
    moduleSends(300);
    clock.stepPerLook = std::chrono::milliseconds(1);
    // Buttons that talk to the module or clear the store, and the settings controls, are
    // disabled; viewing, saving and exiting stay usable.
    const char* refused[] = {"Command10", "Command8", "Command12", "Option2", "Combo2", "Slider2"};
    const char* usable[] = {"Command14", "Command6", "Command5", "Check1"};
    int yields = 0;
    clock.duringYield = [&] {
        if (yields++ != 0) {
            return;
        }
        for (const char* name : refused) {
            EXPECT_FALSE(control<QWidget>(name)->isEnabled()) << name;
        }
        for (const char* name : usable) {
            EXPECT_TRUE(control<QWidget>(name)->isEnabled()) << name;
        }
        click("Command10");  // the levels read-back: four queries inside the frame
        click("Command8");
        click("Option2");
    };
    click("Command7");

    ASSERT_GT(yields, 0);
    EXPECT_EQ(frames.count(), 300u);
    for (std::size_t i = 0; i < 300; ++i) {
        ASSERT_EQ(frames.frame()[i], static_cast<std::uint8_t>(i)) << i;
    }
    // The frame-read command and the download's own clocking, nothing else.
    EXPECT_EQ(port.writtenValues().size(), 17u + 300 * 17);
    for (const char* name : refused) {
        EXPECT_TRUE(control<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(dialogs.warnings.empty());
}

TEST_F(SpiFrameWindow, ALinkLostMidFrameKeepsTheRealBytesAndSaysSoOnce) {
    load();
    moduleSends(300);
    // The command byte is 17 writes, each byte 17 writes and 8 reads: the port goes away inside
    // the 101st byte.
    port.failFrom(17 + 100 * 25 + 9,
                  "port socket /tmp/cam.sock: the simulator closed the connection");
    click("Command7");

    EXPECT_EQ(frames.count(), 100u);
    EXPECT_EQ(frames.frame()[99], 99);
    EXPECT_EQ(frames.frame()[100], 0);  // nothing made up behind them
    EXPECT_EQ(control<QLineEdit>("Text4")->text(), "100");
    EXPECT_EQ(port.failedAccesses(), 1u);  // no access after the one that failed
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_EQ(dialogs.warnings[0].title, "Связь с модулем");
    EXPECT_TRUE(dialogs.warnings[0].text.contains(
        "Сообщение системы: port socket /tmp/cam.sock: the simulator closed the connection"));
    EXPECT_EQ(indicator()->text(), "НЕТ СВЯЗИ");
    EXPECT_TRUE(timer()->isActive());
    // The poll makes no access on a lost port and does not call the module ready.
    const std::size_t accesses = port.accesses().size();
    form.Timer1_Timer();
    EXPECT_EQ(port.accesses().size(), accesses);
    EXPECT_EQ(indicator()->text(), "НЕТ СВЯЗИ");

    // The next operation asks the port back first; once it is back, the operation goes out.
    click("Command12");
    EXPECT_EQ(port.restartCalls(), 1);
    EXPECT_EQ(port.accesses().size(), accesses + 17);
    EXPECT_EQ(dialogs.warnings.size(), 1u);
}

TEST_F(SpiFrameWindow, APortThatDoesNotComeBackIsToldOnceWithoutAnAccess) {
    load();
    port.failFrom(0, "no parallel port device");
    click("Command12");
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_EQ(dialogs.warnings[0].text,
              "Связь с модулем прервана, операция не выполнена.\nLPT1: ошибка порта.\n"
              "Сообщение системы: no parallel port device");
    port.setRestartResult(false, "cannot reconnect to port socket /tmp/cam.sock: No such file");
    const std::size_t failed = port.failedAccesses();
    click("Command7");
    click("Command9");  // a read-back on a link that is down
    for (int step = 0; step < 5; ++step) {
        control<QSlider>("Slider2")->setValue(step);  // a drag gives no box per step
    }
    EXPECT_EQ(port.failedAccesses(), failed);
    EXPECT_TRUE(port.accesses().empty());
    EXPECT_EQ(frames.count(), 0u);
    EXPECT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(form.windowTitle().endsWith("НЕТ СВЯЗИ"));
    EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), "2");
    // The port comes back: the next operation goes through, and the title with it.
    port.setRestartResult(true);
    click("Command12");
    EXPECT_EQ(form.windowTitle(), ui::SpiForm::caption());
    EXPECT_EQ(dialogs.warnings.size(), 1u);
}
