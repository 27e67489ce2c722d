// The settings controls over a scripted link: the bytes and waits each handler makes, what the
// controls show after a read-back, and their enabled-state rules, for both programs' waits.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QWidget>
#include <deque>
#include <map>

#include "ui/list_box.h"
#include "ui/settings_panel.h"

using namespace protocol;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A link that records every exchange in order and answers reads from a script; an exhausted
// script is a module that does not answer.
class ScriptedLink final : public ModuleLink {
  public:
    std::string name() const override { return "scripted"; }
    void send(std::span<const std::uint8_t> bytes) override {
        log.push_back("send " + hex(Bytes(bytes.begin(), bytes.end())));
    }
    std::optional<std::uint8_t> readOne() override {
        log.push_back("read1");
        if (replies.empty()) {
            return std::nullopt;
        }
        const auto b = replies.front();
        replies.pop_front();
        return b;
    }
    std::optional<std::pair<std::uint8_t, std::uint8_t>> readTwo() override {
        log.push_back("read2");
        if (replies.size() < 2) {
            return std::nullopt;
        }
        const auto h = replies.front();
        replies.pop_front();
        const auto l = replies.front();
        replies.pop_front();
        return std::pair{h, l};
    }
    static std::string hex(const Bytes& bytes) {
        std::string out;
        for (auto b : bytes) {
            if (!out.empty()) {
                out += ',';
            }
            out += std::to_string(b);
        }
        return out;
    }
    std::vector<std::string> log;
    std::deque<std::uint8_t> replies;
};

// A clock whose waits are logged into the same sequence as the link's exchanges.
class LoggingClock final : public Clock {
  public:
    explicit LoggingClock(std::vector<std::string>& log) : log_(log) {}
    TimePoint now() const override { return {}; }
    void waitYielding(Duration d) override {
        log_.push_back("wait " +
                       std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()));
    }
    void waitBlocking(Duration d) override {
        log_.push_back("freeze " +
                       std::to_string(std::chrono::duration_cast<std::chrono::seconds>(d).count()));
    }
    void yieldOnce() override {}

  private:
    std::vector<std::string>& log_;
};

// A session over the scripted link; frames and reset belong to the programs' own sessions.
class ScriptedSession final : public session::ModuleSession {
  public:
    using ModuleSession::ModuleSession;
    Result<session::FrameFetch> readFrame(frames::FrameStore&,
                                          const session::FetchProgress&) override {
        return session::FrameFetch{};
    }
    Result<void> reset() override { return {}; }
};

// The window around the controls: its operations run inline, its timer and indicator log into
// the link's sequence.
class FakeHost final : public ui::SettingsHost {
  public:
    FakeHost(std::vector<std::string>& log, bool indicator, const session::ModuleSession& session)
        : log_(log), indicator_(indicator), session_(session) {}
    bool post(session::LinkOwner::Job job, session::LinkOwner::Job done) override {
        return owner_.post(std::move(job), std::move(done));
    }
    void tell(session::LinkOwner::Job job) override { owner_.tell(std::move(job)); }
    bool operating() const override { return session_.operationOpen(); }
    void showBusy() override {
        if (indicator_) {
            log_.push_back("BUSY");
        }
    }
    void showReady() override {
        if (indicator_) {
            log_.push_back("READY");
        }
    }
    void tellOperator(const QString&, const QString& text) override {
        told.push_back(text.toStdString());
    }
    void tellLinkFault(const LinkFault& fault) override { told.push_back(fault.systemText()); }
    void tellNoAnswer(const LinkFault& fault) override { told.push_back(fault.systemText()); }

    std::vector<std::string> told;

  private:
    std::vector<std::string>& log_;
    bool indicator_;
    const session::ModuleSession& session_;
    session::InlineLinkOwner owner_;
};

struct Program {
    session::SessionWaits waits;
    bool parallel;  // the SPI program: waits between reads, shows the indicator
};

