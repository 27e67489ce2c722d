// What both programs do before their window exists: read the whole command line (answering
// --help and --version, refusing a wrong one) before looking for a display, say in one line when
// there is no display, open the exchange trace, and give the windows and Qt's standard dialogs
// the language asked for.
#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/exchange_trace.h"
#include "startup/exit_status.h"

class QCommandLineParser;
class QLocale;
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

// The languages the windows speak: Russian, their own and the default, or English.
enum class WindowLanguage { Russian, English };

// --lang, which both programs take, and the language its value names (nullopt for another
// value, a usage error).
QCommandLineOption languageOption();
std::optional<WindowLanguage> languageNamed(const QString& value);
// The usage error for a --lang value that names no language, or an empty text.
QString checkLanguage(const QCommandLineParser& parser, const QCommandLineOption& option);

// The folder of the windows' translations: share/camera-tools/translations beside the folder
// that holds the program, as installed (the build lays the same tree out beside its programs).
QString windowTranslationsFolder();

// The texts of the windows and of Qt's standard dialogs (the save dialog's "Перейти к:",
// "Сохранить", "Отмена", the message boxes' buttons) in one language, whatever the system's
// locale, for as long as it lives. Russian: the windows' own texts, with Qt's Russian
// translations. English: the windows' English translation from `folder`, with Qt's own
// English. A translation that is not there is said in one line on standard error; the windows
// then keep their own texts, the dialogs Qt's English.
class WindowTexts {
  public:
    WindowTexts(const char* program, WindowLanguage language,
                const QString& folder = windowTranslationsFolder());
    ~WindowTexts();
    WindowTexts(const WindowTexts&) = delete;
    WindowTexts& operator=(const WindowTexts&) = delete;

    // Every translation the language needs was found and installed.
    bool complete() const { return complete_; }

  private:
    std::vector<std::unique_ptr<QTranslator>> installed_;
    bool complete_ = true;
    bool install(const QString& name, const QLocale& locale, const QString& folder);
};

}  // namespace ui
