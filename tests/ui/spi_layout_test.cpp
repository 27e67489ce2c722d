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

// Every font asks for the family the window was drawn for, then the one with its metrics; the
// family used is the first of the two that is installed, never the system's own substitute.
TEST_F(SpiWindow, FontsAskForTheFamiliesTheWindowWasDrawnForFirst) {
    const QStringList sans{"MS Sans Serif", "Liberation Sans"};
    const QStringList serif{"Times New Roman", "Liberation Serif"};
    const struct {
        QWidget* control;
        const QStringList& families;
    } cases[] = {{&form, sans},
                 {control<QLabel>("Label1"), serif},
                 {control<QLabel>("Label6"), sans},
                 {control<QLabel>("Label3"), sans}};
    for (const auto& c : cases) {
        const QFont font = c.control->font();
        EXPECT_EQ(font.families(), c.families) << c.control->objectName().toStdString();
        const QString installed =
            QFontDatabase::hasFamily(c.families[0]) ? c.families[0] : c.families[1];
        EXPECT_EQ(QFontInfo(font).family(), installed) << c.control->objectName().toStdString();
    }
}
