// The SPI window driving the emulated module through the real link code: what the operator does,
// what the module holds, what lands in the file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <iterator>

#include "emulator/in_process_module.h"
#include "lpt/ftdi_port.h"
#include "lpt/socket_port.h"
#include "lpt/vcd_recorder.h"
#include "module_rtl.h"
#include "protocol/registers.h"
#include "session/real_clock.h"
#include "support/fake_mpsse_adapter.h"
#include "support/fakes.h"
#include "support/recording_port.h"
#include "support/window_controls.h"
#include "ui/spi_form.h"

namespace {

std::vector<std::uint8_t> readFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

emulator::CameraModule::Options capturingIn(std::chrono::microseconds captureTime) {
    emulator::CameraModule::Options options;
    options.captureTime = captureTime;
    return options;
}

class SpiWindowOnEmulator : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        form.Form_Load();
    }
    void TearDown() override { qunsetenv("TMPDIR"); }

    void click(const char* name) { testing_support::clickControl(form, name); }
    void writeFrameSize(std::uint16_t width, std::uint16_t height) {
        const std::uint8_t w[] = {55, static_cast<std::uint8_t>(width >> 8),
                                  static_cast<std::uint8_t>(width)};
        const std::uint8_t h[] = {56, static_cast<std::uint8_t>(height >> 8),
                                  static_cast<std::uint8_t>(height)};
        link.send(w);
        link.send(h);
    }

    QTemporaryDir temp;
    emulator::InProcessSpiModule module{capturingIn(std::chrono::microseconds(0))};
    lpt::SpiLink link{module.port};
    frames::FrameStore frames;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, frames, clock, dialogs};
};

}  // namespace

TEST_F(SpiWindowOnEmulator, CaptureReadViewAndSaveInEveryMode) {
    const char* modeButtons[] = {"Option1", "Option2", "Option3", "Option4"};
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        click(modeButtons[mode]);
        ASSERT_EQ(module.module.spiMode(), mode);
        writeFrameSize(176, 144);
        ASSERT_EQ(module.module.registerValue(protocol::Register::FrameWidth), 176);

        click("Command8");
        click("Command12");
        const std::vector<std::uint8_t> sent = module.module.currentFrame();
        ASSERT_FALSE(sent.empty());
        click("Command7");
        EXPECT_EQ(frames.count(), sent.size());
        EXPECT_EQ(form.findChild<QLineEdit*>("Text4")->text(), QString::number(sent.size()));
        EXPECT_TRUE(module.module.ready());

        const QString path = temp.filePath(QStringLiteral("frame%1.jpg").arg(mode));
        dialogs.saveAnswers = {path};
        click("Command6");
        const std::vector<std::uint8_t> saved = readFile(path);
        EXPECT_EQ(saved, sent);
        const QImage picture = QImage::fromData(saved.data(), static_cast<int>(saved.size()));
        EXPECT_EQ(picture.size(), QSize(176, 144));

        click("Command14");
        EXPECT_EQ(form.findChild<QLabel*>("Picture1")->pixmap().size(), QSize(176, 144));
    }
}

// A window on a port of a test's choosing, driven inline on the fake clock.
struct WindowOnPort {
    explicit WindowOnPort(protocol::PortIo& port) : link(port) {}
    std::vector<std::uint8_t> click(std::initializer_list<const char*> buttons) {
        form.Form_Load();
        for (const char* button : buttons) {
            testing_support::clickControl(form, button);
        }
        return {frames.frame().begin(), frames.frame().end()};
    }
    lpt::SpiLink link;
    frames::FrameStore frames;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, frames, clock, dialogs};
};

// The window on the module's RTL (hdl/) through the port socket: the frame it downloads is the
// frame memory's, byte for byte, and it shows.
TEST(SpiWindowOnTheModulesRtl, DownloadsAndShowsTheFrame) {
    if (!ModuleRtl::kBuilt) {
        GTEST_SKIP() << "built without Verilator's simulator of the module (hdl/)";
    }
    QTemporaryDir dir;
    emulator::EmulatorLog log;
    emulator::CameraModule maker(log, capturingIn(std::chrono::microseconds(0)));
    maker.receive(protocol::command::kCapture);
    const std::vector<std::uint8_t> sent = maker.currentFrame();
    ModuleRtl rtl(dir.path(), QByteArray(reinterpret_cast<const char*>(sent.data()),
                                         static_cast<qsizetype>(sent.size())));
    ASSERT_TRUE(rtl.serving);

    lpt::SocketPort port(rtl.socket.toStdString());
    WindowOnPort window(port);
    EXPECT_EQ(window.click({"Command8", "Command12", "Command7", "Command14"}), sent);
    EXPECT_EQ(window.form.findChild<QLabel*>("Picture1")->pixmap().size(), QSize(352, 288));
    EXPECT_TRUE(window.dialogs.stops.empty() && window.dialogs.warnings.empty());
}

