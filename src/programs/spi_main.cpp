// SPI: drives the camera module over SPI bit-banged on a PC parallel port.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>

#include "emulator/in_process_module.h"
#include "frames/frame_store.h"
#include "lpt/port_io_factory.h"
#include "lpt/spi_link.h"
#include "protocol/exchange_trace.h"
#include "ui/operator_dialogs.h"
#include "ui/program_start.h"
#include "ui/spi_form.h"
#include "ui/wait.h"

namespace {

constexpr char kProgramName[] = "SPI";

constexpr char kEmulatorChoice[] = "emulator";

struct Options {
    QString portIo = QStringLiteral("auto");
    QString tracePath;
};

// Reads the command line; exits for --help, --version and a bad option.
Options parseOptions(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives the JPEG camera module over SPI on a PC parallel port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portIo(
        QStringLiteral("port-io"),
        QStringLiteral("Port access: auto, ppdev, direct, emulator, unix:PATH (default auto: ppdev "
                       "when a /dev/parport* device exists)."),
        QStringLiteral("backend"), QStringLiteral("auto"));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Write one line per exchange with the module to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption emulator(
        QStringLiteral("emulator"),
        QStringLiteral(
            "Drive an emulated camera module in this process (same as --port-io=emulator)."));
    parser.addOption(portIo);
    parser.addOption(emulator);
    parser.addOption(trace);
    parser.process(app);
    const QString chosen =
        parser.isSet(emulator) ? QString::fromLatin1(kEmulatorChoice) : parser.value(portIo);
    return {chosen, parser.value(trace)};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(kProgramName);
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
    if (const auto exitCode = ui::answerWithoutWindow(
            kProgramName, argc, argv, [](QCoreApplication& app) { parseOptions(app); })) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    // The save dialog and the message boxes speak the window's language.
    ui::installRussianQtTexts(kProgramName);
    const Options options = parseOptions(app);

    const ui::TraceChoice trace = ui::openTrace(kProgramName, options.tracePath);
    if (trace.failed) {
        return 2;
    }

    // The emulated module lives as long as the window that drives it.
    std::unique_ptr<emulator::InProcessSpiModule> emulatedModule;
    lpt::PortIo* port = nullptr;
    lpt::PortIoChoice choice;
    if (options.portIo == QLatin1String(kEmulatorChoice)) {
        emulatedModule = std::make_unique<emulator::InProcessSpiModule>();
        port = &emulatedModule->port;
    } else {
        choice = lpt::makePortIo(options.portIo.toStdString());
        if (!choice.port) {
            std::fprintf(stderr, "%s: --port-io=%s: %s\n", kProgramName, qPrintable(options.portIo),
                         choice.error.c_str());
            return 2;
        }
        port = choice.port.get();
    }

    // The program-wide state: one frame store, one link, alive for the whole run.
    frames::FrameStore frameStore;
    lpt::SpiLink link(*port, trace.trace.get());
    ui::QtOperatorDialogs dialogs;
    ui::SpiForm window(link, frameStore, ui::realClock(), dialogs);
    window.Form_Load();
    window.show();
    return app.exec();
}
