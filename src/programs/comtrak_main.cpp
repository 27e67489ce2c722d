// comtrak: drives the camera module over an RS-232 line.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <cstdio>
#include <memory>

#include "emulator/in_process_module.h"
#include "frames/frame_store.h"
#include "protocol/exchange_trace.h"
#include "serial/qt_serial_control.h"
#include "serial/serial_link.h"
#include "session/real_clock.h"
#include "startup/exit_status.h"
#include "startup/option_bytes.h"
#include "ui/comtrak_form.h"
#include "ui/operator_dialogs.h"
#include "ui/program_start.h"

namespace {

constexpr char kProgramName[] = "comtrak";
// The port the window opens at start, and so the one the emulated module is put on.
constexpr int kEmulatedPortNumber = 2;

struct Options {
    serial::PortMap ports;
    bool emulator = false;
    std::string tracePath;  // the bytes given
};

// The program's options on `parser`, and what they come to once it has read the command line.
class CommandLine {
  public:
    explicit CommandLine(QCommandLineParser& parser)
        : parser_(parser),
          emulator_(QStringLiteral("emulator"),
                    QStringLiteral("Put an emulated camera module in this process on COM%1 (a "
                                   "pseudo-terminal).")
                        .arg(kEmulatedPortNumber)),
          trace_(QStringLiteral("trace"),
                 QStringLiteral("Write one line per exchange with the module to FILE."),
                 QStringLiteral("FILE")),
          language_(ui::languageOption()) {
        parser.setApplicationDescription(
            QStringLiteral("Drives the JPEG camera module over an RS-232 line."));
        for (int n = 1; n <= serial::PortMap::kPortCount; ++n) {
            portOptions_.emplace_back(
                QStringLiteral("com%1").arg(n),
                QStringLiteral("Device of COM%1 (default /dev/ttyS%2).").arg(n).arg(n - 1),
                QStringLiteral("DEV"));
            parser.addOption(portOptions_.back());
        }
        parser.addOption(emulator_);
        parser.addOption(trace_);
        parser.addOption(language_);
    }

    // Paths are taken as the bytes of `arguments`, whatever their encoding.
    Options options(const std::vector<std::string>& arguments) const {
        std::vector<std::string> names{"trace"};
        for (const QCommandLineOption& option : portOptions_) {
            names.push_back(option.names().front().toStdString());
        }
        auto paths = startup::optionValueBytes(arguments, names);
        Options options;
        for (int n = 1; n <= serial::PortMap::kPortCount; ++n) {
            const QCommandLineOption& option = portOptions_[static_cast<std::size_t>(n - 1)];
            if (parser_.isSet(option)) {
                options.ports.assign(n, paths[option.names().front().toStdString()]);
            }
        }
        options.emulator = parser_.isSet(emulator_);
        options.tracePath = paths["trace"];
        return options;
    }

    // Why the options cannot be taken, or an empty text: a --lang that names no language, or two
    // choices of one port. The emulated module takes the port the window opens at start, so a
    // device of that port would be left unused; the other ports keep their devices beside it.
    QString conflict() const {
        if (const QString why = ui::checkLanguage(parser_, language_); !why.isEmpty()) {
            return why;
        }
        const QCommandLineOption& taken =
            portOptions_[static_cast<std::size_t>(kEmulatedPortNumber - 1)];
        if (parser_.isSet(emulator_) && parser_.isSet(taken)) {
            return QStringLiteral("--emulator and --%1 both choose COM%2; give one")
                .arg(taken.names().front())
                .arg(kEmulatedPortNumber);
        }
        return {};
    }

    // The window's language, once conflict() has found none.
    ui::WindowLanguage language() const { return *ui::languageNamed(parser_.value(language_)); }

  private:
    QCommandLineParser& parser_;
    std::vector<QCommandLineOption> portOptions_;
    QCommandLineOption emulator_;
    QCommandLineOption trace_;
    QCommandLineOption language_;
};

}  // namespace

int main(int argc, char** argv) {
    // The arguments as bytes, before the application takes any of its own out.
    const std::vector<std::string> arguments(argv, argv + argc);
    QCommandLineParser parser;
    const CommandLine commandLine(parser);
    if (const auto exitCode =
            ui::answerBeforeWindow(kProgramName, PROJECT_VERSION, parser, argc, argv,
                                   [&] { return commandLine.conflict(); })) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    // The window, the save dialog and the message boxes speak the language asked for.
    const ui::WindowTexts texts(kProgramName, commandLine.language());
    Options options = commandLine.options(arguments);

    const ui::TraceChoice trace = ui::openTrace(kProgramName, options.tracePath);
    if (trace.failed) {
        return startup::kExitFailure;
    }

    // The emulated module lives as long as the window that drives it.
    std::unique_ptr<emulator::InProcessSerialModule> emulated;
    if (options.emulator) {
        emulated = std::make_unique<emulator::InProcessSerialModule>();
        std::string error;
        const auto device = emulated->peer.start({}, error);
        if (!device) {
            std::fprintf(stderr, "%s: cannot start the emulated module: %s\n", kProgramName,
                         error.c_str());
            return startup::kExitFailure;
        }
        options.ports.assign(kEmulatedPortNumber, *device);
        std::fprintf(stderr, "%s: emulated module on COM%d (%s)\n", kProgramName,
                     kEmulatedPortNumber, device->c_str());
    }

    // The program-wide state: one frame store, one serial control and link, for the whole run.
    frames::FrameStore frameStore;
    serial::QtSerialControl control(options.ports);
    session::RealClock clock;
    serial::SerialLink link(control, clock, trace.trace.get());
    ui::QtOperatorDialogs dialogs;
    ui::ComtrakForm window(control, link, frameStore, clock, dialogs);
    // The line has a thread of its own: the window never waits for the module, and closing it
    // ends the running operation at once.
    window.runLinkOnItsOwnThread([&clock] { clock.interrupt(); });
    if (trace.trace) {
        window.watchTrace(*trace.trace, QFile::decodeName(options.tracePath.c_str()));
    }
    window.Form_Load();
    window.show();
    const int status = app.exec();
    // A trace that lost lines has said so on standard error at the close.
    return status != 0 ? status : window.exitStatus();
}
