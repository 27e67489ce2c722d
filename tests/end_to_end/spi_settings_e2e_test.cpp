// Camera settings from the SPI window's controls to the emulated module's registers and back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "emulator/in_process_module.h"
#include "protocol/wire.h"
#include "support/fakes.h"
#include "support/window_controls.h"
#include "ui/spi_form.h"

using protocol::Register;

namespace {

class SpiSettingsOnEmulator : public ::testing::Test {
  protected:
    void SetUp() override { form.Form_Load(); }

    template <typename T>
    T* control(const char* name) {
        return testing_support::findControl<T>(form, name);
    }
    void click(const char* name) { testing_support::clickControl(form, name); }
    void pick(const char* name, int index) { testing_support::pickEntry(form, name, index); }
    // The module's registers set behind the window's back, as another program might leave them.
    void moduleHolds(Register r, std::uint16_t value) {
        protocol::writeRegister(link, r, value);
        ASSERT_EQ(module.module.registerValue(r), value);
    }
    std::uint16_t reg(Register r) { return module.module.registerValue(r); }

    emulator::InProcessSpiModule module;
    lpt::SpiLink link{module.port};
    frames::FrameStore frames;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, frames, clock, dialogs};
};

}  // namespace

TEST_F(SpiSettingsOnEmulator, EveryWriteLandsInTheModule) {
    control<QSlider>("Slider2")->setValue(40);
    EXPECT_EQ(reg(Register::Red), 160);
    control<QSlider>("Slider1")->setValue(25);
    EXPECT_EQ(reg(Register::Brightness), 250);
    control<QSlider>("Slider3")->setValue(1);
    control<QSlider>("Slider4")->setValue(63);
    EXPECT_EQ(reg(Register::Green), 4);
    EXPECT_EQ(reg(Register::Blue), 252);

    control<QComboBox>("Combo2")->setEditText("3");
    pick("Combo3", 1);
    EXPECT_EQ(reg(Register::Compression), 11);
    EXPECT_EQ(clock.blockingWaits, 0);  // no freeze on the parallel port

    const int waitsBefore = clock.yieldingWaits;
    pick("Combo5", 2);
    EXPECT_EQ(reg(Register::FrameWidth), 176);
    EXPECT_EQ(reg(Register::FrameHeight), 144);
    EXPECT_EQ(clock.yieldingWaits, waitsBefore + 1);

    click("Check2");
    control<QLineEdit>("Text5")->setText("100");
    control<QLineEdit>("Text6")->setText("50");
    click("Command4");
    EXPECT_EQ(control<QLineEdit>("Text5")->text(), "96");
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), "48");
    EXPECT_EQ(reg(Register::FrameWidth), 96);
    EXPECT_EQ(reg(Register::FrameHeight), 48);

    click("Check3");
    EXPECT_TRUE(module.module.testMode());
    click("Check3");
    EXPECT_FALSE(module.module.testMode());
}

TEST_F(SpiSettingsOnEmulator, ReadBacksShowWhatTheModuleHolds) {
    moduleHolds(Register::Compression, 10);
    click("Command9");
    EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), "2");
    EXPECT_EQ(control<QComboBox>("Combo3")->currentText(), "Черно-белый");
    moduleHolds(Register::Compression, 255);
    click("Command9");
    EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), "7");
    EXPECT_EQ(reg(Register::Compression), 255);  // a read-back writes nothing back here

    moduleHolds(Register::Brightness, 57);
    moduleHolds(Register::Red, 128);
    moduleHolds(Register::Green, 128);
    moduleHolds(Register::Blue, 128);
    const int waitsBefore = clock.yieldingWaits;
    click("Command10");
    EXPECT_EQ(clock.yieldingWaits, waitsBefore + 3);
    EXPECT_EQ(control<QSlider>("Slider1")->value(), 5);
    EXPECT_EQ(control<QSlider>("Slider2")->value(), 32);
    EXPECT_EQ(reg(Register::Brightness), 50);  // the moved slider wrote its register again
    EXPECT_EQ(reg(Register::Red), 128);
    EXPECT_EQ(control<QLabel>("Label3")->text(), "READY");

    moduleHolds(Register::FrameWidth, 320);
    moduleHolds(Register::FrameHeight, 240);
    click("Command1");
    EXPECT_EQ(control<QComboBox>("Combo5")->currentText(), "320x240");
    EXPECT_FALSE(control<QCheckBox>("Check2")->isChecked());

    moduleHolds(Register::FrameWidth, 200);
    moduleHolds(Register::FrameHeight, 100);
    click("Command1");
    EXPECT_TRUE(control<QCheckBox>("Check2")->isChecked());
    EXPECT_EQ(control<QLineEdit>("Text5")->text(), "200");
    EXPECT_EQ(control<QLineEdit>("Text6")->text(), "100");
    EXPECT_TRUE(control<QPushButton>("Command4")->isEnabled());
    EXPECT_FALSE(control<QComboBox>("Combo5")->isEnabled());
}