class Settings : public ::testing::TestWithParam<Program> {
  protected:
    Settings()
        : clock(link.log),
          session(link, clock, GetParam().waits),
          host(link.log, GetParam().parallel, session),
          panel(&window, host, ui::kParallelPortLayout, session) {}
    bool parallel() const { return GetParam().parallel; }
    std::vector<std::string>& log() { return link.log; }
    template <class T>
    T* control(const char* name) {
        return window.findChild<T*>(name);
    }
    void type(const char* box, const char* text) {
        ui::showInBox(control<QComboBox>(box), QString::fromUtf8(text));
    }
    std::string shown(const char* name) {
        if (auto* box = control<QComboBox>(name)) {
            return box->currentText().toStdString();
        }
        return control<QLineEdit>(name)->text().toStdString();
    }
    std::vector<int> sliders() {
        std::vector<int> values;
        for (const char* name : {"Slider1", "Slider2", "Slider3", "Slider4"}) {
            values.push_back(control<QSlider>(name)->value());
        }
        return values;
    }
    bool enabled(const char* name) { return window.findChild<QWidget*>(name)->isEnabled(); }

    ScriptedLink link;
    LoggingClock clock;
    ScriptedSession session;
    FakeHost host;
    QWidget window;
    ui::SettingsPanel panel;
};

using Log = std::vector<std::string>;

}  // namespace

INSTANTIATE_TEST_SUITE_P(BothPrograms, Settings,
                         ::testing::Values(Program{{false, true}, true},
                                           Program{{true, false}, false}),
                         [](const auto& instance) {
                             return instance.param.parallel ? "Spi" : "Comtrak";
                         });

TEST_P(Settings, SlidersWriteTheirScaledStep) {
    control<QSlider>("Slider2")->setValue(40);
    control<QSlider>("Slider1")->setValue(25);
    control<QSlider>("Slider4")->setValue(63);
    EXPECT_EQ(log(), (Log{"send 20,160", "send 19,250", "send 22,252"}));
}

TEST_P(Settings, CompressionAndColourPickedTogether) {
    type("Combo2", "3");
    type("Combo3", "Черно-белый");
    panel.Combo3_Click();
    Log expected{"send 16,11"};
    if (!parallel()) {
        expected.push_back("freeze 3");  // the serial program holds still while the module works
    }
    EXPECT_EQ(log(), expected);

    log().clear();
    type("Combo2", " 5 ");  // typed, not picked
    type("Combo3", "Цветной");
    panel.Combo2_Click();
    EXPECT_EQ(log().front(), "send 16,5");

    log().clear();
    type("Combo2", "2");
    type("Combo3", "черно-белый");  // only the exact text means black-and-white
    panel.Combo2_Click();
    EXPECT_EQ(log().front(), "send 16,2");
    EXPECT_EQ(ui::colourModeText(ColourMode::BlackAndWhite), QStringLiteral("Черно-белый"));
    EXPECT_EQ(ui::colourModeText(ColourMode::Colour), QStringLiteral("Цветной"));
}

TEST_P(Settings, CompressionThatDoesNotFitAByteIsRefused) {
    for (const char* typed : {"300", "-1", "250"}) {
        type("Combo2", typed);
        type("Combo3", "Черно-белый");  // 250 + 8 does not fit either
        panel.Combo2_Click();
    }
    EXPECT_TRUE(log().empty());
    ASSERT_EQ(host.told.size(), 3u);
    EXPECT_NE(host.told[0].find("от 0 до 247"), std::string::npos) << host.told[0];
    type("Combo2", "247");
    panel.Combo2_Click();
    EXPECT_EQ(log().front(), "send 16,255");
}

TEST_P(Settings, StandardSizeWidthThenASecondThenHeight) {
    type("Combo5", " 352x288 ");
    panel.Combo5_Click();
    EXPECT_EQ(log(), (Log{"send 55,1,96", "wait 1", "send 56,1,32"}));
    log().clear();
    type("Combo5", "320x240");
    panel.Combo5_Click();
    EXPECT_EQ(log(), (Log{"send 55,1,64", "wait 1", "send 56,0,240"}));
}

