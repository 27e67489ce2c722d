// What both programs do at start before their window: Qt's standard dialogs in Russian.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

#include "ui/program_start.h"

namespace {

// The texts come from Qt's own translations (Debian: qt6-translations-l10n), whatever the
// system's locale; without them the test fails.
TEST(ProgramStart, QtDialogsSpeakRussian) {
    QTranslator* translator = ui::installRussianQtTexts("test");
    ASSERT_NE(translator, nullptr);
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Перейти к:");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Save"), "Сохранить");
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

}  // namespace
