#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/fakes.h"
#include "support/recording_port.h"
#include "ui/spi_form.h"
#include "ui/spi_window.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing_support::FakeClock;
using testing_support::FakeDialogs;
using testing_support::PortAccess;

using spi_window::jpegBytes;
using spi_window::readFile;
using spi_window::SpiWindow;

TEST_F(SpiWindow, FailedStartShowsTheStopBoxAndGoesOn) {
    port.setInitializeResult(false, "/dev/parport0: Permission denied (add the user to group lp)");
    frames.store(1);
    form.Form_Load();
    ASSERT_EQ(dialogs.stops.size(), 1u);
    EXPECT_EQ(dialogs.stops[0].title, "VBDumpPort32");
    // The box's words, then why and what to do.
    EXPECT_EQ(dialogs.stops[0].text,
              "Whoops ! There is a problem with InitializeWinIo.\n\n"
              "/dev/parport0: Permission denied (add the user to group lp)");
    EXPECT_EQ(frames.count(), 0u);
    EXPECT_THAT(port.accesses(), ElementsAre(PortAccess{PortAccess::Kind::Write, 0x378, 250}));

    // Later accesses are attempted as usual.
    click("Option2");
    EXPECT_EQ(port.writtenValues().size(), 1u + 2 * 17 + 1);
}

TEST_F(SpiWindow, StartWritesOnlyTheIdlePattern) {
    form.Form_Load();
    EXPECT_TRUE(dialogs.stops.empty());
    EXPECT_EQ(port.initializeCalls(), 1);
    EXPECT_THAT(port.accesses(), ElementsAre(PortAccess{PortAccess::Kind::Write, 0x378, 250}));
    EXPECT_TRUE(control<QRadioButton>("Option1")->isChecked());
    EXPECT_EQ(control<QLineEdit>("Text4")->text(), "0");
    EXPECT_TRUE(control<QLabel>("Picture1")->pixmap().isNull());
}

namespace {
// The bytes of 17-write chip-select frames: eight bits high bit first, each on the data line of
// its first write.
std::vector<int> sentBytes(const std::vector<std::uint8_t>& writes) {
    std::vector<int> bytes;
    for (std::size_t frame = 0; frame + 17 <= writes.size(); frame += 17) {
        int byte = 0;
        for (std::size_t bit = 0; bit < 16; bit += 2) {
            byte = byte * 2 + ((writes[frame + bit] & lpt::kMosiBit) != 0 ? 1 : 0);
        }
        bytes.push_back(byte);
    }
    return bytes;
}
}  // namespace

TEST_F(SpiWindow, AModeButtonSwitchesInTheOldModeOnEveryClick) {
    load();
    click("Option3");
    const auto writes = port.writtenValues();
    ASSERT_EQ(writes.size(), 35u);
    EXPECT_EQ(writes[16], 250);  // 18 sent in mode 0
    EXPECT_EQ(writes[33], 250);  // 2 sent in mode 0
    EXPECT_EQ(writes[34], 251);  // mode 2's idle pattern
    EXPECT_THAT(sentBytes(writes), ElementsAre(18, 2));
    EXPECT_EQ(link.patterns(), lpt::kModePatterns[2]);

    // Clicking the selected button sends the mode again (a module that was power-cycled needs
    // it): register 18 and the mode, in the mode in force, once.
    port.clear();
    click("Option3");
    EXPECT_THAT(sentBytes(port.writtenValues()), ElementsAre(18, 2));
    EXPECT_EQ(port.writtenValues()[16], 251);  // in mode 2
    EXPECT_EQ(port.writtenValues().size(), 35u);
    EXPECT_EQ(link.patterns(), lpt::kModePatterns[2]);
    port.clear();

    // Selecting from code runs the handler too, as the module reset relies on.
    control<QRadioButton>("Option1")->setChecked(true);
    EXPECT_EQ(port.writtenValues().size(), 35u);
    EXPECT_EQ(port.writtenValues().back(), 250);
    EXPECT_EQ(port.writtenValues()[16], 251);  // sent in mode 2, the old one
}

