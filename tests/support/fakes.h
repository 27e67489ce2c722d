// Fakes shared by the window tests: a clock that moves at once, and dialogs that answer from a
// script and remember what they were shown.
#pragma once

#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "support/fake_clock.h"
#include "ui/operator_dialogs.h"

namespace testing_support {

class FakeDialogs final : public ui::OperatorDialogs {
  public:
    struct Shown {
        QString title;
        QString text;
    };
    void showStop(QWidget* parent, const QString& title, const QString& text) override;
    void showWarning(QWidget* parent, const QString& title, const QString& text) override;
    std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title,
                                          const QString& startFolder,
                                          const QString& filter) override;

    std::vector<Shown> stops;
    std::vector<Shown> warnings;
    // Answers of the save dialog, in order; an empty name, or no answer left, is a cancel.
    std::deque<QString> saveAnswers;
    struct SaveRequest {
        QString title;
        QString startFolder;
        QString filter;
    };
    std::vector<SaveRequest> saveRequests;
};

}  // namespace testing_support
