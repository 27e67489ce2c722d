#include "ui/settings_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <algorithm>

#include "protocol/encodings.h"
#include "ui/fonts.h"
#include "ui/list_box.h"
#include "ui/twips.h"

namespace ui {

namespace {

template <typename T>
T* named(T* widget, const char* name, QRect twips) {
    widget->setObjectName(name);
    widget->setGeometry(twipRect(twips.x(), twips.y(), twips.width(), twips.height()));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption, QRect twips) {
    return named(new QLabel(caption, parent), name, twips);
}

QComboBox* editableCombo(QWidget* parent, const char* name, const QStringList& entries,
                         const QString& initial, QRect twips) {
    auto* combo = named(new QComboBox(parent), name, twips);
    combo->setEditable(true);
    combo->addItems(entries);
    showInBox(combo, initial);
    return combo;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, QRect twips) {
    return named(new QPushButton(caption, parent), name, twips);
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string toUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

SettingsPanel::SettingsPanel(QWidget* window, SettingsHost& host, const SettingsLayout& layout,
                             protocol::ModuleLink& link, protocol::Clock& clock,
                             protocol::SettingsPolicy policy)
    : QObject(window), host_(host), settings_(link, clock, *this, host, policy) {
    label(window, "Label12", QStringLiteral("Настройка камеры"), QRect(120, 2040, 2175, 255))
        ->setFont(windowFont(kSansFamily, kHeadingPoints, true));

    // Compression and colour.
    label(window, "Label8", QStringLiteral("Сжатие"), QRect(120, 2400, 1095, 255));
    QStringList compressionLevels;
    for (int level = 0; level <= protocol::kMaxCompressionLevel; ++level) {
        compressionLevels << QString::number(level);
    }
    Combo2 = editableCombo(window, "Combo2", compressionLevels, QStringLiteral("2"),
                           QRect(1560, 2400, 1095, 315));
    auto* command9 =
        button(window, "Command9", QStringLiteral("Считать"), QRect(3120, 2400, 1215, 375));
    label(window, "Label9", QStringLiteral("Цветность"), QRect(120, 2760, 1215, 255));
    Combo3 = editableCombo(
        window, "Combo3",
        {QString::fromUtf8(protocol::kColourText.data(), protocol::kColourText.size()),
         QString::fromUtf8(protocol::kBlackAndWhiteText.data(),
                           protocol::kBlackAndWhiteText.size())},
        QStringLiteral("Цветной"), QRect(1560, 2760, 1455, 315));

    // Brightness and R, G, B.
    struct Level {
        const char* sliderName;
        const char* labelName;
        const char* caption;
        QRect labelTwips;
        int top;
        int maximum;
        int initial;
        int tickEvery;
    };
    const Level levels[protocol::kLevelSliderCount] = {
        {"Slider1", "Label10", "Яркость", QRect(120, 3480, 735, 255), 3480,
         protocol::kBrightnessMaxStep, 6, 1},
        {"Slider2", "Label11", "R", QRect(720, 3840, 255, 255), 3840, protocol::kColourLevelMaxStep,
         31, 4},
        {"Slider3", "Label13", "G", QRect(720, 4200, 255, 255), 4200, protocol::kColourLevelMaxStep,
         31, 4},
        {"Slider4", "Label14", "B", QRect(720, 4560, 255, 255), 4560, protocol::kColourLevelMaxStep,
         31, 4},
    };
    constexpr int kSliderPageStep = 5;
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        const Level& level = levels[i];
        label(window, level.labelName, QString::fromUtf8(level.caption), level.labelTwips);
        auto* slider = named(new QSlider(Qt::Horizontal, window), level.sliderName,
                             QRect(960, level.top, 2535, 255));
        slider->setRange(0, level.maximum);
        slider->setValue(level.initial);
        slider->setSingleStep(1);
        slider->setPageStep(kSliderPageStep);
        slider->setTickInterval(level.tickEvery);
        slider->setTickPosition(QSlider::TicksBelow);
        sliders_[i] = slider;
    }
    auto* command10 =
        button(window, "Command10", QStringLiteral("Считать"), QRect(3480, 3480, 855, 1335));

    // Frame size: a standard one from the list, or one typed in.
    const int sizeTop = layout.frameSizeRowTop;
    const int arbitraryTop = layout.arbitraryRowTop;
    label(window, "Label15", QStringLiteral("Размер кадра"), QRect(120, sizeTop, 1215, 255));
    QStringList sizes;
    for (const auto& standard : protocol::kStandardFrameSizes) {
        sizes << QString::fromLatin1(standard.text.data(),
                                     static_cast<qsizetype>(standard.text.size()));
    }
    Combo5 = editableCombo(window, "Combo5", sizes, sizes.front(), QRect(1800, sizeTop, 1695, 315));
    auto* command1 =
        button(window, "Command1", QStringLiteral("Считать"), QRect(3720, sizeTop, 1215, 375));
    Check2 = named(new QCheckBox(QStringLiteral("Произвольный"), window), "Check2",
                   QRect(120, arbitraryTop, 1575, 255));
    Text5 = named(new QLineEdit(window), "Text5", QRect(1800, arbitraryTop, 735, 285));
    label(window, "Label16", QStringLiteral("x"), QRect(2640, arbitraryTop, 135, 255));
    Text6 = named(new QLineEdit(window), "Text6", QRect(2880, arbitraryTop, 735, 285));
    Command4 = button(window, "Command4", QStringLiteral("Записать"),
                      QRect(3720, arbitraryTop, 1215, 375));
    disabledByRule_[Command4] = true;
    Check3 = named(new QCheckBox(QStringLiteral("Тестовый режим"), window), "Check3",
                   layout.testModeBox);

    // Events: a combo box acts only on a pick from its list, a slider on every change of
    // position, a check box on every change of its tick — from the operator or from a read-back.
    onListPick(Combo2, this, [this] { Combo2_Click(); });
    onListPick(Combo3, this, [this] { Combo3_Click(); });
    onListPick(Combo5, this, [this] { Combo5_Click(); });
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        connect(sliders_[i], &QSlider::valueChanged, this,
                [this, i] { sliderChanged(static_cast<int>(i)); });
    }
    connect(Check2, &QCheckBox::toggled, this, [this] { Check2_Click(); });
    connect(Check3, &QCheckBox::toggled, this, [this] { Check3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(command10, &QPushButton::clicked, this, [this] { Command10_Click(); });
    connect(command1, &QPushButton::clicked, this, [this] { Command1_Click(); });

    talking_ = {Combo2,      Combo3,    command9, sliders_[0], sliders_[1], sliders_[2],
                sliders_[3], command10, Combo5,   command1,    Command4,    Check3};
    for (QWidget* control : talking_) {
        applyEnabled(control);
    }
}

void SettingsPanel::setLinkBusy(bool busy) {
    linkBusy_ = busy;
    for (QWidget* control : talking_) {
        applyEnabled(control);
    }
}

void SettingsPanel::applyEnabled(QWidget* control) {
    const bool talks = std::find(talking_.begin(), talking_.end(), control) != talking_.end();
    control->setEnabled(!disabledByRule_.value(control, false) && !(talks && linkBusy_));
}

// ---- Handlers

void SettingsPanel::exchange(void (protocol::CameraSettings::*operation)()) {
    host_.runExchange([this, operation] { (settings_.*operation)(); });
}

void SettingsPanel::sliderChanged(int index) {
    host_.runExchange([this, index] {
        settings_.sliderChanged(static_cast<protocol::LevelSlider>(index),
                                sliders_[static_cast<std::size_t>(index)]->value());
    });
}

void SettingsPanel::Combo2_Click() {
    exchange(&protocol::CameraSettings::compressionOrColourPicked);
}

void SettingsPanel::Combo3_Click() {
    Combo2_Click();
}

void SettingsPanel::Combo5_Click() {
    exchange(&protocol::CameraSettings::standardSizePicked);
}

void SettingsPanel::Check2_Click() {
    settings_.arbitrarySizeToggled(Check2->isChecked());
}

void SettingsPanel::Check3_Click() {
    host_.runExchange([this] { settings_.testModeToggled(Check3->isChecked()); });
}

void SettingsPanel::Command4_Click() {
    exchange(&protocol::CameraSettings::writeArbitrarySize);
}

void SettingsPanel::Command9_Click() {
    exchange(&protocol::CameraSettings::readCompression);
}

void SettingsPanel::Command10_Click() {
    exchange(&protocol::CameraSettings::readLevels);
}

void SettingsPanel::Command1_Click() {
    exchange(&protocol::CameraSettings::readFrameSize);
}

void SettingsPanel::Command2_Click() {
    exchange(&protocol::CameraSettings::readSpiMode);
}

// ---- The settings' view of the controls.

std::string SettingsPanel::compressionText() const {
    return toUtf8(Combo2->currentText());
}
std::string SettingsPanel::colourText() const {
    return toUtf8(Combo3->currentText());
}
std::string SettingsPanel::frameSizeText() const {
    return toUtf8(Combo5->currentText());
}
std::string SettingsPanel::widthText() const {
    return toUtf8(Text5->text());
}
std::string SettingsPanel::heightText() const {
    return toUtf8(Text6->text());
}

// Setting a combo box's text from code is no pick from its list: it writes nothing.
void SettingsPanel::showCompressionText(const std::string& text) {
    showInBox(Combo2, fromUtf8(text));
}
void SettingsPanel::showColourText(const std::string& text) {
    showInBox(Combo3, fromUtf8(text));
}
void SettingsPanel::showFrameSizeText(const std::string& text) {
    showInBox(Combo5, fromUtf8(text));
}
void SettingsPanel::showWidthText(const std::string& text) {
    Text5->setText(fromUtf8(text));
}
void SettingsPanel::showHeightText(const std::string& text) {
    Text6->setText(fromUtf8(text));
}

void SettingsPanel::setSliderPosition(protocol::LevelSlider slider, int position) {
    sliders_[static_cast<std::size_t>(slider)]->setValue(position);
}

void SettingsPanel::setArbitrarySizeTicked(bool ticked) {
    Check2->setChecked(ticked);
}

void SettingsPanel::setControlEnabled(protocol::SettingsControl control, bool enabled) {
    QWidget* widget = controlFor(control);
    disabledByRule_[widget] = !enabled;
    applyEnabled(widget);
}

QWidget* SettingsPanel::controlFor(protocol::SettingsControl control) const {
    switch (control) {
        case protocol::SettingsControl::FrameSizeBox:
            return Combo5;
        case protocol::SettingsControl::ArbitrarySizeCheck:
            return Check2;
        case protocol::SettingsControl::WidthBox:
            return Text5;
        case protocol::SettingsControl::HeightBox:
            return Text6;
        case protocol::SettingsControl::BrightnessSlider:
            return sliders_[0];
        case protocol::SettingsControl::WriteSizeButton:
            return Command4;
    }
    return Command4;
}

}  // namespace ui