// The window over an FTDI adapter (the fake one, before the emulated module) downloads the same
// frame and writes the same VCD of the pins as on the emulated parallel port itself.
TEST(SpiWindowOverAnFtdiAdapter, DownloadsAndRecordsAsOnTheParallelPort) {
    QTemporaryDir dir;
    const auto downloadVia = [&](bool adapterBetween, const QString& vcdPath) {
        emulator::InProcessSpiModule module{capturingIn(std::chrono::microseconds(0))};
        testing_support::FakeMpsseAdapter adapter(module.port);
        lpt::FtdiPort ftdi(adapter);
        WindowOnPort window(adapterBetween ? static_cast<protocol::PortIo&>(ftdi) : module.port);
        std::string error;
        auto vcd = lpt::VcdRecorder::open(vcdPath.toStdString(), lpt::VcdTime::Accesses,
                                          window.clock, error);
        window.link.setPortWatch(vcd.get());
        const auto frame = window.click({"Option3", "Command8", "Command12", "Command7"});
        EXPECT_EQ(frame, module.module.currentFrame());
        vcd->close();
        return frame;
    };
    const std::vector<std::uint8_t> overAdapter = downloadVia(true, dir.filePath("ftdi.vcd"));
    EXPECT_FALSE(overAdapter.empty());
    EXPECT_EQ(overAdapter, downloadVia(false, dir.filePath("lpt.vcd")));
    EXPECT_EQ(readFile(dir.filePath("ftdi.vcd")), readFile(dir.filePath("lpt.vcd")));
}

TEST_F(SpiWindowOnEmulator, TwoReadsWithoutAClearAppendAndResetReturnsToModeZero) {
    writeFrameSize(160, 120);
    click("Command12");
    click("Command7");
    const std::uint32_t first = frames.count();
    click("Command12");
    click("Command7");
    EXPECT_EQ(frames.count(), first + module.module.currentFrame().size());

    click("Option4");
    ASSERT_EQ(module.module.spiMode(), 3);
    click("Command3");
    EXPECT_EQ(module.module.spiMode(), 0);
    EXPECT_TRUE(form.findChild<QRadioButton*>("Option1")->isChecked());
    // The link and the module agree again: a register written now lands.
    const std::uint8_t brightness[] = {19, 60};
    link.send(brightness);
    EXPECT_EQ(module.module.registerValue(protocol::Register::Brightness), 60);
}

// A window of its own on a module that takes `captureTime` to capture.
struct CapturingWindow {
    explicit CapturingWindow(std::chrono::microseconds captureTime, protocol::Clock& clock,
                             testing_support::FakeDialogs& dialogs)
        : module(capturingIn(captureTime)), form(link, frames, clock, dialogs) {}
    QString indicator() const { return form.findChild<QLabel*>("Label3")->text(); }

    emulator::InProcessSpiModule module;
    lpt::SpiLink link{module.port};
    frames::FrameStore frames;
    ui::SpiForm form;
};

TEST_F(SpiWindowOnEmulator, StatusPollShowsBusyWhileCapturing) {
    CapturingWindow busy(std::chrono::hours(1), clock, dialogs);
    busy.form.Form_Load();
    busy.form.Timer1_Timer();
    EXPECT_EQ(busy.indicator(), "READY");
    busy.form.Command12_Click();
    busy.form.Timer1_Timer();
    EXPECT_EQ(busy.indicator(), "BUSY");
}

// The program's window, idle, lets Timer1 rest: the link's thread polls between operations and
// shows the ready flag going down with a capture and up again once the module is done.
TEST_F(SpiWindowOnEmulator, AnIdleWindowRestsItsTimerAndItsPollThreadFollowsTheReadyFlag) {
    CapturingWindow idle(std::chrono::seconds(1), clock, dialogs);
    idle.form.runLinkOnItsOwnThread();
    idle.form.Form_Load();
    const auto* timer = idle.form.findChild<QTimer*>("Timer1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return idle.indicator() == "READY"; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !timer->isActive(); }));
    idle.form.Command12_Click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return idle.indicator() == "BUSY"; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return idle.indicator() == "READY"; }, 10000));
    EXPECT_FALSE(timer->isActive());
}

