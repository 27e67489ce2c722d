// camctl: the camera module from a script, over the SPI link or the serial link, with no window.
#include <unistd.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>

#include "camctl/capture_run.h"
#include "camctl/command_line.h"
#include "camctl/messages.h"
#include "camctl/settings_script.h"
#include "emulator/in_process_module.h"
#include "lpt/port_io_factory.h"
#include "lpt/spi_link.h"
#include "protocol/encodings.h"
#include "protocol/exchange_trace.h"
#include "serial/frame_end.h"
#include "serial/qt_serial_control.h"
#include "serial/serial_link.h"
#include "session/real_clock.h"
#include "session/serial_session.h"
#include "session/spi_session.h"
#include "startup/exit_status.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void noteInterrupt(int) {
    interrupted = true;
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

int linkFailed(const std::string& linkName, const std::string& reason) {
    std::fprintf(stderr, "camctl: %s: %s\n", linkName.c_str(), reason.c_str());
    return startup::kExitFailure;
}

// A read-back that got no answer.
int noAnswer(const std::string& linkName, const protocol::LinkFault& fault) {
    return linkFailed(linkName, "the module did not answer: " + camctl::describe(fault));
}

// The exit status of an operation that gives nothing: done, or its fault told.
int statusOf(const protocol::Result<void>& done, const std::string& linkName) {
    return done ? startup::kExitDone : linkFailed(linkName, camctl::describe(done.fault()));
}

// A speed the command line took: one of the table's.
protocol::SpeedCode speedCode(std::uint32_t baud) {
    return {baud, protocol::speedCodeForBaud(baud).value_or(0)};
}

void printReading(const camctl::ModuleSettings::Reading& reading, bool json) {
    if (json) {
        std::string line = "{";
        for (const auto& [name, value] : reading.values) {
            // Appended piece by piece: GCC 12 falsely warns (-Wrestrict) on a short literal + a
            // temporary string.
            if (line.size() > 1) {
                line += ',';
            }
            line += camctl::jsonString(name);
            line += ':';
            line += camctl::jsonValue(value);
        }
        std::printf("%s}\n", line.c_str());
        return;
    }
    for (const auto& [name, value] : reading.values) {
        std::printf("%s=%s\n", name.c_str(), value.c_str());
    }
}

// get and set, the same over both links.
int runSettings(const camctl::Options& o, camctl::ModuleSettings& settings,
                const std::string& linkName) {
    if (o.command == camctl::Command::Get) {
        const auto reading = settings.read();
        if (reading.failure) {
            return noAnswer(linkName, *reading.failure);
        }
        printReading(reading, o.json);
        return startup::kExitDone;
    }
    std::vector<std::string> notes;
    if (const auto failure = settings.apply(o.changes, notes)) {
        return linkFailed(linkName, camctl::describe(*failure));
    }
    for (const std::string& note : notes) {
        std::fprintf(stderr, "camctl: %s\n", note.c_str());
    }
    return startup::kExitDone;
}

camctl::CaptureOutput captureOutput(const camctl::Options& o, const std::string& linkName) {
    camctl::CaptureOutput output;
    output.progress = !o.quiet && isatty(STDERR_FILENO) != 0;
    output.linkName = linkName;
    return output;
}

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
    lpt::SpiLink link(*port, trace);
    session::SpiSession spi(link, clock);
    spi.choosePort(o.lpt - 1);
    const std::string linkName = "spi " + link.portName();
    // The idle pattern goes to the port given, and nothing to any other.
    if (const auto started = spi.start(o.lpt - 1); !started) {
        return linkFailed(linkName, "port access failed: " + started.fault().reason);
    }
    if (o.mode != protocol::kPowerUpSpiMode) {
        if (const auto switched = spi.switchMode(o.mode); !switched) {
            return statusOf(switched, linkName);
        }
    }

    int status = startup::kExitDone;
    if (o.command == camctl::Command::Capture) {
        stopCaptureOnInterrupt();
        status = camctl::runCapture(spi, clock, o.capture, captureOutput(o, linkName), interrupted);
    } else if (o.command == camctl::Command::Reset) {
        status = statusOf(spi.reset(), linkName);
    } else {
        camctl::ModuleSettings settings(spi);
        status = runSettings(o, settings, linkName);
    }
    spi.stop();
    return status;
}

