#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
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

// A font asks for the family the window was drawn for, then the one with its metrics; the one
// used is the first of the two installed, never the system's own substitute.
TEST_F(SpiWindow, FontsAskForTheFamiliesTheWindowWasDrawnForFirst) {
    for (const auto& [widget, families] :
         {std::pair<QWidget*, QStringList>{&form, {"MS Sans Serif", "Liberation Sans"}},
          {control<QLabel>("Label1"), {"Times New Roman", "Liberation Serif"}}}) {
        EXPECT_EQ(widget->font().families(), families);
        EXPECT_EQ(QFontInfo(widget->font()).family(),
                  families[QFontDatabase::hasFamily(families[0]) ? 0 : 1]);
    }
}
