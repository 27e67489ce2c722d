#include <gtest/gtest.h>

#include <QRadioButton>

#include "ui/layout_checks.h"
#include "ui/spi_window.h"

using spi_window::SpiWindow;

TEST_F(SpiWindow, EveryControlAsTheLayoutHasIt) {
    load();
    window_layout::checkWindow(form, window_layout::spiWindow());
}

TEST_F(SpiWindow, StartStateAsTheLayoutHasIt) {
    load();
    window_layout::checkStartState(form, "Программа для работы с модулем камеры через LPT",
                                   {"LPT1", "LPT2"});
    EXPECT_TRUE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_TRUE(control<QLabel>("Label3")->text().isEmpty());
    EXPECT_TRUE(control<QLabel>("Label3")->font().bold());
}
