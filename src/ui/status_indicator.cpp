#include "ui/status_indicator.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPalette>

namespace ui {

const QString StatusIndicator::kBusyCaption = QStringLiteral("BUSY");
const QString StatusIndicator::kReadyCaption = QStringLiteral("READY");

QString StatusIndicator::noLinkCaption() {
    return QCoreApplication::translate("ui::StatusIndicator", "НЕТ СВЯЗИ");
}

StatusIndicator::StatusIndicator(QLabel* label) : label_(label) {
    label_->setAutoFillBackground(true);
}

void StatusIndicator::showBusy() {
    show(State::Busy, kBusyColour, kBusyCaption);
}

void StatusIndicator::showReady() {
    show(State::Ready, kReadyColour, kReadyCaption);
}

void StatusIndicator::showNoLink() {
    show(State::NoLink, kNoLinkColour, noLinkCaption());
}

void StatusIndicator::show(State state, std::uint32_t colour, const QString& caption) {
    if (state == state_) {
        return;
    }
    state_ = state;
    QPalette palette = label_->palette();
    palette.setColor(QPalette::Window, fromWindowsColour(colour));
    label_->setPalette(palette);
    label_->setText(caption);
}

}  // namespace ui
