// The serial window on a scripted line with a fake clock: the order of port calls, sends and
// speed changes its handlers make, what the controls show, and how faults reach the operator.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "support/fakes.h"
#include "support/scripted_serial_control.h"
#include "support/window_controls.h"
#include "ui/comtrak_form.h"
#include "ui/twips.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Call = testing_support::ScriptedSerialControl::Call;

class ComtrakWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        form.setExitAction([] {});
    }

    void load() {
        form.Form_Load();
        control.events.clear();
    }
    template <typename T>
    T* control_(const char* name) {
        return testing_support::findControl<T>(form, name);
    }
    void click(const char* name) { testing_support::clickControl(form, name); }
    QComboBox* speedBox() { return control_<QComboBox>("Combo4"); }
    QString countShown() { return control_<QLineEdit>("Text4")->text(); }
    bool timerRunning() { return control_<QTimer>("Timer1")->isActive(); }
    // A tick in the middle of an exchange leaves a waiting byte to the exchange.
    bool aTickTakesNothing() {
        control.incoming.push_back(0x77);
        form.Timer1_Timer();
        const bool left = !control.incoming.empty();
        control.incoming.clear();
        return left;
    }
    // The module answers a request byte with `reply`.
    void answerRequestsWith(Bytes reply) {
        control.module = [this, reply](const Bytes& sent) {
            if (sent.size() == 1 && protocol::registerForRequest(sent[0])) {
                control.arrive(reply);
            }
        };
    }
    void pickPort(int index) { testing_support::pickEntry(form, "Combo1", index); }

    testing_support::FakeClock clock;
    testing_support::ScriptedSerialControl control{&clock};
    testing_support::FakeDialogs dialogs;
    serial::SerialLink link{control, clock};
    frames::FrameStore frames;
    ui::ComtrakForm form{control, link, frames, clock, dialogs};
};

TEST_F(ComtrakWindow, StartOpensCom2At2400AndShowsTheLinkControls) {
    frames.storeAll(Bytes{1, 2, 3});
    form.Form_Load();
    ASSERT_EQ(control.events.size(), 3u);
    EXPECT_EQ(control.events[0].call, Call::Settings);
    EXPECT_EQ(control.events[0].settings, "2400,N,8,1");
    EXPECT_EQ(control.events[1].call, Call::CommPort);
    EXPECT_EQ(control.events[1].port, 2);
    EXPECT_EQ(control.events[2].call, Call::Open);
    EXPECT_TRUE(control.isOpen());
    EXPECT_TRUE(control.outputs().empty());  // nothing is sent at start
    EXPECT_EQ(frames.count(), 0u);
    EXPECT_TRUE(timerRunning());
    EXPECT_LE(control_<QTimer>("Timer1")->interval(), 16);  // no operator tells it from 1 ms

    EXPECT_EQ(form.windowTitle(), "Программа для работы с модулем камеры по RS-232");
    EXPECT_EQ(control_<QComboBox>("Combo1")->currentText(), "COM2");
    EXPECT_EQ(control_<QComboBox>("Combo1")->count(), 4);
    EXPECT_EQ(speedBox()->currentText(), "2400");
    ASSERT_EQ(speedBox()->count(), 10);
    EXPECT_EQ(speedBox()->itemText(4), "14400");
    EXPECT_EQ(speedBox()->itemText(9), "115200");
    EXPECT_TRUE(speedBox()->isEditable());
    EXPECT_EQ(countShown(), "0");

    const struct {
        const char* name;
        const char* caption;
        QRect geometry;
    } expected[] = {
        {"Label6", "Настройка UART", ui::twipRect(120, 120, 2055, 255)},
        {"Label5", "Порт компьютера ", ui::twipRect(120, 480, 1575, 255)},
        {"Label7", "Скорость передачи", ui::twipRect(120, 960, 1815, 255)},
        {"Command13", "Считать", ui::twipRect(1800, 1320, 1215, 375)},
        {"Command15", "Записать", ui::twipRect(3120, 1320, 1215, 375)},
        {"Command12", "Сформировать кадр", ui::twipRect(5160, 5160, 1935, 375)},
        {"Label4", "Принято байт", ui::twipRect(7200, 5400, 1335, 255)},
    };
    for (const auto& e : expected) {
        QWidget* widget = control_<QWidget>(e.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), e.geometry) << e.name;
        const QString text = widget->property("text").toString();
        EXPECT_EQ(text, QString::fromUtf8(e.caption)) << e.name;
    }
    EXPECT_EQ(control_<QComboBox>("Combo4")->geometry(), ui::twipRect(2280, 960, 1095, 315));
    EXPECT_EQ(control_<QComboBox>("Combo1")->geometry(), ui::twipRect(2280, 480, 1095, 315));
    EXPECT_TRUE(control_<QLabel>("Label6")->font().bold());
}