// speed: the module's speed register, as a speed or the code that names none.
int readSpeed(session::SerialSession& module, bool json, const std::string& linkName) {
    const auto speed = module.readSpeed();
    if (!speed) {
        return noAnswer(linkName, speed.fault());
    }
    const std::string value = speed->baud ? std::to_string(*speed->baud)
                                          : "none (code " + std::to_string(speed->code) + ")";
    if (json) {
        std::printf("{\"speed\":%s}\n", camctl::jsonValue(value).c_str());
    } else {
        std::printf("speed=%s\n", value.c_str());
    }
    return startup::kExitDone;
}

// speed BAUD: the module first, then the PC's line.
int writeSpeed(session::SerialSession& module, std::uint32_t baud, const std::string& linkName) {
    const auto switched = module.writeSpeed(speedCode(baud));
    if (!switched && switched.fault().kind == protocol::LinkFault::Kind::Refused) {
        return linkFailed(linkName, "the module was told " + std::to_string(baud) +
                                        " baud, but the PC's line refused it");
    }
    return statusOf(switched, linkName);
}

int runSerial(const camctl::Options& o, protocol::ExchangeTrace* trace, protocol::Clock& clock) {
    std::unique_ptr<emulator::InProcessSerialModule> emulated;
    std::string device = o.device;
    if (o.emulator) {
        emulated = std::make_unique<emulator::InProcessSerialModule>();
        std::string error;
        const auto path = emulated->peer.start({}, error);
        if (!path) {
            return linkFailed("serial", "cannot start the emulated module: " + error);
        }
        device = *path;
    }
    const std::string linkName = "serial " + camctl::plainName(device);
    serial::PortMap ports;
    ports.assign(1, device);
    serial::QtSerialControl control(ports);
    serial::SerialLink link(control, clock, trace);
    // Frames arrive into the store camctl gives each capture; this one takes none.
    frames::FrameStore unrequested;
    session::SerialSession module(control, link, unrequested, clock);
    // The emulated module starts at 2400 like a module after reset; --baud is then reached by a
    // speed write, module first.
    const std::uint32_t openBaud = o.emulator ? protocol::kResetBaud : o.baud;
    if (!control.setBaud(openBaud)) {
        return linkFailed(linkName, "the line refused " + std::to_string(openBaud) + " baud");
    }
    if (const auto failure = module.choosePort(1)) {
        return linkFailed(linkName, "cannot open: " + failure->reason);
    }
    if (o.emulator && o.baud != protocol::kResetBaud) {
        if (const auto switched = module.writeSpeed(speedCode(o.baud)); !switched) {
            return switched.fault().kind == protocol::LinkFault::Kind::Refused
                       ? linkFailed(linkName,
                                    "the line refused " + std::to_string(o.baud) + " baud")
                       : statusOf(switched, linkName);
        }
    }

    int status = startup::kExitDone;
    switch (o.command) {
        case camctl::Command::Capture:
            stopCaptureOnInterrupt();
            status = camctl::runCapture(module, clock, o.capture, captureOutput(o, linkName),
                                        interrupted);
            break;
        case camctl::Command::Speed:
            status = o.speed ? writeSpeed(module, *o.speed, linkName)
                             : readSpeed(module, o.json, linkName);
            break;
        case camctl::Command::Reset:
            status = statusOf(module.reset(), linkName);
            break;
        case camctl::Command::Get:
        case camctl::Command::Set: {
            camctl::ModuleSettings settings(module);
            status = runSettings(o, settings, linkName);
            break;
        }
    }
    // Closing puts the line's old settings back at once: the last bytes sent get their line time
    // first, so the module does not read them at another speed.
    clock.waitYielding(serial::FrameEnd::idleTimeFor(control.baud()));
    control.close();
    return status;
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

    // The serial port and the clock's waits run on Qt's event loop; no display is needed.
    QCoreApplication app(argc, argv);
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
