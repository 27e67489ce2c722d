#include "ui/settings_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "protocol/encodings.h"
#include "protocol/text_number.h"
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

std::int64_t integerOf(const QString& text) {
    return protocol::integerOfText(text.toUtf8().toStdString());
}

// The colour box's entries, in the language installed when they are asked for.
QString colourText() {
    return SettingsPanel::tr("Цветной");
}
QString blackAndWhiteText() {
    return SettingsPanel::tr("Черно-белый");
}

QString sizeText(const protocol::StandardFrameSize& size) {
    return QString::fromLatin1(size.text.data(), static_cast<qsizetype>(size.text.size()));
}

// The frame-size box starts at the module's power-up size, which is one of its list.
static_assert(protocol::standardSizeFor(protocol::kPowerUpFrameSize).has_value());

}  // namespace

QString colourModeText(protocol::ColourMode mode) {
    return mode == protocol::ColourMode::BlackAndWhite ? blackAndWhiteText() : colourText();
}

protocol::ColourMode colourModeOfText(const QString& text) {
    return text == blackAndWhiteText() ? protocol::ColourMode::BlackAndWhite
                                       : protocol::ColourMode::Colour;
}

QString SettingsPanel::compressionRefusedTitle() {
    return tr("Сжатие");
}

SettingsPanel::SettingsPanel(QWidget* window, SettingsHost& host, const SettingsLayout& layout,
                             session::ModuleSession& session)
    : QObject(window), host_(host), session_(session) {
    label(window, "Label12", tr("Настройка камеры"), QRect(120, 2040, 2175, 255))
        ->setFont(windowFont(kSansFamily, kHeadingPoints, true));

    // Compression and colour.
    label(window, "Label8", tr("Сжатие"), QRect(120, 2400, 1095, 255));
    QStringList compressionLevels;
    for (int level = 0; level <= protocol::kMaxCompressionLevel; ++level) {
        compressionLevels << QString::number(level);
    }
    // Every control starts at the value the module holds after power-up.
    Combo2 = editableCombo(window, "Combo2", compressionLevels,
                           QString::number(protocol::kPowerUpCompression.level),
                           QRect(1560, 2400, 1095, 315));
    auto* command9 = button(window, "Command9", tr("Считать"), QRect(3120, 2400, 1215, 375));
    label(window, "Label9", tr("Цветность"), QRect(120, 2760, 1215, 255));
    Combo3 = editableCombo(window, "Combo3", {colourText(), blackAndWhiteText()},
                           colourModeText(protocol::kPowerUpCompression.mode),
                           QRect(1560, 2760, 1455, 315));

    // Brightness and R, G, B.
    struct Level {
        const char* sliderName;
        const char* labelName;
        const char* caption;  // the source text of its translation
        QRect labelTwips;
        int top;
        int maximum;
        int initial;
        int tickEvery;
    };
    const Level levels[session::kLevelCount] = {
        {"Slider1", "Label10", QT_TR_NOOP("Яркость"), QRect(120, 3480, 735, 255), 3480,
         protocol::kBrightnessMaxStep, protocol::kPowerUpBrightnessStep, 1},
        {"Slider2", "Label11", "R", QRect(720, 3840, 255, 255), 3840, protocol::kColourLevelMaxStep,
         protocol::kPowerUpColourLevelStep, 4},
        {"Slider3", "Label13", "G", QRect(720, 4200, 255, 255), 4200, protocol::kColourLevelMaxStep,
         protocol::kPowerUpColourLevelStep, 4},
        {"Slider4", "Label14", "B", QRect(720, 4560, 255, 255), 4560, protocol::kColourLevelMaxStep,
         protocol::kPowerUpColourLevelStep, 4},
    };
    constexpr int kSliderPageStep = 5;
    for (std::size_t i = 0; i < sliders_.size(); ++i) {
        const Level& level = levels[i];
        label(window, level.labelName, tr(level.caption), level.labelTwips);
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
    auto* command10 = button(window, "Command10", tr("Считать"), QRect(3480, 3480, 855, 1335));

    // Frame size: a standard one from the list, or one typed in.
    const int sizeTop = layout.frameSizeRowTop;
    const int arbitraryTop = layout.arbitraryRowTop;
    label(window, "Label15", tr("Размер кадра"), QRect(120, sizeTop, 1215, 255));
    QStringList sizes;
    for (const auto& standard : protocol::kStandardFrameSizes) {
        sizes << sizeText(standard);
    }
    Combo5 = editableCombo(window, "Combo5", sizes,
                           sizeText(*protocol::standardSizeFor(protocol::kPowerUpFrameSize)),
                           QRect(1800, sizeTop, 1695, 315));
    auto* command1 = button(window, "Command1", tr("Считать"), QRect(3720, sizeTop, 1215, 375));
    Check2 = named(new QCheckBox(tr("Произвольный"), window), "Check2",
                   QRect(120, arbitraryTop, 1575, 255));
    Text5 = named(new QLineEdit(window), "Text5", QRect(1800, arbitraryTop, 735, 285));
    label(window, "Label16", QStringLiteral("x"), QRect(2640, arbitraryTop, 135, 255));
    Text6 = named(new QLineEdit(window), "Text6", QRect(2880, arbitraryTop, 735, 285));
    Command4 = button(window, "Command4", tr("Записать"), QRect(3720, arbitraryTop, 1215, 375));
    disabledByRule_[Command4] = true;
    Check3 = named(new QCheckBox(tr("Тестовый режим"), window), "Check3", layout.testModeBox);

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

void SettingsPanel::refreshEnabled() {
    for (QWidget* control : talking_) {
        applyEnabled(control);
    }
}

void SettingsPanel::applyEnabled(QWidget* control) {
    const bool talks = std::find(talking_.begin(), talking_.end(), control) != talking_.end();
    const bool busy = talks && host_.operating();
    control->setEnabled(!disabledByRule_.value(control, false) && !busy);
}

void SettingsPanel::setRuleEnabled(QWidget* control, bool enabled) {
    disabledByRule_[control] = !enabled;
    applyEnabled(control);
}

void SettingsPanel::told(const protocol::Result<void>& result) {
    if (!result) {
        host_.tellLinkFault(result.fault());
    }
}

template <class Operation, class Done>
void SettingsPanel::operate(Operation operation, Done done) {
    using Value = decltype(operation(session_));
    auto value = std::make_shared<std::optional<Value>>();
    host_.post([this, operation, value] { value->emplace(operation(session_)); },
               [done, value] { done(std::move(**value)); });
}

template <class Operation>
void SettingsPanel::write(Operation operation) {
    operate(operation, [this](const protocol::Result<void>& result) { told(result); });
}

// ---- Writes

void SettingsPanel::sliderChanged(int index) {
    const auto i = static_cast<std::size_t>(index);
    const auto level = static_cast<session::Level>(index);
    write([level, step = sliders_[i]->value()](session::ModuleSession& s) {
        return s.writeLevel(level, step);
    });
}

void SettingsPanel::Combo2_Click() {
    const QString levelText = Combo2->currentText();
    const protocol::ColourMode mode = colourModeOfText(Combo3->currentText());
    const std::int64_t level = integerOf(levelText);
    if (!protocol::encodeCompression(level, mode)) {
        // The register holds one byte: a level that does not fit is refused, not wrapped round.
        host_.tellOperator(
            compressionRefusedTitle(),
            tr("Сжатие \"%1\" не записано: уровень должен быть от 0 до %2 (в списке 0–%3).")
                .arg(levelText, QString::number(protocol::highestCompressionLevel(mode)),
                     QString::number(protocol::kMaxCompressionLevel)));
        return;
    }
    write([setting = protocol::CompressionSetting{static_cast<int>(level), mode}](
              session::ModuleSession& s) { return s.writeCompression(setting); });
}

void SettingsPanel::Combo3_Click() {
    Combo2_Click();
}

void SettingsPanel::Combo5_Click() {
    const auto standard =
        protocol::standardSizeForText(Combo5->currentText().trimmed().toStdString());
    if (!standard) {
        return;  // only a pick from the list gets here, and every entry is a standard size
    }
    write([size = standard->size](session::ModuleSession& s) { return s.writeFrameSize(size); });
}

void SettingsPanel::Command4_Click() {
    const protocol::FrameSize size =
        protocol::arbitraryFrameSize(integerOf(Text5->text()), integerOf(Text6->text()));
    Text5->setText(QString::number(size.width));
    Text6->setText(QString::number(size.height));
    write([size](session::ModuleSession& s) { return s.writeFrameSize(size); });
}

void SettingsPanel::Check2_Click() {
    const bool ticked = Check2->isChecked();
    setRuleEnabled(Command4, ticked);
    setRuleEnabled(Combo5, !ticked);
}

void SettingsPanel::Check3_Click() {
    const bool ticked = Check3->isChecked();
    // "Записать", compression, colour and R, G, B stay as they are: test mode fixes the picture,
    // not the link.
    for (QWidget* control : {static_cast<QWidget*>(Combo5), static_cast<QWidget*>(Check2),
                             static_cast<QWidget*>(Text5), static_cast<QWidget*>(Text6),
                             static_cast<QWidget*>(sliders_[0])}) {
        setRuleEnabled(control, !ticked);
    }
    write([ticked](session::ModuleSession& s) { return s.writeTestMode(ticked); });
}

// ---- Read-backs

template <class T, class Show>
void SettingsPanel::readBack(protocol::Result<T> (session::ModuleSession::*read)(), Show show) {
    if (host_.operating()) {
        return;  // its button is held: another operation runs
    }
    host_.showBusy();
    operate([read](session::ModuleSession& s) { return (s.*read)(); },
            [this, show](const protocol::Result<T>& result) {
                if (result) {
                    show(*result);
                }
                host_.showReady();
                if (!result) {
                    host_.tellNoAnswer(result.fault());
                }
            });
}

void SettingsPanel::Command9_Click() {
    readBack(&session::ModuleSession::readCompression, [this](protocol::CompressionSetting s) {
        // Setting a combo box's text from code is no pick from its list: it writes nothing.
        showInBox(Combo2, QString::number(s.level));
        showInBox(Combo3, colourModeText(s.mode));
    });
}

void SettingsPanel::Command10_Click() {
    readBack(&session::ModuleSession::readLevels, [this](const session::Levels& levels) {
        // Each slider that moves writes its register again, as the operator's move does: one
        // operation after another, in the sliders' order, posted together since a second post
        // would find the first one running.
        const int steps[session::kLevelCount] = {levels.brightness, levels.red, levels.green,
                                                 levels.blue};
        std::vector<std::pair<session::Level, int>> moved;
        for (std::size_t i = 0; i < sliders_.size(); ++i) {
            const QSignalBlocker quiet(sliders_[i]);
            const int before = sliders_[i]->value();
            sliders_[i]->setValue(steps[i]);
            if (sliders_[i]->value() != before) {
                moved.emplace_back(static_cast<session::Level>(i), sliders_[i]->value());
            }
        }
        if (!moved.empty()) {
            write([moved](session::ModuleSession& s) {
                protocol::Result<void> first;
                for (const auto& [level, step] : moved) {
                    if (auto written = s.writeLevel(level, step); !written && first) {
                        first = written;
                    }
                }
                return first;
            });
        }
    });
}

void SettingsPanel::Command1_Click() {
    readBack(&session::ModuleSession::readFrameSize, [this](protocol::FrameSize size) {
        if (const auto standard = protocol::standardSizeFor(size)) {
            Check2->setChecked(false);
            showInBox(Combo5, sizeText(*standard));
        } else {
            Check2->setChecked(true);
            Text5->setText(QString::number(size.width));
            Text6->setText(QString::number(size.height));
        }
    });
}

}  // namespace ui
