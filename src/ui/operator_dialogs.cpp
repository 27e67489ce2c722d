#include "ui/operator_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace ui {

void QtOperatorDialogs::showStop(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void QtOperatorDialogs::showWarning(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QString> QtOperatorDialogs::chooseSaveFile(QWidget* parent, const QString& title,
                                                         const QString& startFolder,
                                                         const QString& filter) {
    // No default suffix: a name typed without an extension is used as typed.
    const QString name = QFileDialog::getSaveFileName(parent, title, startFolder, filter);
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

}  // namespace ui
