#include <gtest/gtest.h>

#include "support/fakes.h"
#include "support/scripted_serial_control.h"
#include "ui/comtrak_form.h"
#include "ui/layout_checks.h"

TEST(ComtrakLayout, EveryControlAndTheStartStateAsTheLayoutHasThem) {
    testing_support::FakeClock clock;
    testing_support::ScriptedSerialControl control{&clock};
    testing_support::FakeDialogs dialogs;
    serial::SerialLink link{control, clock};
    frames::FrameStore frames;
    ui::ComtrakForm form{control, link, frames, clock, dialogs};
    form.Form_Load();
    window_layout::checkWindow(form, window_layout::comtrakWindow());
    window_layout::checkStartState(form, "Программа для работы с модулем камеры по RS-232",
                                   {"COM1", "COM2", "COM3", "COM4"});
    EXPECT_EQ(window_layout::listOf(form, "Combo4"),
              QStringList({"1200", "2400", "4800", "9600", "14400", "19200", "28800", "38400",
                           "57600", "115200"}));
}
