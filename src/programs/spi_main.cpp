// SPI: drives the camera module over SPI bit-banged on a PC parallel port.
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <memory>

#include "emulator/in_process_module.h"
#include "frames/frame_store.h"
#include "lpt/port_io_factory.h"
#include "lpt/spi_link.h"
#include "protocol/exchange_trace.h"
#include "session/real_clock.h"
#include "startup/exit_status.h"
#include "startup/option_bytes.h"
#include "ui/operator_dialogs.h"
#include "ui/program_start.h"
#include "ui/spi_form.h"

namespace {

constexpr char kProgramName[] = "SPI";

constexpr char kEmulatorChoice[] = "emulator";

// The back-ends --port-io takes, for the text that refuses another.
const QStringList kPortIoChoices = {QStringLiteral("auto"), QStringLiteral("ppdev"),
                                    QStringLiteral("direct"), QString::fromLatin1(kEmulatorChoice),
                                    QStringLiteral("unix:PATH")};

}  // namespace

int main(int argc, char** argv) {
    // The arguments as bytes, before the application takes any of its own out.
    const std::vector<std::string> arguments(argv, argv + argc);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives the JPEG camera module over SPI on a PC parallel port."));
    const QCommandLineOption portIo(
        QStringLiteral("port-io"),
        QStringLiteral("Port access: auto, ppdev, direct, emulator, unix:PATH (default auto: ppdev "
                       "when a /dev/parport* device exists)."),
        QStringLiteral("backend"), QStringLiteral("auto"));
    const QCommandLineOption emulator(
        QStringLiteral("emulator"),
        QStringLiteral(
            "Drive an emulated camera module in this process (same as --port-io=emulator)."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Write one line per exchange with the module to FILE."),
        QStringLiteral("FILE"));
    parser.addOptions({portIo, emulator, trace});

    // The back-end is chosen with the command line, so a wrong --port-io, or one beside
    // --emulator, is a usage error told before the display is looked for. Choosing opens nothing
    // yet.
    bool emulated = false;
    lpt::PortIoChoice choice;
    const auto checkPortIo = [&]() -> QString {
        const QString value = parser.value(portIo);
        // The emulator is a port of its own: a second port beside it would be left unused.
        if (parser.isSet(emulator) && parser.isSet(portIo) &&
            value != QLatin1String(kEmulatorChoice)) {
            return QStringLiteral("--emulator and --port-io=%1 choose two ports; give one")
                .arg(value);
        }
        emulated = parser.isSet(emulator) || value == QLatin1String(kEmulatorChoice);
        if (emulated) {
            return {};
        }
        choice = lpt::makePortIo(value.toStdString());
        if (choice.port) {
            return {};
        }
        // "unix:" without a path: the back-end's own words say what is missing.
        if (value.startsWith(QStringLiteral("unix:"))) {
            return QString::fromStdString(choice.error);
        }
        return ui::notAChoice(portIo.names().front(), value, kPortIoChoices);
    };
    if (const auto exitCode = ui::answerBeforeWindow(kProgramName, PROJECT_VERSION, parser, argc,
                                                     argv, checkPortIo)) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    // The save dialog and the message boxes speak the window's language.
    ui::installRussianQtTexts(kProgramName);

    // Paths as the bytes given, whatever their encoding.
    auto paths = startup::optionValueBytes(arguments, {"port-io", "trace"});
    if (!emulated && paths.count("port-io") != 0) {
        choice = lpt::makePortIo(paths["port-io"]);
    }
    const ui::TraceChoice traceFile = ui::openTrace(kProgramName, paths["trace"]);
    if (traceFile.failed) {
        return startup::kExitFailure;
    }

    // The emulated module lives as long as the window that drives it.
    std::unique_ptr<emulator::InProcessSpiModule> emulatedModule;
    protocol::PortIo* port = choice.port.get();
    if (emulated) {
        emulatedModule = std::make_unique<emulator::InProcessSpiModule>();
        port = &emulatedModule->port;
    }

    // The program-wide state: one frame store, one link, alive for the whole run.
    frames::FrameStore frameStore;
    lpt::SpiLink link(*port, traceFile.trace.get());
    ui::QtOperatorDialogs dialogs;
    session::RealClock clock;
    ui::SpiForm window(link, frameStore, clock, dialogs);
    if (traceFile.trace) {
        window.watchTrace(*traceFile.trace, QFile::decodeName(paths["trace"].c_str()));
    }
    window.Form_Load();
    window.show();
    return app.exec();
}
