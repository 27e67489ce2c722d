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
#include "camctl/settings_script.h"
#include "emulator/camera_module.h"
#include "emulator/emulator_log.h"
#include "emulator/in_process_module.h"
#include "emulator/serial_peer.h"
#include "lpt/port_io_factory.h"
#include "lpt/spi_link.h"
#include "protocol/exchange_trace.h"
#include "protocol/registers.h"
#include "protocol/wire.h"
#include "serial/frame_end.h"
#include "serial/line_speed.h"
#include "serial/qt_serial_control.h"
#include "serial/real_clock.h"
#include "serial/serial_link.h"
#include "session/serial_session.h"
#include "session/spi_session.h"

namespace {

using camctl::kExitLinkFailed;

std::atomic<bool> interrupted{false};

extern "C" void noteInterrupt(int) {
    interrupted = true;
}

// Ctrl-C during a capture ends the run once the frame in progress is saved whole; a second one
// ends it at once (a frame at 2400 baud takes minutes), still with no half file under a final name.
void stopCaptureOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int linkFailed(const std::string& linkName, const std::string& reason) {
    std::fprintf(stderr, "camctl: %s: %s\n", linkName.c_str(), reason.c_str());
    return kExitLinkFailed;
}

void printReading(const camctl::ModuleSettings::Reading& reading, bool json) {
    if (json) {
        std::string line = "{";
        for (const auto& [name, value] : reading.values) {
            line += (line.size() > 1 ? "," : "") + camctl::jsonString(name) + ":" +
                    camctl::jsonValue(value);
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
            return linkFailed(linkName, "the module did not answer: " + *reading.failure);
        }
        printReading(reading, o.json);
        return camctl::kExitDone;
    }
    std::vector<std::string> notes;
    if (const auto failure = settings.apply(o.changes, notes)) {
        return linkFailed(linkName, *failure);
    }
    for (const std::string& note : notes) {
        std::fprintf(stderr, "camctl: %s\n", note.c_str());
    }
    return camctl::kExitDone;
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
            return camctl::kExitUsage;
        }
        port = choice.port.get();
    }
    lpt::SpiLink link(*port, trace);
    link.choosePort(o.lpt - 1);
    const std::string linkName = "spi " + link.portName();
    if (!link.startPortAccess()) {
        return linkFailed(linkName, "port access failed: " + link.failureReason());
    }
    link.enterStartState();
    link.choosePort(o.lpt - 1);
    int mode = 0;
    const auto switchMode = [&](int to) {
        link.switchMode(to);
        mode = to;
    };
    if (o.mode != 0) {
        link.beginOperation();
        switchMode(o.mode);
        if (const auto fault = link.takeFault()) {
            return linkFailed(linkName, fault->systemText());
        }
    }

    int status = camctl::kExitDone;
    if (o.command == camctl::Command::Capture) {
        stopCaptureOnInterrupt();
        session::SpiSession spi(link, clock);
        status = camctl::runCapture(spi, clock, o.capture, captureOutput(o, linkName), interrupted);
    } else if (o.command == camctl::Command::Reset) {
        // As the window's reset: the command in the mode in force, the mode register told 0 in
        // that mode when it was another, then 0 again in mode 0.
        link.beginOperation();
        protocol::sendCommand(link, protocol::command::kReset);
        if (mode != 0) {
            switchMode(0);
        }
        switchMode(0);
        if (const auto fault = link.takeFault()) {
            status = linkFailed(linkName, fault->systemText());
        }
    } else {
        camctl::ModuleSettings settings(link, clock, camctl::LinkKind::Spi, switchMode);
        status = runSettings(o, settings, linkName);
    }
    link.stopPortAccess();
    return status;
}

// The emulated module with its serial port on a pseudo-terminal, alive as long as the run.
struct EmulatedModuleOnPty {
    emulator::EmulatorLog log;
    emulator::CameraModule module{log};
    emulator::SerialPeer peer{module, log};
};

