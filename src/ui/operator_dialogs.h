// The dialogs the windows show: the start-failure message box, messages about faults, and the
// save dialog. Behind an interface so window tests can answer them without a modal loop.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace ui {

class OperatorDialogs {
  public:
    virtual ~OperatorDialogs() = default;

    // A message box with the stop icon and a single OK button; returns when it is closed.
    virtual void showStop(QWidget* parent, const QString& title, const QString& text) = 0;

    // A message box with the warning icon and a single OK button: a fault the operator should
    // know of (a port that cannot be opened, a module that did not answer, a value refused).
    virtual void showWarning(QWidget* parent, const QString& title, const QString& text) = 0;

    // The save dialog: returns the chosen file name, nullopt when the operator cancels.
    virtual std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title,
                                                  const QString& startFolder,
                                                  const QString& filter) = 0;
};

// The real dialogs.
class QtOperatorDialogs final : public OperatorDialogs {
  public:
    void showStop(QWidget* parent, const QString& title, const QString& text) override;
    void showWarning(QWidget* parent, const QString& title, const QString& text) override;
    std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title,
                                          const QString& startFolder,
                                          const QString& filter) override;
};

}  // namespace ui
