// The windows in English (--lang=en): every text of the translation is English and comes out of
// the compiled file, and each window, with the messages it tells, shows no Russian letter and no
// caption that does not fit its control.
#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>
#include <algorithm>

#include "support/fakes.h"
#include "support/recording_port.h"
#include "support/scripted_serial_control.h"
#include "support/window_controls.h"
#include "ui/comtrak_form.h"
#include "ui/layout_checks.h"
#include "ui/program_start.h"
#include "ui/spi_form.h"

namespace {

bool hasCyrillic(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

// Every text the window shows: its title, each control's caption, each list's entries. A
// caption is as wide as its control at most (a picture note as its box), a list's longest entry
// fits its box.
void expectEnglishThatFits(QWidget& window) {
    EXPECT_FALSE(hasCyrillic(window.windowTitle())) << window.windowTitle().toStdString();
    for (QWidget* w : window.findChildren<QWidget*>()) {
        SCOPED_TRACE(w->objectName().toStdString());
        QStringList texts{window_layout::captionOf(w), w->toolTip()};
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            for (int i = 0; i < box->count(); ++i) {
                texts << box->itemText(i);
            }
            EXPECT_LE(box->sizeHint().width(), box->width());
        }
        for (const QString& text : texts) {
            EXPECT_FALSE(hasCyrillic(text)) << text.toStdString();
        }
        using window_layout::Kind;
        for (Kind kind : {Kind::Label, Kind::Button, Kind::Check, Kind::Option}) {
            if (window_layout::isKind(w, kind)) {
                EXPECT_LE(window_layout::roomNeeded(w, kind), w->width()) << texts[0].toStdString();
            }
        }
    }
}

void expectEnglishBoxes(const testing_support::FakeDialogs& dialogs, std::size_t count) {
    EXPECT_EQ(dialogs.warnings.size() + dialogs.stops.size(), count);
    for (const auto* boxes : {&dialogs.warnings, &dialogs.stops}) {
        for (const auto& box : *boxes) {
            EXPECT_FALSE(hasCyrillic(box.title + box.text)) << box.text.toStdString();
        }
    }
}

class EnglishWindow : public ::testing::Test {
  protected:
    const ui::WindowTexts english{"test", ui::WindowLanguage::English, CAMERA_QM_FOLDER};
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    frames::FrameStore frames;
};

// What lupdate wrote for each text of the windows, against what the programs load.
TEST_F(EnglishWindow, EveryTextOfTheTranslationIsEnglishAndInTheCompiledFile) {
    QFile ts(CAMERA_TS_FILE);
    ASSERT_TRUE(ts.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&ts);
    QString context, source;
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) {
            continue;
        }
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            ++messages;
            SCOPED_TRACE(source.toStdString());
            EXPECT_TRUE(xml.attributes().value("type").isEmpty());  // not unfinished
            const QString translation = xml.readElementText();
            EXPECT_FALSE(translation.isEmpty() || hasCyrillic(translation));
            EXPECT_EQ(source.count(QLatin1Char('%')), translation.count(QLatin1Char('%')));
            EXPECT_EQ(QCoreApplication::translate(context.toUtf8(), source.toUtf8()), translation);
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(messages, 0);
}

TEST_F(EnglishWindow, TheSpiWindowAndItsMessages) {
    testing_support::RecordingPort port;
    lpt::SpiLink link{port};
    ui::SpiForm form{link, frames, clock, dialogs};
    form.Form_Load();
    expectEnglishThatFits(form);

    // A read-back on a port that fails: the box, the title and the indicator say so.
    port.failFrom(0, "Input/output error");
    testing_support::clickControl(form, "Command9");
    form.Timer1_Timer();
    EXPECT_TRUE(form.windowTitle().endsWith(ui::Form1::linkDownTitleSuffix()));
    // A level the register cannot hold, a frame that is no picture, a file that cannot be made.
    testing_support::findControl<QComboBox>(form, "Combo2")->setEditText("999");
    form.settingsPanel().Combo2_Click();
    frames.storeAll(std::vector<std::uint8_t>{1, 2, 3});
    testing_support::clickControl(form, "Command14");
    dialogs.saveAnswers = {"/nonexistent-folder/frame.jpg"};
    testing_support::clickControl(form, "Command6");
    expectEnglishBoxes(dialogs, 4);
    EXPECT_FALSE(hasCyrillic(dialogs.saveRequests.at(0).title));
    expectEnglishThatFits(form);
    EXPECT_EQ(testing_support::findControl<QLabel>(form, "Label3")->text(), "NO LINK");
    EXPECT_EQ(ui::colourModeOfText("Monochrome"), protocol::ColourMode::BlackAndWhite);
}

TEST_F(EnglishWindow, TheComtrakWindowAndItsMessages) {
    testing_support::ScriptedSerialControl control{&clock};
    serial::SerialLink link{control, clock};
    ui::ComtrakForm form{control, link, frames, clock, dialogs};
    // The port at start does not open; a speed typed that is none of the list.
    control.failingPorts[2] = {serial::OpenFault::NoPermission, "/dev/ttyS1", "Permission denied"};
    form.Form_Load();
    testing_support::findControl<QComboBox>(form, "Combo4")->setEditText("fast");
    testing_support::clickControl(form, "Command15");
    expectEnglishBoxes(dialogs, 2);
    expectEnglishThatFits(form);
}

}  // namespace