TEST_F(ComtrakWindow, SpeedWriteTellsTheModuleAtTheOldSpeedAndFollowsASecondLater) {
    load();
    bool nothingTakenDuringWait = false;
    clock.duringWait = [&] { nothingTakenDuringWait = aTickTakesNothing(); };
    speedBox()->setCurrentText("115200");
    click("Command15");

    ASSERT_EQ(control.events.size(), 2u);
    EXPECT_EQ(control.events[0].call, Call::Output);
    EXPECT_EQ(control.events[0].bytes, (Bytes{17, 11}));
    EXPECT_EQ(control.events[0].settings, "2400,N,8,1");
    EXPECT_EQ(control.events[1].call, Call::Settings);
    EXPECT_EQ(control.events[1].settings, "115200,N,8,1");
    EXPECT_GE(control.events[1].at - control.events[0].at, std::chrono::seconds(1));
    EXPECT_TRUE(nothingTakenDuringWait);
    EXPECT_TRUE(timerRunning());
    EXPECT_TRUE(control.isOpen());
    EXPECT_TRUE(dialogs.warnings.empty());

    // Blanks around the text are no part of it.
    control.events.clear();
    speedBox()->setCurrentText(" 9600 ");
    click("Command15");
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{17, 4}}));
    EXPECT_EQ(control.settings(), "9600,N,8,1");
}

TEST_F(ComtrakWindow, SpeedWriteOfATextThatIsNoSpeedSendsNothingAndKeepsTheLine) {
    load();
    for (const char* text : {"9601", "", "38400 baud", "0"}) {
        SCOPED_TRACE(text);
        dialogs.warnings.clear();
        speedBox()->setCurrentText(text);
        click("Command15");
        EXPECT_TRUE(control.events.empty());
        EXPECT_EQ(control.settings(), "2400,N,8,1");
        ASSERT_EQ(dialogs.warnings.size(), 1u);
        EXPECT_TRUE(dialogs.warnings[0].text.contains("2400,N,8,1"));
        EXPECT_TRUE(timerRunning());
    }
}

TEST_F(ComtrakWindow, SpeedWriteThatTheLineRefusesIsReported) {
    load();
    control.refusedBauds = {28800};
    speedBox()->setCurrentText("28800");
    click("Command15");
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{17, 7}}));
    EXPECT_EQ(control.settings(), "2400,N,8,1");
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(timerRunning());
}

TEST_F(ComtrakWindow, SpeedReadShowsTheModulesSpeedAndKeepsRepliesOutOfTheFrame) {
    load();
    answerRequestsWith({9});
    click("Command13");
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{1}}));
    EXPECT_EQ(speedBox()->currentText(), "38400");
    // The PC's line is not touched by a read.
    EXPECT_EQ(control.settings(), "2400,N,8,1");
    EXPECT_TRUE(timerRunning());

    // A code of no speed leaves the box as it was, and is no fault.
    answerRequestsWith({8});
    click("Command13");
    EXPECT_EQ(speedBox()->currentText(), "38400");
    EXPECT_TRUE(dialogs.warnings.empty());

    // Bytes more than the reply: no speed is shown that may not be the module's, the operator
    // hears why, and not one of the bytes reaches the frame.
    answerRequestsWith({2, 0xAA, 0xBB});
    click("Command13");
    EXPECT_EQ(speedBox()->currentText(), "38400");
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(dialogs.warnings[0].text.contains("ответ под сомнением"));
    form.Timer1_Timer();
    EXPECT_EQ(frames.count(), 0u);
    EXPECT_EQ(countShown(), "0");
}

