// What both programs do before their window exists: answer --help and --version without a
// display, say in one line when there is no display, open the exchange trace, and make Qt's
// standard dialogs speak the window's language.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "protocol/exchange_trace.h"

class QCoreApplication;
class QTranslator;

namespace ui {

// For --help and --version: runs `parseOptions` (which prints and exits) under a plain
// QCoreApplication and returns 0. Without a display: one line on standard error and 1. Else
// nullopt: the window can be shown.
std::optional<int> answerWithoutWindow(const char* program, int argc, char** argv,
                                       const std::function<void(QCoreApplication&)>& parseOptions);

struct TraceChoice {
    std::unique_ptr<protocol::TraceFile> trace;  // null when no trace was asked for
    bool failed = false;                         // asked for, and cannot be written (said why)
};
TraceChoice openTrace(const char* program, const QString& path);

// Installs Qt's own Russian texts (the save dialog's "Перейти к:", "Сохранить", "Отмена", the
// message boxes' buttons), whatever the system's locale. Returns the translator, owned by the
// application; without the translations (Debian: qt6-translations-l10n) one line on standard
// error says so, the dialogs stay in English and the result is null.
QTranslator* installRussianQtTexts(const char* program);

}  // namespace ui