int runSerial(const camctl::Options& o, protocol::ExchangeTrace* trace, protocol::Clock& clock) {
    std::unique_ptr<EmulatedModuleOnPty> emulated;
    std::string device = o.device;
    if (o.emulator) {
        emulated = std::make_unique<EmulatedModuleOnPty>();
        std::string error;
        const auto path = emulated->peer.start({}, error);
        if (!path) {
            return linkFailed("serial", "cannot start the emulated module: " + error);
        }
        device = *path;
    }
    const std::string linkName = "serial " + device;
    serial::PortMap ports;
    ports.assign(1, device);
    serial::QtSerialControl control(ports);
    control.setCommPort(1);
    // The emulated module starts at 2400 like a module after reset; --baud is then reached by a
    // speed write, module first.
    const std::uint32_t openBaud = o.emulator ? protocol::kResetBaud : o.baud;
    if (!control.setBaud(openBaud)) {
        return linkFailed(linkName, "the line refused " + std::to_string(openBaud) + " baud");
    }
    if (const auto failure = control.open()) {
        return linkFailed(linkName, "cannot open: " + failure->reason);
    }
    serial::SerialLink link(control, clock, trace);
    serial::LineSpeed lineSpeed(control, link, clock);
    if (o.emulator && o.baud != protocol::kResetBaud &&
        lineSpeed.write(std::to_string(o.baud)) != serial::LineSpeed::WriteOutcome::Switched) {
        return linkFailed(linkName, "the line refused " + std::to_string(o.baud) + " baud");
    }

    int status = camctl::kExitDone;
    switch (o.command) {
        case camctl::Command::Capture: {
            stopCaptureOnInterrupt();
            // Frames arrive into the store each capture gives; this one takes none.
            frames::FrameStore unrequested;
            session::SerialSession module(control, link, unrequested, clock);
            status = camctl::runCapture(module, clock, o.capture, captureOutput(o, linkName),
                                        interrupted);
            break;
        }
        case camctl::Command::Speed: {
            link.beginOperation();
            if (o.speed) {
                const auto outcome = lineSpeed.write(std::to_string(*o.speed));
                if (outcome != serial::LineSpeed::WriteOutcome::Switched) {
                    status =
                        linkFailed(linkName, "the module was told " + std::to_string(*o.speed) +
                                                 " baud, but the PC's line refused it");
                    break;
                }
            } else {
                const auto speed = lineSpeed.readModuleSpeed();
                if (!speed.answered) {
                    const auto fault = link.takeFault();
                    status = linkFailed(linkName, "the module did not answer: " +
                                                      (fault ? fault->systemText()
                                                             : "no reply within the time limit"));
                    break;
                }
                const std::string value =
                    speed.text.value_or("none (code " + std::to_string(speed.code) + ")");
                if (o.json) {
                    std::printf("{\"speed\":%s}\n", camctl::jsonValue(value).c_str());
                } else {
                    std::printf("speed=%s\n", value.c_str());
                }
            }
            if (const auto fault = link.takeFault()) {
                status = linkFailed(linkName, fault->systemText());
            }
            break;
        }
        case camctl::Command::Reset:
            link.beginOperation();
            lineSpeed.resetModule();
            if (const auto fault = link.takeFault()) {
                status = linkFailed(linkName, fault->systemText());
            }
            break;
        case camctl::Command::Get:
        case camctl::Command::Set: {
            camctl::ModuleSettings settings(link, clock, camctl::LinkKind::Serial);
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
        return camctl::kExitDone;
    }
    if (parsed.version) {
        std::printf("camctl %s\n", PROJECT_VERSION);
        return camctl::kExitDone;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "camctl: %s\nTry 'camctl --help'.\n", parsed.error.c_str());
        return camctl::kExitUsage;
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
            std::fprintf(stderr, "camctl: cannot write the trace %s: %s\n", o.tracePath.c_str(),
                         error.c_str());
            return kExitLinkFailed;
        }
        // The run goes on without the lines the disk refuses; the first refusal is told.
        trace->onFirstLoss([](const std::string& reason) {
            std::fprintf(stderr, "camctl: trace lines are being lost: %s\n", reason.c_str());
        });
    }
    serial::RealClock clock;
    return o.link == camctl::LinkKind::Spi ? runSpi(o, trace.get(), clock)
                                           : runSerial(o, trace.get(), clock);
}