TEST_F(ComtrakWindow, SpeedReadWithoutAnAnswerTellsTheOperatorAndResumesReception) {
    load();
    bool nothingTakenDuringWait = true;
    clock.duringWait = [&] {
        nothingTakenDuringWait = nothingTakenDuringWait && aTickTakesNothing();
    };
    click("Command13");
    EXPECT_TRUE(nothingTakenDuringWait);
    EXPECT_EQ(speedBox()->currentText(), "2400");
    EXPECT_TRUE(timerRunning());
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(dialogs.warnings[0].text.contains("COM2"));
}

class ComtrakWindowClosedInAQuery : public ComtrakWindow,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(ComtrakWindowClosedInAQuery, TellsNobody) {
    load();
    form.show();
    clock.duringWait = [&] {
        if (form.isVisible()) {
            form.close();
        }
    };
    click(GetParam());
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(dialogs.warnings.empty());
    EXPECT_FALSE(timerRunning());
}

// The speed read-back and a settings read-back (compression).
INSTANTIATE_TEST_SUITE_P(ReadBacks, ComtrakWindowClosedInAQuery,
                         ::testing::Values("Command13", "Command9"));

TEST_F(ComtrakWindow, ResetSendsTheCommandAndReturnsTheLineTo2400WhileReceptionRuns) {
    load();
    speedBox()->setCurrentText("57600");
    click("Command15");
    control.events.clear();
    // A frame on its way goes on arriving through the reset's wait.
    clock.duringWait = [&] {
        if (frames.count() == 0) {
            control.arrive({0xAB});
        }
    };
    click("Command3");
    ASSERT_EQ(control.events.size(), 2u);
    EXPECT_EQ(control.events[0].bytes, (Bytes{192}));
    EXPECT_EQ(control.events[0].settings, "57600,N,8,1");
    EXPECT_EQ(control.events[1].settings, "2400,N,8,1");
    EXPECT_GE(control.events[1].at - control.events[0].at, std::chrono::seconds(1));
    EXPECT_EQ(frames.count(), 1u);
    EXPECT_EQ(countShown(), "1");
    EXPECT_EQ(speedBox()->currentText(), "57600");
}

TEST_F(ComtrakWindow, PortChoiceReopensAtTheSpeedInForce) {
    load();
    speedBox()->setCurrentText("9600");
    click("Command15");
    control.events.clear();
    pickPort(2);
    ASSERT_EQ(control.events.size(), 3u);
    EXPECT_EQ(control.events[0].call, Call::Close);
    EXPECT_EQ(control.events[0].port, 2);
    EXPECT_EQ(control.events[1].call, Call::CommPort);
    EXPECT_EQ(control.events[1].port, 3);
    EXPECT_EQ(control.events[2].call, Call::Open);
    EXPECT_EQ(control.events[2].settings, "9600,N,8,1");
    // The port in use, picked again, is closed and opened again too.
    control.events.clear();
    pickPort(2);
    EXPECT_EQ(control.events.size(), 3u);
    // Typing in the port box chooses nothing.
    control.events.clear();
    control_<QComboBox>("Combo1")->setCurrentText("COM1");
    EXPECT_TRUE(control.events.empty());
}

