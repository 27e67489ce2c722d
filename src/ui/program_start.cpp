#include "ui/program_start.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

#include "ui/display_check.h"

namespace ui {

std::optional<EarlyExit> checkCommandLine(const char* program, QCommandLineParser& parser,
                                          const QStringList& arguments,
                                          const std::function<QString()>& checkValues) {
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QString name = QString::fromUtf8(program);
    const auto usageError = [&name](const QString& why) {
        return EarlyExit{
            startup::kExitUsage,
            QStringLiteral("%1: %2\nTry '%1 --help' for the options.\n").arg(name, why)};
    };
    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        // The usage line names the program as the user knows it. Qt names the running binary,
        // or, before there is an application object, a placeholder.
        const QString qtName = QCoreApplication::instance() != nullptr
                                   ? QCoreApplication::arguments().constFirst()
                                   : QStringLiteral("<executable_name>");
        QString text = parser.helpText();
        text.replace(QStringLiteral("Usage: ") + qtName, QStringLiteral("Usage: ") + name);
        return EarlyExit{startup::kExitDone, text};
    }
    if (parser.isSet(version)) {
        return EarlyExit{startup::kExitDone, QStringLiteral("%1 %2\n").arg(
                                                 name, QCoreApplication::applicationVersion())};
    }
    // Qt takes "--trace=" as an empty value and keeps the last of two; neither is what the user
    // meant, so both are refused here for every option that takes a value.
    for (const QString& option : parser.optionNames()) {
        const QStringList values = parser.values(option);
        if (values.size() > 1) {
            return usageError(QStringLiteral("--%1 is given more than once").arg(option));
        }
        if (values.size() == 1 && values.front().isEmpty()) {
            return usageError(QStringLiteral("--%1 has an empty value").arg(option));
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        return usageError(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().front()));
    }
    if (checkValues) {
        if (const QString why = checkValues(); !why.isEmpty()) {
            return usageError(why);
        }
    }
    if (!displayAvailable()) {
        return EarlyExit{
            startup::kExitFailure,
            QStringLiteral(
                "%1: no display to show the window on (DISPLAY is not set); run it in a "
                "desktop session, under xvfb-run -a, or with QT_QPA_PLATFORM=offscreen\n")
                .arg(name)};
    }
    return std::nullopt;
}

std::optional<int> answerBeforeWindow(const char* program, const char* version,
                                      QCommandLineParser& parser, int argc, char** argv,
                                      const std::function<QString()>& checkValues) {
    QCoreApplication::setApplicationName(QString::fromUtf8(program));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(version));
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    const auto early = checkCommandLine(program, parser, arguments, checkValues);
    if (!early) {
        return std::nullopt;
    }
    std::fputs(early->text.toLocal8Bit().constData(),
               early->status == startup::kExitDone ? stdout : stderr);
    return early->status;
}

QString notAChoice(const QString& option, const QString& value, const QStringList& choices) {
    return QStringLiteral("--%1=%2 is not one of %3").arg(option, value, choices.join(", "));
}

TraceChoice openTrace(const char* program, const std::string& path) {
    TraceChoice choice;
    if (path.empty()) {
        return choice;
    }
    std::string error;
    choice.trace = protocol::TraceFile::open(path, error);
    if (!choice.trace) {
        std::fprintf(stderr, "%s: cannot write the trace file %s: %s\n", program, path.c_str(),
                     error.c_str());
        choice.failed = true;
    }
    return choice;
}

namespace {
// The windows' own translations, named as lrelease names them from their .ts files.
constexpr char kWindowTexts[] = "camera-tools";
// Where the build and the package put them, from the programs' folder.
constexpr char kTranslationsFromPrograms[] = CAMERA_TRANSLATIONS_FROM_PROGRAMS;
}  // namespace

QCommandLineOption languageOption() {
    return QCommandLineOption(
        QStringLiteral("lang"),
        QStringLiteral("The window's language: ru (Russian, the default) or en (English)."),
        QStringLiteral("language"), QStringLiteral("ru"));
}

std::optional<WindowLanguage> languageNamed(const QString& value) {
    if (value == QLatin1String("ru")) {
        return WindowLanguage::Russian;
    }
    if (value == QLatin1String("en")) {
        return WindowLanguage::English;
    }
    return std::nullopt;
}

QString checkLanguage(const QCommandLineParser& parser, const QCommandLineOption& option) {
    const QString value = parser.value(option);
    if (languageNamed(value)) {
        return {};
    }
    return notAChoice(option.names().front(), value, {QStringLiteral("ru"), QStringLiteral("en")});
}

QString windowTranslationsFolder() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QLatin1String(kTranslationsFromPrograms));
}

WindowTexts::WindowTexts(const char* program, WindowLanguage language, const QString& folder) {
    if (language == WindowLanguage::English) {
        // The windows' texts are Russian in the source; Qt's own are English already.
        if (!install(QLatin1String(kWindowTexts), QLocale(QLocale::English), folder)) {
            std::fprintf(stderr,
                         "%s: the windows' English texts (%s_en.qm) are not in %s; the window "
                         "speaks Russian\n",
                         program, kWindowTexts, qPrintable(folder));
        }
        return;
    }
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // qtbase holds the texts of the widgets' standard dialogs and buttons.
    if (!install(QStringLiteral("qtbase"), QLocale(QLocale::Russian, QLocale::Russia), qtFolder)) {
        std::fprintf(stderr,
                     "%s: Qt's Russian texts (qtbase_ru.qm) are not in %s; the standard dialogs "
                     "speak English (Debian: install qt6-translations-l10n)\n",
                     program, qPrintable(qtFolder));
    }
}

WindowTexts::~WindowTexts() = default;  // each translator leaves the application as it goes

bool WindowTexts::install(const QString& name, const QLocale& locale, const QString& folder) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, name, QStringLiteral("_"), folder)) {
        complete_ = false;
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    installed_.push_back(std::move(translator));
    return true;
}

}  // namespace ui
