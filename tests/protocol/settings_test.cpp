#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "protocol/settings.h"

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
            out += (out.empty() ? "" : ",") + std::to_string(b);
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

// The controls and the window around them as plain values. Slider moves and tick changes run the
// settings' handlers, as the window's events do.
class FakeView final : public SettingsView, public SettingsWindow {
  public:
    std::string compression = "2", colour = "Цветной", frameSize = "352x288", width, height;
    int sliders[kLevelSliderCount] = {6, 31, 31, 31};
    bool arbitrary = false;
    std::map<SettingsControl, bool> enabled;
    bool polling = true;
    std::vector<std::string>* log = nullptr;
    std::vector<std::string> told;
    std::optional<int> spiMode;
    CameraSettings* settings = nullptr;

    std::string compressionText() const override { return compression; }
    std::string colourText() const override { return colour; }
    std::string frameSizeText() const override { return frameSize; }
    std::string widthText() const override { return width; }
    std::string heightText() const override { return height; }
    void showCompressionText(const std::string& t) override { compression = t; }
    void showColourText(const std::string& t) override { colour = t; }
    void showFrameSizeText(const std::string& t) override { frameSize = t; }
    void showWidthText(const std::string& t) override { width = t; }
    void showHeightText(const std::string& t) override { height = t; }
    void setSliderPosition(LevelSlider s, int p) override {
        auto& current = sliders[static_cast<int>(s)];
        if (current != p) {
            current = p;
            settings->sliderChanged(s, p);
        }
    }
    void setArbitrarySizeTicked(bool t) override {
        if (arbitrary != t) {
            arbitrary = t;
            settings->arbitrarySizeToggled(t);
        }
    }
    void setControlEnabled(SettingsControl c, bool e) override { enabled[c] = e; }
    void selectSpiMode(int mode) override { spiMode = mode; }
    void setPollingEnabled(bool e) override {
        polling = e;
        log->push_back(e ? "timer on" : "timer off");
    }
    void showBusy() override { log->push_back("BUSY"); }
    void showReady() override { log->push_back("READY"); }
    void tellOperator(const std::string&, const std::string& text) override {
        told.push_back(text);
    }
};

class Settings : public ::testing::TestWithParam<SettingsPolicy> {
  protected:
    Settings() : clock(link.log), settings(link, clock, view, view, GetParam()) {
        view.log = &link.log;
        view.settings = &settings;
    }
    bool parallel() const { return GetParam().waitBetweenReads; }
    std::vector<std::string>& log() { return link.log; }

    ScriptedLink link;
    LoggingClock clock;
    FakeView view;
    CameraSettings settings;
};

using Log = std::vector<std::string>;

}  // namespace

INSTANTIATE_TEST_SUITE_P(BothPrograms, Settings,
                         ::testing::Values(kParallelPortPolicy, kSerialPolicy),
                         [](const auto& instance) {
                             return instance.param.waitBetweenReads ? "Spi" : "Comtrak";
                         });

TEST_P(Settings, SlidersWriteTheirScaledStep) {
    settings.sliderChanged(LevelSlider::Red, 40);
    settings.sliderChanged(LevelSlider::Brightness, 25);
    settings.sliderChanged(LevelSlider::Blue, 63);
    EXPECT_EQ(log(), (Log{"send 20,160", "send 19,250", "send 22,252"}));
}

TEST_P(Settings, CompressionAndColourPickedTogether) {
    view.compression = "3";
    view.colour = "Черно-белый";
    settings.compressionOrColourPicked();
    Log expected{"send 16,11"};
    if (!parallel()) {
        expected.push_back("freeze 3");  // the serial program holds still while the module works
    }
    EXPECT_EQ(log(), expected);

    log().clear();
    view.compression = " 5 ";  // typed, not picked
    view.colour = "Цветной";
    settings.compressionOrColourPicked();
    EXPECT_EQ(log().front(), "send 16,5");

    log().clear();
    view.compression = "2";
    view.colour = "черно-белый";  // only the exact text means black-and-white
    settings.compressionOrColourPicked();
    EXPECT_EQ(log().front(), "send 16,2");
}

TEST_P(Settings, CompressionThatDoesNotFitAByteIsRefused) {
    for (const char* typed : {"300", "-1", "250"}) {
        view.compression = typed;
        view.colour = "Черно-белый";  // 250 + 8 does not fit either
        settings.compressionOrColourPicked();
    }
    EXPECT_TRUE(log().empty());
    ASSERT_EQ(view.told.size(), 3u);
    EXPECT_NE(view.told[0].find("от 0 до 247"), std::string::npos) << view.told[0];
    view.compression = "247";
    settings.compressionOrColourPicked();
    EXPECT_EQ(log().front(), "send 16,255");
}

TEST_P(Settings, StandardSizeWidthThenASecondThenHeight) {
    view.frameSize = " 352x288 ";
    settings.standardSizePicked();
    EXPECT_EQ(log(), (Log{"send 55,1,96", "wait 1", "send 56,1,32"}));
    log().clear();
    view.frameSize = "320x240";
    settings.standardSizePicked();
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
        view.width = c.w;
        view.height = c.h;
        settings.writeArbitrarySize();
        EXPECT_EQ(view.width, c.shownW) << c.w;
        EXPECT_EQ(view.height, c.shownH) << c.h;
        EXPECT_EQ(log(), c.wire) << c.w << " x " << c.h;
    }
}

