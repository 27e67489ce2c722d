// SPI: drives the camera module over SPI bit-banged on a PC parallel port.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "emulator/in_process_module.h"
#include "frames/frame_store.h"
#include "lpt/port_io_factory.h"
#include "lpt/spi_link.h"
#include "lpt/vcd_recorder.h"
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
const QStringList kPortIoChoices = {
    QStringLiteral("auto"),      QStringLiteral("ppdev"),
    QStringLiteral("direct"),    QString::fromLatin1(kEmulatorChoice),
    QStringLiteral("unix:PATH"), QStringLiteral("ftdi[:SELECTOR]")};

// The write end of the pipe that carries Ctrl-C into the event loop.
int interruptPipe = -1;

extern "C" void passInterrupt(int) {
    const char signalled = 1;
    [[maybe_unused]] const auto ignored = ::write(interruptPipe, &signalled, 1);
}

// Ends the VCD whole, with `why` as its last comment, before the window has closed.
void endVcd(lpt::VcdRecorder& vcd, ui::SpiForm& owner, std::string_view why) {
    owner.stopLink();  // its accesses write to the file
    vcd.onWriteError({});
    vcd.close(why);
    if (!vcd.writeFailure().empty()) {
        std::fprintf(stderr, "%s: the VCD file could not be written: %s\n", kProgramName,
                     vcd.writeFailure().c_str());
    }
}

// Qt's last warning, kept for the VCD's end: Qt exits by itself when its X11 connection breaks
// (the X server died), and says why only in a warning.
std::mutex lastWarningMutex;
std::string lastWarning;
QtMessageHandler qtMessageHandler = nullptr;

void keepLastWarning(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) {
        const std::lock_guard lock(lastWarningMutex);
        lastWarning = text.toStdString();
    }
    qtMessageHandler(type, context, text);
}

// The window and its VCD while the event loop runs: an exit() in that time ends the file whole.
ui::SpiForm* runningWindow = nullptr;
lpt::VcdRecorder* runningVcd = nullptr;

void endVcdAtExit() {
    if (runningWindow == nullptr) {
        return;
    }
    std::string why = "the program exited before its window closed";
    if (const std::lock_guard lock(lastWarningMutex); !lastWarning.empty()) {
        why += ": " + lastWarning;
    }
    endVcd(*runningVcd, *std::exchange(runningWindow, nullptr), why);
}

// An exit() from within Qt, while the window still runs, ends the VCD whole with Qt's reason.
void closeAtExit(lpt::VcdRecorder& vcd, ui::SpiForm& owner) {
    runningVcd = &vcd;
    runningWindow = &owner;
    qtMessageHandler = qInstallMessageHandler(keepLastWarning);
    std::atexit(endVcdAtExit);
}

// Ctrl-C ends the program as it always did, once the VCD has ended whole: the signal only wakes
// the event loop (which runs during a download too), where the link is stopped, the file is
// closed and the signal raised again with its default action.
void closeOnInterrupt(lpt::VcdRecorder& vcd, ui::SpiForm& owner) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // the file still holds every operation up to the last flush
    }
    interruptPipe = ends[1];
    auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, &owner);
    QObject::connect(notifier, &QSocketNotifier::activated, [&vcd, &owner] {
        runningWindow = nullptr;
        endVcd(vcd, owner, "interrupted (Ctrl-C)");
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    });
    struct sigaction action {};
    action.sa_handler = passInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments as bytes, before the application takes any of its own out.
    const std::vector<std::string> arguments(argv, argv + argc);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives the JPEG camera module over SPI on a PC parallel port."));
    const QCommandLineOption portIo(
        QStringLiteral("port-io"),
        QStringLiteral("Port access: auto, ppdev, direct, emulator, unix:PATH, ftdi[:SELECTOR] "
                       "(an FTDI USB adapter; default auto: ppdev when a /dev/parport* device "
                       "exists)."),
        QStringLiteral("backend"), QStringLiteral("auto"));
    const QCommandLineOption emulator(
        QStringLiteral("emulator"),
        QStringLiteral(
            "Drive an emulated camera module in this process (same as --port-io=emulator)."));
    const QCommandLineOption trace(
        QStringLiteral("trace"),
        QStringLiteral("Write one line per exchange with the module to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption vcd(
        QStringLiteral("vcd"),
        QStringLiteral("Write the port's pins as a Value Change Dump (VCD) to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption vcdTime(
        QStringLiteral("vcd-time"),
        QStringLiteral("VCD times: real (ns from the start, the default) or accesses (two steps "
                       "per port access)."),
        QStringLiteral("base"), QStringLiteral("real"));
    const QCommandLineOption language = ui::languageOption();
    parser.addOptions({portIo, emulator, trace, vcd, vcdTime, language});

    // The back-end is chosen with the command line, so a wrong --port-io, or one beside
    // --emulator, is a usage error told before the display is looked for. Choosing opens nothing
    // yet.
    bool emulated = false;
    lpt::PortIoChoice choice;
    const auto checkValues = [&]() -> QString {
        if (const QString why = ui::checkLanguage(parser, language); !why.isEmpty()) {
            return why;
        }
        const QString time = parser.value(vcdTime);
        if (time != QLatin1String("real") && time != QLatin1String("accesses")) {
            return ui::notAChoice(vcdTime.names().front(), time,
                                  {QStringLiteral("real"), QStringLiteral("accesses")});
        }
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
                                                     argv, checkValues)) {
        return *exitCode;
    }
    QApplication app(argc, argv);
    // The window, the save dialog and the message boxes speak the language asked for.
    const ui::WindowTexts texts(kProgramName, *ui::languageNamed(parser.value(language)));

    // Paths as the bytes given, whatever their encoding.
    auto paths = startup::optionValueBytes(arguments, {"port-io", "trace", "vcd"});
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
    session::RealClock clock;
    std::unique_ptr<lpt::VcdRecorder> vcdFile;
    if (!paths["vcd"].empty()) {
        std::string error;
        const bool accesses = parser.value(vcdTime) == QLatin1String("accesses");
        vcdFile = lpt::VcdRecorder::open(
            paths["vcd"], accesses ? lpt::VcdTime::Accesses : lpt::VcdTime::Real, clock, error);
        if (!vcdFile) {
            std::fprintf(stderr, "%s: cannot write the VCD file %s: %s\n", kProgramName,
                         paths["vcd"].c_str(), error.c_str());
            return startup::kExitFailure;
        }
    }
    frames::FrameStore frameStore;
    lpt::SpiLink link(*port, traceFile.trace.get());
    link.setPortWatch(vcdFile.get());
    ui::QtOperatorDialogs dialogs;
    ui::SpiForm window(link, frameStore, clock, dialogs);
    // The link has a thread of its own: the window never waits for the module, and closing it
    // ends the running operation at once.
    window.runLinkOnItsOwnThread([&clock] { clock.interrupt(); });
    if (traceFile.trace) {
        window.watchTrace(*traceFile.trace, QFile::decodeName(paths["trace"].c_str()));
    }
    if (vcdFile) {
        window.watchVcd(*vcdFile, QFile::decodeName(paths["vcd"].c_str()));
        closeOnInterrupt(*vcdFile, window);
        closeAtExit(*vcdFile, window);
    }
    window.Form_Load();
    window.show();
    const int status = app.exec();
    runningWindow = nullptr;
    // The window's close stopped the link and ended the VCD; a file that could not be written
    // has been said on standard error.
    return status != 0 ? status : window.exitStatus();
}
