// The serial window on a line whose module misbehaves: a reply that stops half-way, a query asked
// while a frame arrives, a line that hangs up in the middle of a frame, a window closed while a
// query waits. In each, the frame store holds only frame bytes the module really sent, the
// operator is told once at most, and the window goes on working.
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "end_to_end/comtrak_on_emulator.h"
#include "support/counting_serial_control.h"
#include "support/scripted_pty_peer.h"
#include "support/window_controls.h"
#include "ui/form1.h"

namespace {

using comtrak_e2e::Bytes;
using comtrak_e2e::frameOf;
using testing_support::ScriptedPtyPeer;

constexpr std::uint32_t kBaud = 115200;

class ComtrakLineFault : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        plugInModule();
        clock.lineLag = [this] { return peer->lag(); };
        clock.lineQuiet = [this] { return peer->lineQuiet(); };
        form.setExitAction([] {});
        form.Form_Load();
        ASSERT_TRUE(control.isOpen());
        // The peer does not hear speed writes: the PC alone goes to the fast line.
        ASSERT_TRUE(control.setBaud(kBaud));
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    static serial::PortMap com2At(const std::string& device) {
        serial::PortMap ports;
        ports.assign(2, device);
        return ports;
    }
    // A fresh module on the line COM2 names (a link, so a new one can take the old one's place).
    void plugInModule() {
        peer = std::make_unique<ScriptedPtyPeer>(kBaud);
        const std::string staged = linkPath + ".new";
        ASSERT_EQ(symlink(peer->slavePath().c_str(), staged.c_str()), 0);
        ASSERT_EQ(std::rename(staged.c_str(), linkPath.c_str()), 0);
    }
    template <typename T>
    T* control_(const char* name) {
        return testing_support::findControl<T>(form, name);
    }
    void click(const char* name) { testing_support::clickControl(form, name); }
    Bytes bytesHeard() const {
        Bytes bytes;
        for (const ScriptedPtyPeer::Heard& h : peer->heard()) {
            bytes.push_back(h.byte);
        }
        return bytes;
    }
    // Lets reception run until `count` bytes are stored and the window sees the frame ended.
    void receive(std::size_t count) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() >= count; }, 5000))
            << frames.count() << " of " << count;
        ASSERT_TRUE(QTest::qWaitFor([&] { return testing_support::frameReadAgain(form); }, 2000));
    }
    std::string warningTitles() const {
        std::string titles;
        for (const auto& shown : dialogs.warnings) {
            titles += '[';
            titles += shown.title.toStdString();
            titles += "] ";
        }
        return titles;
    }
    void expectStoreHolds(const Bytes& expected) {
        EXPECT_EQ(frames.count(), expected.size());
        EXPECT_TRUE(std::ranges::equal(frames.frame(), expected));
    }

    QTemporaryDir temp;
    const std::string linkPath = temp.filePath("com2").toStdString();
    std::unique_ptr<ScriptedPtyPeer> peer;
    serial::QtSerialControl control{com2At(linkPath)};
    testing_support::CountingSerialControl counted{control};
    testing_support::CompressedClock clock;
    serial::SerialLink link{counted, clock};
    frames::FrameStore frames;
    testing_support::FakeDialogs dialogs;
    ui::ComtrakForm form{counted, link, frames, clock, dialogs};
};

}  // namespace

TEST_F(ComtrakLineFault, AReplyCutShortIsNoAnswerAndItsByteNeverReachesTheNextFrame) {
    const Bytes frame = frameOf(3000);
    peer->answer(7, {0xAA});  // one byte of the two the width takes
    peer->sendOnFrameRead(frame);
    const QString sizeBefore = control_<QComboBox>("Combo5")->currentText();

    click("Command1");
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_EQ(dialogs.warnings[0].title.toStdString(), ui::Form1::noAnswerTitle().toStdString());
    EXPECT_EQ(control_<QComboBox>("Combo5")->currentText(), sizeBefore);
    EXPECT_FALSE(control_<QCheckBox>("Check2")->isChecked());
    EXPECT_EQ(bytesHeard(), Bytes{7});  // no height asked after the width failed

    click("Command7");
    receive(frame.size());
    expectStoreHolds(frame);
    EXPECT_EQ(dialogs.warnings.size(), 1u);
}

