#include "ui/program_start.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

#include "ui/display_check.h"

namespace ui {

std::optional<int> answerWithoutWindow(const char* program, int argc, char** argv,
                                       const std::function<void(QCoreApplication&)>& parseOptions) {
    if (onlyAsksForText(argc, argv)) {
        QCoreApplication textOnly(argc, argv);
        parseOptions(textOnly);
        return 0;
    }
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "%s: no display to show the window on (DISPLAY is not set); run it in a "
                     "desktop session, under xvfb-run, or with QT_QPA_PLATFORM=offscreen\n",
                     program);
        return 1;
    }
    return std::nullopt;
}

TraceChoice openTrace(const char* program, const QString& path) {
    TraceChoice choice;
    if (path.isEmpty()) {
        return choice;
    }
    std::string error;
    choice.trace = protocol::TraceFile::open(path.toStdString(), error);
    if (!choice.trace) {
        std::fprintf(stderr, "%s: cannot write the trace file %s: %s\n", program, qPrintable(path),
                     error.c_str());
        choice.failed = true;
    }
    return choice;
}

QTranslator* installRussianQtTexts(const char* program) {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(QCoreApplication::instance());
    // qtbase holds the texts of the widgets' standard dialogs and buttons.
    if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
        std::fprintf(stderr,
                     "%s: Qt's Russian texts (qtbase_ru.qm) are not in %s; the standard dialogs "
                     "speak English (Debian: install qt6-translations-l10n)\n",
                     program, qPrintable(folder));
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

}  // namespace ui