// The compression register as written, read back into the window and made into a frame: the
// colour box and the module's frames agree on the mode, whatever level was typed.
TEST_F(SpiSettingsOnEmulator, ReadBackAndFramesAgreeOnTheColourModeWritten) {
    const struct {
        const char* typed;
        int colourEntry;  // 0 "Цветной", 1 "Черно-белый"
        int written;
        const char* levelShown;
        const char* colourShown;
    } cases[] = {
        {"16", 0, 16, "0", "Черно-белый"},  // past the level bits: black-and-white on both sides
        {"5", 1, 13, "5", "Черно-белый"},
        {"4", 0, 4, "4", "Цветной"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        control<QComboBox>("Combo2")->setEditText(c.typed);
        pick("Combo3", c.colourEntry);
        EXPECT_EQ(reg(Register::Compression), c.written);
        click("Command9");
        EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), c.levelShown);
        EXPECT_EQ(control<QComboBox>("Combo3")->currentText(), c.colourShown);

        protocol::sendCommand(link, protocol::command::kCapture);
        QImage frame;
        const std::vector<std::uint8_t> jpeg = module.module.currentFrame();
        ASSERT_TRUE(frame.loadFromData(jpeg.data(), static_cast<int>(jpeg.size()), "JPEG"));
        EXPECT_EQ(frame.isGrayscale(), std::string(c.colourShown) == "Черно-белый");
    }
}

TEST_F(SpiSettingsOnEmulator, SpiModeReadBackSelectsAndSwitches) {
    // Both sides go to mode 2 behind the buttons' back: the window still shows "0".
    link.switchMode(2);
    ASSERT_EQ(module.module.spiMode(), 2);
    ASSERT_TRUE(control<QRadioButton>("Option1")->isChecked());
    module.log.clear();
    click("Command2");
    EXPECT_TRUE(control<QRadioButton>("Option3")->isChecked());
    EXPECT_EQ(link.patterns(), lpt::kModePatterns[2]);
    // The selection change ran the button's handler: register 18 written with 2 once more.
    const auto writes = module.log.entriesOf(emulator::LogKind::RegisterWrite);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().bytes, (std::vector<std::uint8_t>{18, 2}));

    // A reply that is no mode changes nothing.
    click("Option1");
    moduleHolds(Register::SpiMode, 9);
    ASSERT_EQ(module.module.spiMode(), 0);
    click("Command2");
    EXPECT_TRUE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_EQ(reg(Register::SpiMode), 9);
}

TEST_F(SpiSettingsOnEmulator, TestModeAndArbitrarySizeEnabledStates) {
    click("Check2");
    EXPECT_TRUE(control<QPushButton>("Command4")->isEnabled());
    EXPECT_FALSE(control<QComboBox>("Combo5")->isEnabled());
    click("Check3");
    for (const char* name : {"Combo5", "Check2", "Text5", "Text6", "Slider1"}) {
        EXPECT_FALSE(control<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_TRUE(control<QPushButton>("Command4")->isEnabled());
    EXPECT_TRUE(control<QSlider>("Slider2")->isEnabled());
    click("Check3");
    // Both the list and "Записать" are enabled now, until "Произвольный" changes again.
    EXPECT_TRUE(control<QComboBox>("Combo5")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("Command4")->isEnabled());
    click("Check2");
    EXPECT_FALSE(control<QPushButton>("Command4")->isEnabled());
    EXPECT_TRUE(control<QComboBox>("Combo5")->isEnabled());
}
