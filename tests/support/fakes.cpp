#include "support/fakes.h"

namespace testing_support {

void FakeDialogs::showStop(QWidget*, const QString& title, const QString& text) {
    stops.push_back({title, text});
}

void FakeDialogs::showWarning(QWidget*, const QString& title, const QString& text) {
    warnings.push_back({title, text});
}

std::optional<QString> FakeDialogs::chooseSaveFile(QWidget*, const QString& title,
                                                   const QString& startFolder,
                                                   const QString& filter) {
    saveRequests.push_back({title, startFolder, filter});
    if (saveAnswers.empty()) {
        return std::nullopt;
    }
    const QString answer = saveAnswers.front();
    saveAnswers.pop_front();
    if (answer.isEmpty()) {
        return std::nullopt;
    }
    return answer;
}

}  // namespace testing_support
