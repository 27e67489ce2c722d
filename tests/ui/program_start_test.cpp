// What both programs do at start before their window: the command line read whole before the
// display is looked for, with one exit status per kind of ending, and the windows' and Qt's
// standard dialogs' texts in the language asked for.
#include <gtest/gtest.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <iterator>
#include <optional>
#include <vector>

#include "ui/form1.h"
#include "ui/program_start.h"

namespace {

// Runs with no display at all, so a check that comes after the display's would not be reached.
class CommandLineWithoutDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kDisplayVariables) {
            saved_.push_back(qgetenv(name));
            qunsetenv(name);
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kDisplayVariables); ++i) {
            qputenv(kDisplayVariables[i], saved_[i]);
        }
    }

    std::optional<ui::EarlyExit> check(const QStringList& options) {
        QCommandLineParser parser;
        parser.addOption(QCommandLineOption(QStringLiteral("trace"), QStringLiteral("trace"),
                                            QStringLiteral("FILE")));
        const auto refuseBad = [&parser] {
            return parser.value(QStringLiteral("trace")) == QStringLiteral("bad")
                       ? QStringLiteral("--trace=bad is refused")
                       : QString();
        };
        return ui::checkCommandLine("prog", parser, QStringList{QStringLiteral("prog")} + options,
                                    refuseBad);
    }

    static constexpr const char* kDisplayVariables[] = {"QT_QPA_PLATFORM", "DISPLAY",
                                                        "WAYLAND_DISPLAY"};
    std::vector<QByteArray> saved_;
};

TEST_F(CommandLineWithoutDisplay, UsageIsCheckedFirstAndEachEndingHasItsStatus) {
    const struct {
        QStringList arguments;
        int status;
        const char* says;
    } cases[] = {
        {{"--bogus"}, startup::kExitUsage, "prog: Unknown option 'bogus'."},
        {{"extra"}, startup::kExitUsage, "prog: unexpected argument 'extra'"},
        {{"--trace=t", "extra"}, startup::kExitUsage, "unexpected argument 'extra'"},
        {{"--trace"}, startup::kExitUsage, "Missing value after '--trace'"},
        {{"--trace=bad"}, startup::kExitUsage, "prog: --trace=bad is refused"},
        {{"--trace="}, startup::kExitUsage, "prog: --trace has an empty value"},
        {{"--trace=a", "--trace", "b"},
         startup::kExitUsage,
         "prog: --trace is given more than once"},
        {{"--help"}, startup::kExitDone, "Usage: prog [options]"},
        {{"--version"}, startup::kExitDone, "prog "},
        {{"--trace=t"}, startup::kExitFailure, "prog: no display"},
    };
    for (const auto& c : cases) {
        const auto early = check(c.arguments);
        ASSERT_TRUE(early.has_value()) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(early->status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(early->text.contains(QString::fromUtf8(c.says))) << early->text.toStdString();
        if (c.status == startup::kExitUsage) {
            EXPECT_TRUE(early->text.endsWith("\nTry 'prog --help' for the options.\n"));
        }
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    EXPECT_FALSE(check({"--trace=t"}).has_value());  // a display, a good command line: the window
}

TEST(PortIoChoice, TheRefusalNamesTheValueAndEveryChoiceOnce) {
    EXPECT_EQ(ui::notAChoice("port-io", "lpt", {"auto", "emulator", "unix:PATH"}),
              "--port-io=lpt is not one of auto, emulator, unix:PATH");
}

// The texts come from Qt's own translations (Debian: qt6-translations-l10n) and the build's English
// one, whatever the system's locale; without them the test fails.
TEST(ProgramStart, EachLanguageGivesTheWindowsAndQtsDialogsItsTexts) {
    const struct {
        ui::WindowLanguage language;
        const char *lookIn, *cancel, *save, *exit;
    } cases[] = {
        {ui::WindowLanguage::Russian, "Перейти к:", "Отмена", "Сохранить", "Выход"},
        {ui::WindowLanguage::English, "Look in:", "Cancel", "Save", "Exit"},
    };
    for (const auto& c : cases) {
        const ui::WindowTexts texts("test", c.language, CAMERA_QM_FOLDER);
        EXPECT_TRUE(texts.complete());
        EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), c.lookIn);
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), c.cancel);
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Save"), c.save);
        EXPECT_EQ(ui::Form1::tr("Выход"), c.exit);
    }
    // Without its file the window keeps its own texts.
    const ui::WindowTexts missing("test", ui::WindowLanguage::English, "/nonexistent-folder");
    EXPECT_FALSE(missing.complete());
    EXPECT_EQ(ui::Form1::tr("Выход"), "Выход");
}

}  // namespace
