#include "ui/spi_form.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QRadioButton>
#include <cstdio>

#include "ui/twips.h"

namespace ui {

const QString SpiForm::kCaption = QStringLiteral("Программа для работы с модулем камеры через LPT");
const QString SpiForm::kStartFailedTitle = QStringLiteral("VBDumpPort32");
const QString SpiForm::kStartFailedText =
    QStringLiteral("Whoops ! There is a problem with InitializeWinIo.");

namespace {
struct ModeButton {
    const char* name;
    const char* caption;
    int leftTwips;
};
constexpr ModeButton kModeButtons[] = {
    {"Option1", "0", 1560}, {"Option2", "1", 2040}, {"Option3", "2", 2520}, {"Option4", "3", 3000}};
constexpr int kModeButtonTopTwips = 1080;
constexpr int kModeButtonWidthTwips = 495;
constexpr int kModeButtonHeightTwips = 255;
}  // namespace

SpiForm::SpiForm(lpt::SpiLink& link, frames::FrameStore& frames, protocol::Clock& clock,
                 OperatorDialogs& dialogs, QWidget* parent)
    : Form1(kCaption, frames, clock, dialogs, parent), link_(link) {
    QLabel* heading =
        addLabel("Label6", QStringLiteral("Настройка SPI"), twipRect(120, 120, 2055, 255));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(9.75);
    heading->setFont(headingFont);
    addLabel("Label5", QStringLiteral("Порт компьютера "), twipRect(120, 480, 1575, 255));
    addLabel("Label7", QStringLiteral("Регистр SPI"), twipRect(120, 1080, 1095, 255));

    Combo1 = new QComboBox(this);
    Combo1->setObjectName("Combo1");
    Combo1->setEditable(true);
    Combo1->addItems({QStringLiteral("LPT1"), QStringLiteral("LPT2")});
    Combo1->setCurrentIndex(0);
    Combo1->setGeometry(twipRect(2280, 480, 1095, 315));
    // Only a pick from the list chooses the port; typing in the box does nothing.
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });

    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (std::size_t mode = 0; mode < modeButtons_.size(); ++mode) {
        const ModeButton& spec = kModeButtons[mode];
        auto* button = new QRadioButton(QString::fromLatin1(spec.caption), this);
        button->setObjectName(spec.name);
        button->setGeometry(twipRect(spec.leftTwips, kModeButtonTopTwips, kModeButtonWidthTwips,
                                     kModeButtonHeightTwips));
        group->addButton(button, static_cast<int>(mode));
        modeButtons_[mode] = button;
    }
    modeButtons_[0]->setChecked(true);
    // A mode button's handler runs when the selection changes, by a click or from code.
    for (std::size_t mode = 0; mode < modeButtons_.size(); ++mode) {
        connect(modeButtons_[mode], &QRadioButton::toggled, this, [this, mode](bool selected) {
            if (selected) {
                switchMode(static_cast<int>(mode));
            }
        });
    }
}

void SpiForm::Form_Load() {
    if (!link_.startPortAccess()) {
        // Standard error gets the reason the message box has no room for.
        std::fprintf(stderr, "SPI: port access failed: %s\n", link_.failureReason().c_str());
        dialogs_.showStop(this, kStartFailedTitle, kStartFailedText);
    }
    frames_.resetCount();
    link_.enterStartState();
}

void SpiForm::Form_Unload() {
    link_.stopPortAccess();
}

void SpiForm::Combo1_Click() {
    link_.choosePort(Combo1->currentIndex());
}

void SpiForm::switchMode(int mode) {
    link_.switchMode(mode);
}

}  // namespace ui