TEST_F(ComtrakWindow, APortThatDoesNotOpenIsNamedAndAnotherCanBeChosen) {
    control.failingPorts[2] = {serial::OpenFault::NoPermission, "/dev/ttyS1", "Permission denied"};
    form.Form_Load();
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    const QString& text = dialogs.warnings[0].text;
    EXPECT_TRUE(text.contains("COM2")) << text.toStdString();
    EXPECT_TRUE(text.contains("/dev/ttyS1"));
    EXPECT_TRUE(text.contains("Permission denied"));
    EXPECT_TRUE(text.contains("dialout"));
    EXPECT_TRUE(timerRunning());

    // Sends and polls on the closed port do nothing; the first operation says why, and while the
    // link stays down the title says so instead of a box for each operation.
    click("Command12");
    click("Command7");
    form.Timer1_Timer();
    click("Command13");
    EXPECT_TRUE(control.outputs().empty());
    ASSERT_EQ(dialogs.warnings.size(), 2u);
    EXPECT_TRUE(dialogs.warnings[1].text.contains("COM2 (/dev/scripted2): порт не открыт."))
        << dialogs.warnings[1].text.toStdString();
    EXPECT_TRUE(form.windowTitle().endsWith("НЕТ СВЯЗИ"));

    control.failingPorts[4] = {serial::OpenFault::NotFound, "/dev/ttyS3", "No such file"};
    pickPort(3);
    ASSERT_EQ(dialogs.warnings.size(), 3u);
    EXPECT_TRUE(dialogs.warnings[2].text.contains("COM4"));
    pickPort(0);
    EXPECT_EQ(dialogs.warnings.size(), 3u);
    EXPECT_TRUE(control.isOpen());
    click("Command12");
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{64}}));
    EXPECT_EQ(form.windowTitle(), ui::ComtrakForm::caption());  // up again
    // Down again: told again.
    control.close();
    click("Command12");
    EXPECT_EQ(dialogs.warnings.size(), 4u);
}

TEST_F(ComtrakWindow, FrameButtonsSendOneCommandByteAndTicksAppendWhatArrives) {
    load();
    click("Command12");
    click("Command7");
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{64}, {128}}));
    EXPECT_EQ(frames.count(), 0u);

    Bytes first(37);
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<std::uint8_t>(i * 7);
    }
    first.front() = 0;
    first.back() = 255;
    control.arrive(first);
    form.Timer1_Timer();
    EXPECT_EQ(frames.count(), 37u);
    EXPECT_TRUE(std::ranges::equal(frames.frame(), first));
    EXPECT_EQ(countShown(), "37");

    // A tick with nothing waiting still looks, stores nothing and leaves the count alone.
    const int looks = control.inputCalls;
    control_<QLineEdit>("Text4")->setText("marker");
    form.Timer1_Timer();
    EXPECT_EQ(control.inputCalls, looks + 1);
    EXPECT_EQ(control_<QLineEdit>("Text4")->text(), "marker");

    // A second read without a clear goes after the first.
    control.arrive({10, 13, 26});
    form.Timer1_Timer();
    EXPECT_EQ(frames.count(), 40u);
    EXPECT_EQ(frames.frame()[37], 10);
    EXPECT_EQ(countShown(), "40");
}

TEST_F(ComtrakWindow, AnIdleLineLetsTimer1StopAndTheLinesEventsWakeIt) {
    load();
    const auto stops = [this] { return QTest::qWaitFor([this] { return !timerRunning(); }); };
    ASSERT_TRUE(stops());  // no frame awaited, nothing arriving, no cycle
    control.arrive(Bytes{0xFF, 0xD8});
    EXPECT_EQ(countShown(), "0");  // not inside the call that told of them
    QCoreApplication::processEvents();
    EXPECT_EQ(countShown(), "2");
    EXPECT_TRUE(timerRunning());  // the frame's end is the line's quiet, seen at the ticks
    clock.waitBlocking(serial::FrameEnd::idleTimeFor(control.baud()));
    ASSERT_TRUE(stops());

    click("Command7");  // a frame awaited is watched for at the ticks
    EXPECT_TRUE(timerRunning());
    clock.waitBlocking(std::chrono::seconds(2));
    ASSERT_TRUE(stops());
    control_<QAbstractButton>("Check1")->setChecked(true);  // the cycle's test runs at the ticks
    EXPECT_TRUE(timerRunning());
}