TEST_P(Settings, ArbitrarySizeIsRoundedAndHeldInRange) {
    struct Case {
        const char* w;
        const char* h;
        const char* shownW;
        const char* shownH;
        Log wire;
    };
    const Case cases[] = {
        {"100", "50", "96", "48", {"send 55,0,96", "wait 1", "send 56,0,48"}},
        {"1000", "1000", "352", "320", {"send 55,1,96", "wait 1", "send 56,1,64"}},
        {"abc", "", "32", "32", {"send 55,0,32", "wait 1", "send 56,0,32"}},
        {"-50", "47.5", "32", "48", {"send 55,0,32", "wait 1", "send 56,0,48"}},
        {"63.5", "300", "64", "288", {"send 55,0,64", "wait 1", "send 56,1,32"}},
    };
    for (const Case& c : cases) {
        log().clear();
        control<QLineEdit>("Text5")->setText(c.w);
        control<QLineEdit>("Text6")->setText(c.h);
        panel.Command4_Click();
        EXPECT_EQ(shown("Text5"), c.shownW) << c.w;
        EXPECT_EQ(shown("Text6"), c.shownH) << c.h;
        EXPECT_EQ(log(), c.wire) << c.w << " x " << c.h;
    }
}

TEST_P(Settings, EnabledStatesThroughArbitraryAndTestMode) {
    control<QCheckBox>("Check2")->setChecked(true);
    EXPECT_TRUE(enabled("Command4"));
    EXPECT_FALSE(enabled("Combo5"));

    control<QCheckBox>("Check3")->setChecked(true);
    for (const char* c : {"Combo5", "Check2", "Text5", "Text6", "Slider1"}) {
        EXPECT_FALSE(enabled(c)) << c;
    }
    EXPECT_TRUE(enabled("Command4"));  // test mode leaves "Записать" as it was
    EXPECT_EQ(log(), (Log{"send 160"}));

    // Leaving test mode enables the frame-size box even with "Произвольный" ticked.
    control<QCheckBox>("Check3")->setChecked(false);
    EXPECT_TRUE(enabled("Combo5"));
    EXPECT_TRUE(enabled("Command4"));
    EXPECT_EQ(log().back(), "send 161");

    control<QCheckBox>("Check2")->setChecked(false);
    EXPECT_FALSE(enabled("Command4"));
    EXPECT_TRUE(enabled("Combo5"));
    EXPECT_EQ(log().size(), 2u);  // the tick itself sends nothing
}

TEST_P(Settings, CompressionReadBack) {
    link.replies = {10};
    panel.Command9_Click();
    EXPECT_EQ(shown("Combo2"), "2");
    EXPECT_EQ(shown("Combo3"), "Черно-белый");
    const Log expected =
        parallel() ? Log{"BUSY", "send 0", "read1", "READY"} : Log{"send 0", "read1"};
    EXPECT_EQ(log(), expected);

    link.replies = {255};
    panel.Command9_Click();
    EXPECT_EQ(shown("Combo2"), "7");
    EXPECT_EQ(shown("Combo3"), "Черно-белый");
    link.replies = {6};
    panel.Command9_Click();
    EXPECT_EQ(shown("Combo3"), "Цветной");
}