TEST_P(Settings, EnabledStatesThroughArbitraryAndTestMode) {
    using C = SettingsControl;
    settings.arbitrarySizeToggled(true);
    EXPECT_TRUE(view.enabled[C::WriteSizeButton]);
    EXPECT_FALSE(view.enabled[C::FrameSizeBox]);

    settings.testModeToggled(true);
    for (C c :
         {C::FrameSizeBox, C::ArbitrarySizeCheck, C::WidthBox, C::HeightBox, C::BrightnessSlider}) {
        EXPECT_FALSE(view.enabled[c]);
    }
    EXPECT_TRUE(view.enabled[C::WriteSizeButton]);  // test mode leaves "Записать" as it was
    EXPECT_EQ(log(), (Log{"send 160"}));

    // Leaving test mode enables the frame-size box even with "Произвольный" ticked.
    settings.testModeToggled(false);
    EXPECT_TRUE(view.enabled[C::FrameSizeBox]);
    EXPECT_TRUE(view.enabled[C::WriteSizeButton]);
    EXPECT_EQ(log().back(), "send 161");

    settings.arbitrarySizeToggled(false);
    EXPECT_FALSE(view.enabled[C::WriteSizeButton]);
    EXPECT_TRUE(view.enabled[C::FrameSizeBox]);
    EXPECT_EQ(log().size(), 2u);  // the tick itself sends nothing
}

TEST_P(Settings, CompressionReadBack) {
    link.replies = {10};
    settings.readCompression();
    EXPECT_EQ(view.compression, "2");
    EXPECT_EQ(view.colour, "Черно-белый");
    const Log expected = parallel()
                             ? Log{"timer off", "BUSY", "send 0", "read1", "timer on", "READY"}
                             : Log{"timer off", "send 0", "read1", "timer on"};
    EXPECT_EQ(log(), expected);

    link.replies = {255};
    settings.readCompression();
    EXPECT_EQ(view.compression, "7");
    EXPECT_EQ(view.colour, "Черно-белый");
    link.replies = {6};
    settings.readCompression();
    EXPECT_EQ(view.colour, "Цветной");
}

TEST_P(Settings, LevelsReadBackMovesSlidersAfterAllReadsAndWritesThemBack) {
    link.replies = {57, 128, 128, 128};
    settings.readLevels();
    EXPECT_THAT(view.sliders, ElementsAre(5, 32, 32, 32));
    Log expected{"timer off"};
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
    expected.push_back("timer on");
    if (parallel()) {
        expected.push_back("READY");
    }
    EXPECT_EQ(log(), expected);

    // A slider already at the position read back writes nothing.
    log().clear();
    link.replies = {50, 128, 128, 255};
    settings.readLevels();
    EXPECT_THAT(view.sliders, ElementsAre(5, 32, 32, 63));
    const auto writes = std::count_if(log().begin(), log().end(), [](const std::string& l) {
        return l.rfind("send 2", 0) == 0 && l.size() > 7;
    });
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(std::find(log().begin(), log().end(), "send 22,252") != log().end(), true);
}

TEST_P(Settings, FrameSizeReadBackStandardAndArbitrary) {
    view.frameSize = "352x288";
    link.replies = {1, 64, 0, 240};
    settings.readFrameSize();
    EXPECT_EQ(view.frameSize, "320x240");
    EXPECT_FALSE(view.arbitrary);
    const auto waits = std::count(log().begin(), log().end(), "wait 1");
    EXPECT_EQ(waits, parallel() ? 1 : 0);
    EXPECT_EQ(std::find(log().begin(), log().end(), "send 7") + 1,
              std::find(log().begin(), log().end(), "read2"));

    log().clear();
    link.replies = {0, 200, 0, 100};
    settings.readFrameSize();
    EXPECT_TRUE(view.arbitrary);
    EXPECT_EQ(view.width, "200");
    EXPECT_EQ(view.height, "100");
    EXPECT_TRUE(view.enabled[SettingsControl::WriteSizeButton]);
    EXPECT_FALSE(view.enabled[SettingsControl::FrameSizeBox]);
    EXPECT_EQ(view.frameSize, "320x240");  // the list's text is left alone

    link.replies = {1, 0, 0, 200};
    settings.readFrameSize();
    EXPECT_EQ(view.width, "256");
    link.replies = {255, 255, 255, 255};
    settings.readFrameSize();
    EXPECT_EQ(view.width, "65535");
    EXPECT_EQ(view.height, "65535");

    // A standard size read back unticks "Произвольный" and gives the list back.
    link.replies = {0, 176, 0, 144};
    settings.readFrameSize();
    EXPECT_FALSE(view.arbitrary);
    EXPECT_EQ(view.frameSize, "176x144");
    EXPECT_TRUE(view.enabled[SettingsControl::FrameSizeBox]);
}

TEST_P(Settings, SpiModeReadBack) {
    link.replies = {2};
    settings.readSpiMode();
    EXPECT_EQ(view.spiMode, 2);
    EXPECT_EQ(log(), (Log{"send 2", "read1"}));  // no timer, no indicator
    view.spiMode.reset();
    link.replies = {9};
    settings.readSpiMode();
    EXPECT_FALSE(view.spiMode.has_value());
}

TEST_P(Settings, NoAnswerLeavesTheControlsAndRestartsPolling) {
    view.compression = "4";
    settings.readCompression();
    EXPECT_EQ(view.compression, "4");

    link.replies = {57, 128};  // two of four replies
    settings.readLevels();
    EXPECT_THAT(view.sliders, ElementsAre(6, 31, 31, 31));

    link.replies = {1, 64};  // width, no height
    settings.readFrameSize();
    EXPECT_EQ(view.frameSize, "352x288");
    EXPECT_FALSE(view.arbitrary);

    EXPECT_TRUE(view.polling);
    EXPECT_EQ(view.told.size(), 3u);
    EXPECT_EQ(log().back(), parallel() ? "READY" : "timer on");
}