TEST_F(SpiWindow, PortChoiceOnlyFromTheList) {
    load();
    auto* combo = control<QComboBox>("Combo1");
    EXPECT_EQ(combo->currentText(), "LPT1");
    // Typing and Enter choose nothing and add no entry.
    combo->clearEditText();
    QTest::keyClicks(combo, "LPT9");
    QTest::keyClick(combo, Qt::Key_Return);
    EXPECT_EQ(link.portBase(), 888);
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->currentText(), "LPT9");
    // Down on the closed box picks the entry after LPT1.
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(combo->currentText(), "LPT2");
    EXPECT_EQ(link.portBase(), 632);
    EXPECT_TRUE(port.accesses().empty());
    click("Option2");
    EXPECT_EQ(port.accesses().front().address, 0x278);
}

// Typing ended by Tab or a click elsewhere is no pick, nor is a wheel over a box without the
// focus: no port access, no port chosen, no wait; the typed text is left for the buttons.
TEST_F(SpiWindow, LeavingABoxOrAWheelOverItRunsNothing) {
    load();
    const testing_support::Typed cases[] = {
        {"Combo1", "LPT2"}, {"Combo2", "3"}, {"Combo3", "Черно-белый"}, {"Combo5", "160x120"}};
    testing_support::typeAndLeave(form, cases, "Command9", [this] {
        return port.accesses().empty() && link.portBase() == 0x378 && clock.yieldingWaits == 0;
    });
    testing_support::turnWheel(testing_support::focusControl(form, "Combo1"), 1);  // focused
    EXPECT_EQ(link.portBase(), 0x278);
}

TEST_F(SpiWindow, CloseStopsPortAccessOnce) {
    load();
    form.show();
    form.close();
    form.close();
    EXPECT_EQ(port.shutdownCalls(), 1);
}

TEST_F(SpiWindow, ClearEmptiesTheStore) {
    load();
    holdFrame({1, 2, 3});
    EXPECT_EQ(control<QLineEdit>("Text4")->text(), "3");
    click("Command8");
    EXPECT_EQ(frames.count(), 0u);
    EXPECT_EQ(frames.wholeBuffer()[0], 0);
    EXPECT_EQ(control<QLineEdit>("Text4")->text(), "0");
    EXPECT_TRUE(port.accesses().empty());  // nothing goes to the module
}

TEST_F(SpiWindow, ViewShowsTheFrameUnscaledAndLeavesNoFile) {
    load();
    holdFrame(jpegBytes(400, 350, Qt::red));  // larger than the box: clipped, not scaled
    std::vector<std::string> seenDuringWait;
    clock.duringWait = [&] {
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(tempBase.path().toStdString())) {
            seenDuringWait.push_back(entry.path().string());
        }
    };
    click("Command14");
    const QPixmap shown = control<QLabel>("Picture1")->pixmap();
    EXPECT_EQ(shown.size(), QSize(400, 350));
    EXPECT_EQ(clock.yieldingWaits, 2);
    EXPECT_FALSE(seenDuringWait.empty());  // the copy existed while the view waited
    EXPECT_TRUE(std::filesystem::is_empty(tempBase.path().toStdString()));
    EXPECT_EQ(frames.count(), static_cast<std::uint32_t>(jpegBytes(400, 350, Qt::red).size()));
}

// A view with no picture clears the old one and says why in its place; a bad frame is told in a box
// once until a view succeeds (the capture cycle views at every step); an empty buffer is no news.
TEST_F(SpiWindow, AViewWithNoPictureClearsTheOldOneAndABadFrameIsToldOnceUntilAViewSucceeds) {
    load();
    holdFrame(jpegBytes(20, 10, Qt::blue));
    click("Command14");
    ASSERT_EQ(control<QLabel>("Picture1")->pixmap().size(), QSize(20, 10));

    auto cut = jpegBytes(64, 64, Qt::green);
    cut.resize(12);  // an incomplete frame
    click("Command8");
    holdFrame(cut);
    click("Command14");
    click("Command14");
    EXPECT_TRUE(control<QLabel>("Picture1")->text().contains("12 байт"));
    EXPECT_EQ(dialogs.warnings.size(), 1u);

    click("Command8");
    click("Command14");  // counter 0: an empty file
    EXPECT_TRUE(control<QLabel>("Picture1")->text().contains("буфер пуст"));
    holdFrame(jpegBytes(20, 10, Qt::blue));
    click("Command14");
    click("Command8");
    holdFrame(cut);
    click("Command14");
    EXPECT_EQ(dialogs.warnings.size(), 2u);
    EXPECT_TRUE(dialogs.stops.empty());
    EXPECT_TRUE(std::filesystem::is_empty(tempBase.path().toStdString()));
}

