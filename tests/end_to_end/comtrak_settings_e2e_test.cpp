// Camera settings from the serial window's controls to the emulated module on a pseudo-terminal,
// and back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "end_to_end/comtrak_on_emulator.h"
#include "support/window_controls.h"

using comtrak_e2e::ComtrakOnEmulator;
using protocol::Register;

namespace {

class ComtrakSettings : public ComtrakOnEmulator {
  protected:
    template <typename T>
    T* control_(const char* name) {
        return testing_support::findControl<T>(form, name);
    }
    void pick(const char* name, int index) { testing_support::pickEntry(form, name, index); }
    // The module hears bytes a moment after they were sent.
    bool moduleReaches(Register r, std::uint16_t value) {
        return QTest::qWaitFor([&] { return emulated.module.registerValue(r) == value; }, 2000);
    }
    void moduleHolds(Register r, std::uint16_t value) {
        protocol::writeRegister(link, r, value);
        ASSERT_TRUE(moduleReaches(r, value));
    }
};

}  // namespace

TEST_F(ComtrakSettings, EveryWriteLandsInTheModule) {
    control_<QSlider>("Slider2")->setValue(40);
    EXPECT_TRUE(moduleReaches(Register::Red, 160));
    control_<QSlider>("Slider1")->setValue(25);
    EXPECT_TRUE(moduleReaches(Register::Brightness, 250));

    control_<QComboBox>("Combo2")->setEditText("3");
    pick("Combo3", 1);
    EXPECT_TRUE(moduleReaches(Register::Compression, 11));

    pick("Combo5", 3);
    EXPECT_TRUE(moduleReaches(Register::FrameWidth, 160));
    EXPECT_TRUE(moduleReaches(Register::FrameHeight, 120));

    control_<QCheckBox>("Check2")->setChecked(true);
    control_<QLineEdit>("Text5")->setText("-50");
    control_<QLineEdit>("Text6")->setText("47.5");
    click("Command4");
    EXPECT_EQ(control_<QLineEdit>("Text5")->text(), "32");
    EXPECT_EQ(control_<QLineEdit>("Text6")->text(), "48");
    EXPECT_TRUE(moduleReaches(Register::FrameWidth, 32));
    EXPECT_TRUE(moduleReaches(Register::FrameHeight, 48));

    click("Check3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return emulated.module.testMode(); }, 2000));
    click("Check3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !emulated.module.testMode(); }, 2000));
    EXPECT_TRUE(dialogs.warnings.empty());
}

TEST_F(ComtrakSettings, ReadBacksShowWhatTheModuleHolds) {
    moduleHolds(Register::Compression, 255);
    click("Command9");
    EXPECT_EQ(control_<QComboBox>("Combo2")->currentText(), "7");
    EXPECT_EQ(control_<QComboBox>("Combo3")->currentText(), "Черно-белый");

    moduleHolds(Register::Brightness, 57);
    for (Register r : {Register::Red, Register::Green, Register::Blue}) {
        moduleHolds(r, 128);
    }
    click("Command10");
    EXPECT_EQ(control_<QSlider>("Slider1")->value(), 5);
    EXPECT_EQ(control_<QSlider>("Slider4")->value(), 32);
    EXPECT_TRUE(moduleReaches(Register::Brightness, 50));  // written back by the moved slider

    moduleHolds(Register::FrameWidth, 320);
    moduleHolds(Register::FrameHeight, 240);
    click("Command1");
    EXPECT_EQ(control_<QComboBox>("Combo5")->currentText(), "320x240");

    moduleHolds(Register::FrameWidth, 200);
    moduleHolds(Register::FrameHeight, 100);
    click("Command1");
    EXPECT_TRUE(control_<QCheckBox>("Check2")->isChecked());
    EXPECT_EQ(control_<QLineEdit>("Text5")->text(), "200");
    EXPECT_EQ(control_<QLineEdit>("Text6")->text(), "100");
    EXPECT_TRUE(control_<QPushButton>("Command4")->isEnabled());
    EXPECT_FALSE(control_<QComboBox>("Combo5")->isEnabled());

    EXPECT_TRUE(dialogs.warnings.empty());
    QTest::qWait(20);
    EXPECT_EQ(frames.count(), 0u);  // no reply reached the frame store
}

TEST_F(ComtrakSettings, AModuleThatDoesNotAnswerIsReportedAndChangesNothing) {
    // The PC switches to 9600 without telling the module: every reply is lost in the garble.
    ASSERT_TRUE(control.setBaud(9600));
    control_<QComboBox>("Combo2")->setEditText("4");
    click("Command9");
    EXPECT_EQ(control_<QComboBox>("Combo2")->currentText(), "4");
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(form.findChild<QTimer*>("Timer1")->isActive());
}
