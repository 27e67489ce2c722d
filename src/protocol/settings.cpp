#include "protocol/settings.h"

#include <algorithm>
#include <chrono>

#include "protocol/registers.h"
#include "protocol/text_number.h"
#include "protocol/wire.h"

namespace protocol {

namespace {

constexpr std::chrono::seconds kBetweenWrites{1};
constexpr std::chrono::seconds kBetweenReads{1};
constexpr std::chrono::seconds kCompressionFreeze{3};

constexpr Register kLevelRegisters[kLevelSliderCount] = {Register::Brightness, Register::Red,
                                                         Register::Green, Register::Blue};

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// An arbitrary side: whole multiples of 16, truncated towards zero, then held inside its limits.
int arbitrarySide(const std::string& text, int maximum) {
    const std::int64_t typed = integerOfText(text);
    const std::int64_t multiple = typed / kArbitrarySizeStep * kArbitrarySizeStep;
    return static_cast<int>(std::clamp<std::int64_t>(multiple, kMinArbitrarySide, maximum));
}

}  // namespace

const std::string CameraSettings::kNoAnswerTitle = "Модуль не ответил";
const std::string CameraSettings::kNoAnswerText =
    "Модуль камеры не ответил на запрос. Значения в окне не изменены.";
const std::string CameraSettings::kCompressionRefusedTitle = "Сжатие";

CameraSettings::CameraSettings(ModuleLink& link, Clock& clock, SettingsView& view,
                               SettingsWindow& window, SettingsPolicy policy)
    : link_(link), clock_(clock), view_(view), window_(window), policy_(policy) {}

// ---- Writes

void CameraSettings::sliderChanged(LevelSlider slider, int position) {
    const auto index = static_cast<std::size_t>(slider);
    const std::uint8_t value = slider == LevelSlider::Brightness ? encodeBrightness(position)
                                                                 : encodeColourLevel(position);
    writeRegister(link_, kLevelRegisters[index], value);
}

void CameraSettings::compressionOrColourPicked() {
    const std::string levelText = view_.compressionText();
    const ColourMode mode = colourModeOfText(view_.colourText());
    const auto value = encodeCompression(integerOfText(levelText), mode);
    if (!value) {
        // The register holds one byte: a level that does not fit is refused, not wrapped round.
        window_.tellOperator(kCompressionRefusedTitle,
                             "Сжатие \"" + levelText +
                                 "\" не записано: уровень должен быть от 0 до " +
                                 std::to_string(highestCompressionLevel(mode)) + " (в списке 0–" +
                                 std::to_string(kMaxCompressionLevel) + ").");
        return;
    }
    writeRegister(link_, Register::Compression, *value);
    if (policy_.freezeAfterCompressionWrite) {
        clock_.waitBlocking(kCompressionFreeze);
    }
}

void CameraSettings::standardSizePicked() {
    const auto standard = standardSizeForText(trimmed(view_.frameSizeText()));
    if (!standard) {
        return;  // only a pick from the list gets here, and every entry is a standard size
    }
    writeFrameSize(standard->size);
}

void CameraSettings::writeArbitrarySize() {
    const int width = arbitrarySide(view_.widthText(), kMaxArbitraryWidth);
    const int height = arbitrarySide(view_.heightText(), kMaxArbitraryHeight);
    view_.showWidthText(std::to_string(width));
    view_.showHeightText(std::to_string(height));
    writeFrameSize({static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height)});
}

void CameraSettings::arbitrarySizeToggled(bool ticked) {
    view_.setControlEnabled(SettingsControl::WriteSizeButton, ticked);
    view_.setControlEnabled(SettingsControl::FrameSizeBox, !ticked);
}

void CameraSettings::testModeToggled(bool ticked) {
    // "Записать", compression, colour and R, G, B stay as they are: test mode fixes the picture,
    // not the link.
    for (SettingsControl c : {SettingsControl::FrameSizeBox, SettingsControl::ArbitrarySizeCheck,
                              SettingsControl::WidthBox, SettingsControl::HeightBox,
                              SettingsControl::BrightnessSlider}) {
        view_.setControlEnabled(c, !ticked);
    }
    sendCommand(link_, ticked ? command::kTestModeOn : command::kTestModeOff);
}