TEST_P(Settings, LevelsReadBackMovesSlidersAfterAllReadsAndWritesThemBack) {
    link.replies = {57, 128, 128, 128};
    panel.Command10_Click();
    EXPECT_THAT(sliders(), ElementsAre(5, 32, 32, 32));
    Log expected;
    if (parallel()) {
        expected.push_back("BUSY");
    }
    for (int request = 3; request <= 6; ++request) {
        expected.push_back("send " + std::to_string(request));
        expected.push_back("read1");
        if (parallel() && request < 6) {
            expected.push_back("wait 1");
        }
    }
    // Every slider that moved writes its register again, after the last read.
    for (const char* w : {"send 19,50", "send 20,128", "send 21,128", "send 22,128"}) {
        expected.push_back(w);
    }
    if (parallel()) {
        expected.push_back("READY");
    }
    EXPECT_EQ(log(), expected);

    // A slider already at the position read back writes nothing.
    log().clear();
    link.replies = {50, 128, 128, 255};
    panel.Command10_Click();
    EXPECT_THAT(sliders(), ElementsAre(5, 32, 32, 63));
    const auto writes = std::count_if(log().begin(), log().end(), [](const std::string& l) {
        return l.rfind("send 2", 0) == 0 && l.size() > 7;
    });
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(std::find(log().begin(), log().end(), "send 22,252") != log().end(), true);
}

TEST_P(Settings, FrameSizeReadBackStandardAndArbitrary) {
    type("Combo5", "352x288");
    link.replies = {1, 64, 0, 240};
    panel.Command1_Click();
    EXPECT_EQ(shown("Combo5"), "320x240");
    EXPECT_FALSE(control<QCheckBox>("Check2")->isChecked());
    const auto waits = std::count(log().begin(), log().end(), "wait 1");
    EXPECT_EQ(waits, parallel() ? 1 : 0);
    EXPECT_EQ(std::find(log().begin(), log().end(), "send 7") + 1,
              std::find(log().begin(), log().end(), "read2"));

    log().clear();
    link.replies = {0, 200, 0, 100};
    panel.Command1_Click();
    EXPECT_TRUE(control<QCheckBox>("Check2")->isChecked());
    EXPECT_EQ(shown("Text5"), "200");
    EXPECT_EQ(shown("Text6"), "100");
    EXPECT_TRUE(enabled("Command4"));
    EXPECT_FALSE(enabled("Combo5"));
    EXPECT_EQ(shown("Combo5"), "320x240");  // the list's text is left alone

    link.replies = {1, 0, 0, 200};
    panel.Command1_Click();
    EXPECT_EQ(shown("Text5"), "256");
    link.replies = {255, 255, 255, 255};
    panel.Command1_Click();
    EXPECT_EQ(shown("Text5"), "65535");
    EXPECT_EQ(shown("Text6"), "65535");

    // A standard size read back unticks "Произвольный" and gives the list back.
    link.replies = {0, 176, 0, 144};
    panel.Command1_Click();
    EXPECT_FALSE(control<QCheckBox>("Check2")->isChecked());
    EXPECT_EQ(shown("Combo5"), "176x144");
    EXPECT_TRUE(enabled("Combo5"));
}

TEST_P(Settings, SpiModeReadBack) {
    link.replies = {2};
    EXPECT_EQ(session.readSpiMode().value(), 2);
    EXPECT_EQ(log(), (Log{"send 2", "read1"}));  // no timer, no indicator
    link.replies = {9};
    const auto noMode = session.readSpiMode();
    ASSERT_TRUE(noMode.ok());
    EXPECT_FALSE(noMode->has_value());
}

TEST_P(Settings, NoAnswerLeavesTheControlsAndTellsTheOperator) {
    type("Combo2", "4");
    panel.Command9_Click();
    EXPECT_EQ(shown("Combo2"), "4");

    link.replies = {57, 128};  // two of four replies
    panel.Command10_Click();
    EXPECT_THAT(sliders(), ElementsAre(6, 31, 31, 31));

    link.replies = {1, 64};  // width, no height
    panel.Command1_Click();
    EXPECT_EQ(shown("Combo5"), "352x288");
    EXPECT_FALSE(control<QCheckBox>("Check2")->isChecked());

    EXPECT_EQ(host.told.size(), 3u);
    if (parallel()) {
        EXPECT_EQ(log().back(), "READY");
    }
}
