// Fakes shared by the window tests: a clock that moves at once, and dialogs that answer from a
// script and remember what they were shown.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "protocol/clock.h"
#include "ui/operator_dialogs.h"

namespace testing_support {

class FakeClock final : public protocol::Clock {
  public:
    // Each look at the time moves it on by `stepPerLook`, so loops that pace themselves by the
    // clock make progress without a real wait.
    TimePoint now() const override {
        const TimePoint t = now_;
        now_ += stepPerLook;
        return t;
    }
    // Advances the time; runs `duringWait` first, standing for what the window would process.
    void waitYielding(Duration d) override;
    void waitBlocking(Duration d) override {
        now_ += d;
        ++blockingWaits;
    }
    // Runs `duringYield`, standing for the events the window would process.
    void yieldOnce() override;

    std::function<void()> duringWait;
    std::function<void()> duringYield;
    Duration stepPerLook{};
    int yields = 0;
    int yieldingWaits = 0;
    int blockingWaits = 0;

  private:
    mutable TimePoint now_{};
};

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