TEST_F(ComtrakWindow, AFullBufferDropsTheRestAndSaysSoOnceAfterTheTick) {
    load();
    frames.storeAll(Bytes(frames::FrameStore::kCapacity - 2, 0x11));
    control.arrive({1, 2, 3, 4});
    form.Timer1_Timer();
    EXPECT_EQ(frames.count(), frames::FrameStore::kCapacity);
    EXPECT_EQ(frames.frame().back(), 2);
    EXPECT_EQ(countShown(), QString::number(frames::FrameStore::kCapacity));
    // Not from inside the tick: the box comes once the tick has returned.
    EXPECT_TRUE(dialogs.warnings.empty());
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.warnings.size(), 1u);

    control.arrive({5, 6});
    form.Timer1_Timer();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.warnings.size(), 1u);

    // After a clear (once the frame has ended) the next overflow is a new frame's, and is
    // reported again.
    clock.waitBlocking(std::chrono::milliseconds(100));
    form.Timer1_Timer();
    click("Command8");
    control.arrive(Bytes(100, 0x22));
    form.Timer1_Timer();
    frames.storeAll(Bytes(frames::FrameStore::kCapacity - 100, 0x22));
    control.arrive({7});
    form.Timer1_Timer();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.warnings.size(), 2u);
}

TEST_F(ComtrakWindow, ALineFaultIsShownAfterTheTick) {
    load();
    control.pendingFault = serial::LineFault{true, "Input/output error"};
    control.arrive({1, 2});
    form.Timer1_Timer();
    EXPECT_EQ(frames.count(), 2u);
    EXPECT_TRUE(dialogs.warnings.empty());
    QCoreApplication::processEvents();
    form.Timer1_Timer();
    QCoreApplication::processEvents();
    ASSERT_EQ(dialogs.warnings.size(), 1u);
    // Said in the window's words, with the system's own after them.
    EXPECT_EQ(dialogs.warnings[0].text,
              "Ошибка линии.\nCOM2 (/dev/scripted2): линия оборвалась (устройство отключено).\n"
              "Сообщение системы: Input/output error");
}

// While bytes arrive, reset, clear, the port box and the settings stay usable, and a register
// write goes out between frame bytes with the frame stored whole. Only capture and frame read wait
// for a frame asked for; bytes that keep coming unasked (a babbling line) hold nothing.
TEST_F(ComtrakWindow, WhileBytesArriveOnlyCaptureAndFrameReadWait) {
    load();
    const auto usable = [this](const char* name) { return control_<QWidget>(name)->isEnabled(); };
    const char* const alwaysUsable[] = {"Command3", "Command8", "Combo1",    "Slider2",
                                        "Combo2",   "Command9", "Command13", "Check3"};
    for (const bool asked : {false, true}) {
        SCOPED_TRACE(asked ? "a frame asked for" : "a babbling line");
        frames.clear();
        control.events.clear();
        if (asked) {
            click("Command7");
        }
        for (int tick = 0; tick < 5; ++tick) {
            control.arrive({static_cast<std::uint8_t>(tick)});
            form.Timer1_Timer();
            clock.waitBlocking(std::chrono::milliseconds(20));
        }
        for (const char* name : alwaysUsable) {
            EXPECT_TRUE(usable(name)) << name;
        }
        EXPECT_EQ(usable("Command7"), !asked);
        EXPECT_EQ(usable("Command12"), !asked);
        control_<QSlider>("Slider2")->setValue(asked ? 10 : 11);
        control.arrive({5, 6});
        form.Timer1_Timer();
        EXPECT_EQ(control.outputs().back(),
                  (Bytes{20, static_cast<std::uint8_t>(asked ? 40 : 44)}));
        EXPECT_EQ(std::vector<std::uint8_t>(frames.frame().begin(), frames.frame().end()),
                  (Bytes{0, 1, 2, 3, 4, 5, 6}));
    }
}