TEST_F(ComtrakLineFault, AQueryDuringAFrameWaitsForItsEndAndItsReplyIsNotStored) {
    const Bytes frame = frameOf(12000);  // about a second at 115200
    peer->answer(0, {0x0B});             // compression 3, black-and-white
    peer->sendOnFrameRead(frame);
    click("Command7");
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() > 0; }, 2000));

    // The read-back is usable while the frame arrives; a frame read is not, it would cut in.
    EXPECT_TRUE(control_<QWidget>("Command9")->isEnabled());
    EXPECT_FALSE(control_<QWidget>("Command7")->isEnabled());
    EXPECT_EQ(bytesHeard(), Bytes{128});

    // The read-back waits for the frame to end before it asks.
    click("Command9");
    expectStoreHolds(frame);
    EXPECT_EQ(peer->heard(), (std::vector<ScriptedPtyPeer::Heard>{{128, 0}, {0, frame.size()}}));
    EXPECT_EQ(control_<QComboBox>("Combo2")->currentText(), "3");
    EXPECT_EQ(control_<QComboBox>("Combo3")->currentText(), "Черно-белый");
    QTest::qWait(100);
    expectStoreHolds(frame);
    EXPECT_TRUE(dialogs.warnings.empty());
}

TEST_F(ComtrakLineFault, AHangUpMidFrameKeepsWhatCameTellsOnceAndTheReopenedPortReadsAgain) {
    const Bytes frame = frameOf(4000);
    constexpr std::size_t kBeforeHangUp = 1500;
    peer->sendOnFrameRead(frame);
    peer->hangUpAfterFrameBytes(kBeforeHangUp, [this] { return counted.taken(); });

    click("Command7");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.warnings.empty(); }, 5000));
    ASSERT_TRUE(peer->hungUp());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.linkBusy(); }, 2000));
    QTest::qWait(50);
    const Bytes cameFirst(frame.begin(), frame.begin() + kBeforeHangUp);
    expectStoreHolds(cameFirst);
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_EQ(dialogs.warnings[0].title, ui::ComtrakForm::portTitle());
    EXPECT_FALSE(control.isOpen());

    // The module comes back on the same device; the operator picks COM2 again.
    plugInModule();
    peer->sendOnFrameRead(frame);
    auto* portBox = control_<QComboBox>("Combo1");
    portBox->setCurrentIndex(1);
    emit portBox->activated(1);
    ASSERT_TRUE(control.isOpen());
    click("Command7");
    receive(kBeforeHangUp + frame.size());
    Bytes both = cameFirst;
    both.insert(both.end(), frame.begin(), frame.end());
    expectStoreHolds(both);
    EXPECT_EQ(dialogs.warnings.size(), 1u);
}

TEST_F(ComtrakLineFault, AWindowClosedWhileAQueryAwaitsItsReplyTellsNobody) {
    clock.lineQuiet = {};  // the close comes after real time in the wait: it must be spent
    form.show();
    QTimer::singleShot(200, &form, [this] { form.close(); });
    click("Command13");  // the peer never answers
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(control.isOpen());
    EXPECT_EQ(bytesHeard(), Bytes{1});
    QTest::qWait(50);  // a warning put off until the handler returned would be shown by now
    EXPECT_TRUE(dialogs.warnings.empty());
}

TEST_F(ComtrakLineFault, AHangUpWhileAQueryWaitsForTheFrameEndIsToldOnce) {
    const Bytes frame = frameOf(12000);
    constexpr std::size_t kBeforeHangUp = 6000;
    peer->answer(0, {0x0B});
    peer->sendOnFrameRead(frame);
    peer->hangUpAfterFrameBytes(kBeforeHangUp, [this] { return counted.taken(); });
    click("Command7");
    ASSERT_TRUE(QTest::qWaitFor([&] { return frames.count() > 0; }, 2000));

    form.settingsPanel().Command9_Click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.linkBusy(); }, 2000));
    QTest::qWait(100);  // a warning put off until the handler returned would be shown by now
    expectStoreHolds(Bytes(frame.begin(), frame.begin() + kBeforeHangUp));
    EXPECT_EQ(dialogs.warnings.size(), 1u) << warningTitles();
}