TEST_F(SpiWindow, SaveWritesExactlyTheStoredBytes) {
    load();
    QTemporaryDir dir;
    const QString path = dir.filePath("frame.jpg");
    std::vector<std::uint8_t> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(255 - i % 256);
    }
    holdFrame(bytes);
    {
        std::ofstream longer(path.toStdString(), std::ios::binary);
        longer << std::string(5000, 'x');
    }
    dialogs.saveAnswers = {path};
    click("Command6");
    EXPECT_EQ(readFile(path), bytes);
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].title, "Введите имя файла для сохранения картинки");
    EXPECT_EQ(dialogs.saveRequests[0].startFolder, QDir::homePath());
    EXPECT_EQ(dialogs.saveRequests[0].filter, "*.jpg (*.jpg)");
    EXPECT_TRUE(dialogs.stops.empty());

    // Two frames without a clear: the file holds both.
    holdFrame({0xAB});
    dialogs.saveAnswers = {path};
    click("Command6");
    bytes.push_back(0xAB);
    EXPECT_EQ(readFile(path), bytes);
}

TEST_F(SpiWindow, CancelledSaveWritesNothing) {
    load();
    QTemporaryDir dir;
    holdFrame({1, 2});
    dialogs.saveAnswers = {QString()};
    click("Command6");
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_TRUE(dialogs.stops.empty());
}

TEST_F(SpiWindow, UnwritableSaveNamesTheFileAndTheReason) {
    load();
    QTemporaryDir dir;
    const QString path = dir.filePath("no/such/folder/frame.jpg");
    holdFrame({1, 2});
    dialogs.saveAnswers = {path};
    click("Command6");
    ASSERT_EQ(dialogs.stops.size(), 1u);
    EXPECT_TRUE(dialogs.stops[0].text.contains(path)) << dialogs.stops[0].text.toStdString();
    EXPECT_TRUE(dialogs.stops[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
        << dialogs.stops[0].text.toStdString();
    EXPECT_EQ(frames.count(), 2u);
}

TEST_F(SpiWindow, ExitEndsWithoutTheUnloadHandler) {
    load();
    holdFrame({1});
    click("Command5");
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(port.shutdownCalls(), 0);
}

TEST_F(SpiWindow, AViewThatCannotWriteItsCopyClearsThePictureAndTellsWhereAndWhyOnce) {
    load();
    holdFrame(jpegBytes(32, 32, Qt::red));
    click("Command14");
    qputenv("TMPDIR", tempBase.filePath("missing").toLocal8Bit());
    click("Command14");
    click("Command14");
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(dialogs.warnings[0].text.contains(tempBase.filePath("missing")));
    EXPECT_TRUE(dialogs.warnings[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
    EXPECT_TRUE(control<QLabel>("Picture1")->pixmap().isNull());
}

TEST_F(SpiWindow, ExitDuringAViewLeavesNoTemporaryFolder) {
    load();
    holdFrame(jpegBytes(32, 32, Qt::red));
    const auto entries = [this] {
        return QDir(tempBase.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    };
    qsizetype duringView = -1;
    qsizetype atExit = -1;
    form.setExitAction([&] { atExit = entries(); });
    clock.duringWait = [&] {
        if (duringView < 0) {
            duringView = entries();
            click("Command5");
        }
    };
    click("Command14");
    EXPECT_EQ(duringView, 1);
    EXPECT_EQ(atExit, 0);
}

TEST_F(SpiWindow, ALostTraceLineIsToldOnceAndTheWorkGoesOn) {
    std::string error;
    auto trace = protocol::TraceFile::open("/dev/full", error);
    ASSERT_NE(trace, nullptr) << error;
    lpt::SpiLink tracedLink(port, trace.get());
    ui::SpiForm traced(tracedLink, frames, clock, dialogs);
    traced.watchTrace(*trace, "/dev/full");
    traced.Form_Load();
    traced.Command12_Click();
    traced.Command12_Click();
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(dialogs.warnings[0].text.contains("/dev/full"));
    EXPECT_TRUE(dialogs.warnings[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))));
    EXPECT_EQ(trace->linesLost(), 2u);
    EXPECT_EQ(port.writtenValues().size(), 1u + 2 * 17);  // both captures went out
}