// ---- Read-backs

void CameraSettings::readCompression() {
    beginReadBack();
    const auto reply = queryRegister(link_, Register::Compression);
    if (!reply) {
        endReadBack();
        tellNoAnswer();
        return;
    }
    const CompressionSetting setting = decodeCompression(static_cast<std::uint8_t>(*reply));
    view_.showCompressionText(std::to_string(setting.level));
    view_.showColourText(std::string(colourModeText(setting.mode)));
    endReadBack();
}

void CameraSettings::readLevels() {
    beginReadBack();
    std::uint8_t replies[kLevelSliderCount] = {};
    for (int i = 0; i < kLevelSliderCount; ++i) {
        const auto reply = queryRegister(link_, kLevelRegisters[i]);
        if (!reply) {
            endReadBack();
            tellNoAnswer();
            return;
        }
        replies[i] = static_cast<std::uint8_t>(*reply);
        if (i + 1 < kLevelSliderCount) {
            waitBetweenReads();
        }
    }
    // Only after all four reads: a slider that moves writes its register again, and that write
    // must not fall between a request and its reply.
    view_.setSliderPosition(LevelSlider::Brightness, decodeBrightness(replies[0]));
    view_.setSliderPosition(LevelSlider::Red, decodeColourLevel(replies[1]));
    view_.setSliderPosition(LevelSlider::Green, decodeColourLevel(replies[2]));
    view_.setSliderPosition(LevelSlider::Blue, decodeColourLevel(replies[3]));
    endReadBack();
}

void CameraSettings::readFrameSize() {
    beginReadBack();
    const auto width = queryRegister(link_, Register::FrameWidth);
    if (width) {
        waitBetweenReads();
    }
    const auto height = width ? queryRegister(link_, Register::FrameHeight) : std::nullopt;
    if (!width || !height) {
        endReadBack();
        tellNoAnswer();
        return;
    }
    const FrameSize size{*width, *height};
    if (const auto standard = standardSizeFor(size)) {
        view_.setArbitrarySizeTicked(false);
        view_.showFrameSizeText(std::string(standard->text));
    } else {
        view_.setArbitrarySizeTicked(true);
        view_.showWidthText(std::to_string(size.width));
        view_.showHeightText(std::to_string(size.height));
    }
    endReadBack();
}

void CameraSettings::readSpiMode() {
    const auto reply = queryRegister(link_, Register::SpiMode);
    if (!reply) {
        tellNoAnswer();
        return;
    }
    if (const auto mode = decodeSpiMode(static_cast<std::uint8_t>(*reply))) {
        window_.selectSpiMode(*mode);
    }
}

// ---- Exchanges

void CameraSettings::writeFrameSize(FrameSize size) {
    // Width first; the module takes a second to act on it before the height follows.
    writeRegister(link_, Register::FrameWidth, size.width);
    clock_.waitYielding(kBetweenWrites);
    writeRegister(link_, Register::FrameHeight, size.height);
}

void CameraSettings::beginReadBack() {
    window_.setPollingEnabled(false);
    if (policy_.indicatorDuringReadBack) {
        window_.showBusy();
    }
}

void CameraSettings::endReadBack() {
    window_.setPollingEnabled(true);
    if (policy_.indicatorDuringReadBack) {
        window_.showReady();
    }
}

void CameraSettings::waitBetweenReads() {
    if (policy_.waitBetweenReads) {
        clock_.waitYielding(kBetweenReads);
    }
}

void CameraSettings::tellNoAnswer() {
    // A reply that never came because the link failed says why; the fault is then told.
    const auto fault = link_.takeFault();
    window_.tellOperator(kNoAnswerTitle,
                         fault ? kNoAnswerText + "\n" + fault->systemText() : kNoAnswerText);
}

}  // namespace protocol