TEST(SpiCycleWithoutModule, KeepsCyclingWhenNothingAnswers) {
    // Status lines that stay high: every download ends after one byte, so the buffer is never
    // empty and the cycle never stops by itself.
    struct Commands final : protocol::ExchangeTrace {
        void record(protocol::Direction d, std::span<const std::uint8_t> bytes) override {
            if (d == protocol::Direction::ToModule && bytes.size() == 1) {
                sent.push_back(bytes[0]);
            }
        }
        std::vector<std::uint8_t> sent;
    } commands;
    testing_support::RecordingPort port;
    port.setStatusFallback(0xFF);
    lpt::SpiLink link(port, &commands);
    frames::FrameStore frames;
    testing_support::FakeClock clock;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form(link, frames, clock, dialogs);
    form.Form_Load();
    form.Timer1_Timer();
    EXPECT_TRUE(commands.sent.empty());  // "Цикл" not ticked yet

    form.findChild<QCheckBox*>("Check1")->setChecked(true);
    form.Timer1_Timer();
    EXPECT_TRUE(commands.sent.empty());  // an empty buffer starts nothing
    form.Command7_Click();
    commands.sent.clear();
    for (int tick = 0; tick < 3; ++tick) {
        form.Timer1_Timer();
    }
    EXPECT_EQ(commands.sent, (std::vector<std::uint8_t>{64, 128, 64, 128, 64, 128}));
    EXPECT_EQ(frames.count(), 1u);
    EXPECT_TRUE(form.findChild<QTimer*>("Timer1")->isActive());
}

// The program's window: the link on a thread of its own with the real clock, a 65,000-byte frame
// in the emulated module, the VCD on a disk that is full.
struct WindowOnItsThread {
    WindowOnItsThread() {
        std::string error;
        vcd = lpt::VcdRecorder::open("/dev/full", lpt::VcdTime::Accesses, clock, error);
        link.setPortWatch(vcd.get());
        form.runLinkOnItsOwnThread([this] { clock.interrupt(); });
        form.watchVcd(*vcd, "/dev/full");
        form.setExitAction([this] { framesAtExit = frames.count(); });
        form.Form_Load();
    }
    static emulator::CameraModule::Options bigFrame() {
        emulator::CameraModule::Options options = capturingIn(std::chrono::microseconds(0));
        options.fixedFrame = std::vector<std::uint8_t>(65000, 0x5A);
        return options;
    }
    QString count() const { return form.findChild<QLineEdit*>("Text4")->text(); }

    struct Sends final : protocol::ExchangeTrace {
        void record(protocol::Direction d, std::span<const std::uint8_t>) override {
            count += d == protocol::Direction::ToModule ? 1 : 0;
        }
        std::atomic<int> count = 0;  // written on the link's thread
    } sends;
    emulator::InProcessSpiModule module{bigFrame()};
    session::RealClock clock;
    std::unique_ptr<lpt::VcdRecorder> vcd;
    lpt::SpiLink link{module.port, &sends};
    frames::FrameStore frames;
    testing_support::FakeDialogs dialogs;
    ui::SpiForm form{link, frames, clock, dialogs};
    std::optional<std::uint32_t> framesAtExit;
};

// The window's loop runs while the download does (the count moves), the VCD's failure is told
// without holding it, and "Выход" in the middle ends it before its next byte; the close box,
// idle, ends as well. Either way the link stops before the VCD ends, and the file that could not
// be written is said on standard error with status 1.
TEST(SpiWindowOnItsThread, EndsMidDownloadOrIdleWithTheVcdsFailureSaid) {
    for (const bool midDownload : {true, false}) {
        SCOPED_TRACE(midDownload);
        WindowOnItsThread w;
        testing::internal::CaptureStderr();
        if (midDownload) {
            w.form.Command12_Click();
            ASSERT_TRUE(QTest::qWaitFor([&] { return !w.form.linkBusy(); }));
            w.form.Command7_Click();
            ASSERT_TRUE(QTest::qWaitFor([&] {
                const int shown = w.count().toInt();
                return shown > 0 && shown < 65000;
            }));
            ASSERT_TRUE(QTest::qWaitFor([&] { return !w.dialogs.warnings.empty(); }));
            EXPECT_TRUE(w.form.linkBusy());  // the box held nothing
            w.form.Command5_Click();
            ASSERT_TRUE(w.framesAtExit.has_value());
            EXPECT_LT(*w.framesAtExit, 65000u);
            QTest::qWait(10);
            EXPECT_EQ(w.frames.count(), *w.framesAtExit);  // not a byte after the exit
        } else {
            w.form.show();
            ASSERT_TRUE(QTest::qWaitFor([&] { return !w.form.linkBusy(); }));
            w.form.close();
        }
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("/dev/full could not be written"), std::string::npos) << said;
        EXPECT_EQ(w.form.exitStatus(), 1);
        EXPECT_TRUE(w.vcd->closed());
    }
}

// "Выход" during a read-back's wait ends the wait at once, and no query goes out after it.
TEST(SpiWindowOnItsThread, ExitDuringAReadBackSendsNoMoreQueries) {
    WindowOnItsThread w;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.form.linkBusy(); }));
    const int before = w.sends.count;
    w.form.findChild<QPushButton*>("Command10")->click();  // four queries, a second apart
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.sends.count > before; }));
    testing::internal::CaptureStderr();
    w.form.Command5_Click();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(w.framesAtExit.has_value());
    EXPECT_EQ(w.sends.count, before + 1);
}