// Ticks every millisecond for `ms` milliseconds with nothing arriving.
void quietTicks(ui::ComtrakForm& form, testing_support::FakeClock& clock, int ms) {
    for (int i = 0; i < ms; ++i) {
        clock.waitBlocking(std::chrono::milliseconds(1));
        form.Timer1_Timer();
    }
}

TEST_F(ComtrakWindow, CycleStepsOnlyOnceTheLineHasBeenQuietForItsIdleTime) {
    load();
    ASSERT_TRUE(control.setBaud(9600));
    control_<QAbstractButton>("Check1")->setChecked(true);
    control.arrive({1, 2, 3});
    form.Timer1_Timer();
    EXPECT_TRUE(control.outputs().empty());  // bytes came: the frame is still arriving

    // A 20 ms gap inside the frame, as a USB adapter makes: no step, the frame is not cut.
    quietTicks(form, clock, 20);
    EXPECT_TRUE(control.outputs().empty());
    control.arrive({4, 5});
    form.Timer1_Timer();
    EXPECT_EQ(frames.count(), 5u);

    // 50 ms of quiet at 9600 baud end the frame: view, clear, capture, a second, read.
    quietTicks(form, clock, 49);
    EXPECT_TRUE(control.outputs().empty());
    quietTicks(form, clock, 1);
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{64}, {128}}));
    EXPECT_EQ(frames.count(), 0u);
    EXPECT_TRUE(timerRunning());

    // The read brought nothing within the reply time: the cycle stops by itself, "Цикл" still
    // ticked...
    quietTicks(form, clock, 1100);
    EXPECT_EQ(control.outputs().size(), 2u);
    // ...and a manual read that brings bytes starts it again.
    control.module = [this](const Bytes& sent) {
        if (sent == Bytes{128}) {
            control.arrive({9, 9, 9});
        }
    };
    click("Command7");
    form.Timer1_Timer();
    quietTicks(form, clock, 50);
    EXPECT_EQ(control.outputs().size(), 5u);  // 128 by hand, then 64 and 128 of the next step
}

TEST_F(ComtrakWindow, SlowLinesWaitTwentyCharacterTimes) {
    EXPECT_EQ(serial::FrameEnd::idleTimeFor(115200), std::chrono::milliseconds(50));
    EXPECT_EQ(serial::FrameEnd::idleTimeFor(9600), std::chrono::milliseconds(50));
    EXPECT_EQ(serial::FrameEnd::idleTimeFor(1200), std::chrono::microseconds(166666));
    load();
    ASSERT_TRUE(control.setBaud(1200));
    control_<QAbstractButton>("Check1")->setChecked(true);
    control.arrive({1});
    form.Timer1_Timer();
    quietTicks(form, clock, 160);
    EXPECT_TRUE(control.outputs().empty());
    quietTicks(form, clock, 10);
    EXPECT_EQ(control.outputs().size(), 2u);
}

TEST_F(ComtrakWindow, CameraSettingsGoOutOverTheSerialLink) {
    load();
    answerRequestsWith({0x0B});  // compression 3, black-and-white
    control_<QAbstractButton>("Command9")->click();
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{0}}));
    EXPECT_EQ(control_<QComboBox>("Combo2")->currentText(), "3");
    EXPECT_EQ(control_<QComboBox>("Combo3")->currentText(), "Черно-белый");
    EXPECT_TRUE(timerRunning());
    EXPECT_EQ(frames.count(), 0u);
    // The entries shown are the current ones: Down picks the next after them.
    control.events.clear();
    QTest::keyClick(control_<QComboBox>("Combo2"), Qt::Key_Down);
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{16, 4 + 8}}));
}

