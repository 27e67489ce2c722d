// What both programs do before their window exists: read the whole command line (answering
// --help and --version, refusing a wrong one) before looking for a display, say in one line when
// there is no display, open the exchange trace, and make Qt's standard dialogs speak the window's
// language.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "protocol/exchange_trace.h"
#include "startup/exit_status.h"

class QCommandLineParser;

class QTranslator;

namespace ui {

// How a start ends before the window opens.
struct EarlyExit {
    int status;    // one of startup/exit_status.h
    QString text;  // for standard output when answered, else for standard error; ends in '\n'
};

// Reads `arguments` (the program's name first) with `parser`, which holds the program's own
// options; --help and --version are added here. The whole command line is checked before the
// display: an unknown option, an option without its value or with an empty one, an option that
// takes a value given more than once, an argument that is no option, or a value `checkValues`
// refuses (it returns why; an empty text when all is well) is a usage error.
// nullopt: the window may open, and `parser` holds the values.
std::optional<EarlyExit> checkCommandLine(const char* program, QCommandLineParser& parser,
                                          const QStringList& arguments,
                                          const std::function<QString()>& checkValues = {});

// Names the application `program` at `version`, then checkCommandLine on the process's own
// arguments; prints what it has to say and returns the exit status, or nullopt when the window
// may open.
std::optional<int> answerBeforeWindow(const char* program, const char* version,
                                      QCommandLineParser& parser, int argc, char** argv,
                                      const std::function<QString()>& checkValues = {});

// The usage error for an option whose value is none of `choices`, all of them named.
QString notAChoice(const QString& option, const QString& value, const QStringList& choices);

struct TraceChoice {
    std::unique_ptr<protocol::TraceFile> trace;  // null when no trace was asked for
    bool failed = false;                         // asked for, and cannot be written (said why)
};
// `path` is the bytes the command line gave; empty when no trace was asked for.
TraceChoice openTrace(const char* program, const std::string& path);

// Installs Qt's own Russian texts (the save dialog's "Перейти к:", "Сохранить", "Отмена", the
// message boxes' buttons), whatever the system's locale. Returns the translator, owned by the
// application; without the translations (Debian: qt6-translations-l10n) one line on standard
// error says so, the dialogs stay in English and the result is null.
QTranslator* installRussianQtTexts(const char* program);

}  // namespace ui
