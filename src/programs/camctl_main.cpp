// camctl: the camera module from a script, over the SPI link or the serial link, with no window.
#include <unistd.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "camctl/command_line.h"
#include "camctl/messages.h"
#include "camctl/run.h"
#include "emulator/in_process_module.h"
#include "lpt/port_io_factory.h"
#include "protocol/exchange_trace.h"
#include "session/real_clock.h"
#include "startup/exit_status.h"

namespace {

std::atomic<bool> interrupted{false};
// Said at once on Ctrl-C (unless --quiet): a frame at 2400 baud may take a minute to end.
bool sayOnInterrupt = true;
constexpr char kInterruptNotice[] =
    "camctl: Ctrl-C: the run stops once the frame in progress is saved; Ctrl-C again stops it "
    "now\n";

extern "C" void noteInterrupt(int) {
    interrupted = true;
    if (sayOnInterrupt) {
        // write(2): what a signal handler may call.
        [[maybe_unused]] const auto written =
            ::write(STDERR_FILENO, kInterruptNotice, sizeof kInterruptNotice - 1);
    }
}

// Ctrl-C during a capture ends the run once the frame in progress is saved whole; a second one
// ends it at once (a frame at 2400 baud takes minutes), still with no half file under a final name.
// SIGTERM is not caught: it is how timeout(1), kill and a service manager end a run, and they
// mean now, not after a frame that may never end. It ends camctl where it stands, by the signal
// (143 in a shell); a frame is only ever renamed into place whole, so nothing partial is saved.
void stopCaptureOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

const camctl::Interrupt kInterrupt{interrupted, stopCaptureOnInterrupt};

int runSpi(const camctl::Options& o, protocol::ExchangeTrace* trace, protocol::Clock& clock) {
    std::unique_ptr<emulator::InProcessSpiModule> emulated;
    lpt::PortIoChoice choice;
    protocol::PortIo* port = nullptr;
    if (o.emulator) {
        emulated = std::make_unique<emulator::InProcessSpiModule>();
        port = &emulated->port;
    } else {
        choice = lpt::makePortIo(o.portIo);
        if (!choice.port) {
            std::fprintf(stderr, "camctl: --port-io: %s\nTry 'camctl --help'.\n",
                         choice.error.c_str());
            return startup::kExitUsage;
        }
        port = choice.port.get();
    }
    return camctl::runSpi(o, *port, trace, clock, kInterrupt);
}

int runSerial(const camctl::Options& o, protocol::ExchangeTrace* trace, protocol::Clock& clock) {
    std::unique_ptr<emulator::InProcessSerialModule> emulated;
    std::string device = o.device;
    if (o.emulator) {
        emulated = std::make_unique<emulator::InProcessSerialModule>();
        std::string error;
        const auto path = emulated->peer.start({}, error);
        if (!path) {
            std::fprintf(stderr, "camctl: serial: cannot start the emulated module: %s\n",
                         error.c_str());
            return startup::kExitFailure;
        }
        device = *path;
    }
    return camctl::runSerial(o, device, trace, clock, kInterrupt);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const camctl::ParsedCommandLine parsed = camctl::parseCommandLine(arguments);
    if (parsed.help) {
        std::fputs(camctl::helpText().c_str(), stdout);
        return startup::kExitDone;
    }
    if (parsed.version) {
        std::printf("camctl %s\n", PROJECT_VERSION);
        return startup::kExitDone;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "camctl: %s\nTry 'camctl --help'.\n", parsed.error.c_str());
        return startup::kExitUsage;
    }
    const camctl::Options& o = parsed.options;
    sayOnInterrupt = !o.quiet;
    // A stream's reader that goes away ends the run after the frame in progress, with status 0:
    // the write's EPIPE tells it, where SIGPIPE would end camctl in the middle of its work.
    if (o.command == camctl::Command::Capture && camctl::namesStandardOutput(o.capture.pattern)) {
        std::signal(SIGPIPE, SIG_IGN);
    }

    // Qt's core for the serial port and the JPEG check; no display is needed.
    QCoreApplication app(argc, argv);
    // camctl runs no event loop (its one thread does the work and waits by sleeping), but one turn
    // of it now lets Qt's event dispatcher (glib) set up its per-thread state before any work:
    // set up later, Clang 14's LeakSanitizer crashed reading that state at the exit of a capture.
    QCoreApplication::processEvents();
    // A frame that is no whole JPEG is told on its own line; the decoder's words add nothing.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio.jpeg=false"));

    std::unique_ptr<protocol::TraceFile> trace;
    if (!o.tracePath.empty()) {
        std::string error;
        trace = protocol::TraceFile::open(o.tracePath, error);
        if (!trace) {
            std::fprintf(stderr, "camctl: cannot write the trace %s: %s\n",
                         camctl::plainName(o.tracePath).c_str(), error.c_str());
            return startup::kExitFailure;
        }
        // The run goes on without the lines the disk refuses; the first refusal is told.
        trace->onFirstLoss([](const std::string& reason) {
            std::fprintf(stderr, "camctl: trace lines are being lost: %s\n", reason.c_str());
        });
    }
    session::RealClock clock;
    return o.link == camctl::LinkKind::Spi ? runSpi(o, trace.get(), clock)
                                           : runSerial(o, trace.get(), clock);
}