// Typing into a box and pressing Enter is no pick from its list: nothing is sent, no port is
// chosen, the list gains nothing and the box keeps the typed text.
TEST_F(ComtrakWindow, TypedTextAndEnterRunNothingAndAddNothing) {
    load();
    const struct {
        const char* box;
        const char* typed;
    } cases[] = {{"Combo1", "COM7"},        {"Combo1", "COM1"}, {"Combo2", "5"},
                 {"Combo3", "Черно-белый"}, {"Combo4", "9600"}, {"Combo4", "300"},
                 {"Combo5", "160x120"},     {"Combo5", "64x64"}};
    for (const auto& c : cases) {
        QComboBox* box = control_<QComboBox>(c.box);
        const int entries = box->count();
        box->clearEditText();
        for (const QChar ch : QString::fromUtf8(c.typed)) {  // keyClicks takes ASCII only
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        }
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Enter);
        EXPECT_TRUE(control.events.empty()) << c.box << " " << c.typed;
        EXPECT_EQ(clock.blockingWaits, 0) << c.box << " " << c.typed;
        EXPECT_EQ(box->count(), entries) << c.box << " " << c.typed;
        EXPECT_EQ(box->currentText(), QString::fromUtf8(c.typed)) << c.box;
    }
}

// A pick from the list runs the box's handler once: by the Down key on the closed box (from the
// entry shown at start), by the keyboard in the open list, by the mouse. The speed box runs
// nothing on a pick.
TEST_F(ComtrakWindow, APickFromTheListRunsItsHandlerOnce) {
    load();
    form.show();
    QTest::keyClick(control_<QComboBox>("Combo2"), Qt::Key_Down);  // "2" -> "3"
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{16, 3}}));
    EXPECT_EQ(clock.blockingWaits, 1);

    control.events.clear();
    QTest::keyClick(speedBox(), Qt::Key_Down);
    EXPECT_EQ(speedBox()->currentText(), "4800");
    EXPECT_TRUE(control.events.empty());

    QComboBox* sizes = control_<QComboBox>("Combo5");
    sizes->showPopup();
    QTest::keyClick(sizes->view(), Qt::Key_Down);
    QTest::keyClick(sizes->view(), Qt::Key_Return);
    EXPECT_EQ(sizes->currentText(), "320x240");
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{55, 1, 64}, {56, 0, 240}}));

    control.events.clear();
    QComboBox* ports = control_<QComboBox>("Combo1");
    ports->showPopup();
    QAbstractItemView* list = ports->view();
    const QPoint com4 = list->visualRect(list->model()->index(3, 0)).center();
    QTest::mouseMove(list->viewport(), com4);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, com4);
    ASSERT_EQ(control.events.size(), 3u);
    EXPECT_EQ(control.events[1].call, Call::CommPort);
    EXPECT_EQ(control.events[1].port, 4);
}

// Typing ended by Tab or a click elsewhere is no pick, nor is a wheel over a box without the
// focus: nothing sent, no port chosen, no freeze; the typed text is left for the buttons.
TEST_F(ComtrakWindow, LeavingABoxOrAWheelOverItRunsNothing) {
    load();
    const testing_support::Typed cases[] = {{"Combo1", "COM1"},
                                            {"Combo2", "3"},
                                            {"Combo3", "Черно-белый"},
                                            {"Combo4", "9600"},
                                            {"Combo5", "160x120"}};
    testing_support::typeAndLeave(form, cases, "Command9", [this] {
        return control.events.empty() && clock.blockingWaits == 0 && clock.yieldingWaits == 0;
    });
    testing_support::turnWheel(testing_support::focusControl(form, "Combo2"), 1);  // focused
    EXPECT_EQ(control.outputs(), (std::vector<Bytes>{{16, 3 + 8}}));  // "2" -> "3", black-and-white
}

TEST_F(ComtrakWindow, ClosingTheWindowClosesThePortAndStopsReception) {
    load();
    form.close();
    EXPECT_FALSE(control.isOpen());
    EXPECT_FALSE(timerRunning());
    ASSERT_EQ(control.events.size(), 1u);
    EXPECT_EQ(control.events[0].call, Call::Close);
}

}  // namespace
