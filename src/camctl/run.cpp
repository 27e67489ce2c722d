#include "camctl/run.h"

#include <unistd.h>

#include <cstdio>

#include "camctl/capture_run.h"
#include "camctl/messages.h"
#include "camctl/settings_script.h"
#include "lpt/spi_link.h"
#include "lpt/vcd_recorder.h"
#include "protocol/encodings.h"
#include "serial/frame_end.h"
#include "serial/qt_serial_control.h"
#include "serial/serial_link.h"
#include "session/serial_session.h"
#include "session/spi_session.h"
#include "startup/exit_status.h"

namespace camctl {

namespace {

int linkFailed(const std::string& linkName, const std::string& reason) {
    std::fprintf(stderr, "camctl: %s: %s\n", linkName.c_str(), reason.c_str());
    return startup::kExitFailure;
}

// A capture whose frames could not be saved: told before the link is touched, so that no frame
// comes only to be lost.
std::optional<int> unsavable(const Options& o) {
    if (o.command != Command::Capture) {
        return std::nullopt;
    }
    if (namesStandardOutput(o.capture.pattern)) {
        if (isatty(STDOUT_FILENO) != 0) {
            std::fprintf(stderr,
                         "camctl: -o - writes JPEG bytes, not for a terminal: send standard "
                         "output to a player or a file (| ffplay -f mjpeg -i -, > frames.mjpeg)\n");
            return startup::kExitUsage;
        }
        return std::nullopt;
    }
    if (const auto refusal = outputRefusal(o.capture.pattern)) {
        std::fprintf(stderr, "camctl: %s; nothing was sent to the module\n", refusal->c_str());
        return startup::kExitFailure;
    }
    return std::nullopt;
}

// A read-back that got no answer; over serial (`serialBaud` not 0) with the line speed's hint.
int noAnswer(const std::string& linkName, const protocol::LinkFault& fault,
             std::uint32_t serialBaud = 0) {
    return linkFailed(linkName,
                      "the module did not answer: " +
                          (serialBaud != 0 ? describeSerial(fault, serialBaud) : describe(fault)));
}

// The exit status of an operation that gives nothing: done, or its fault told.
int statusOf(const protocol::Result<void>& done, const std::string& linkName) {
    return done ? startup::kExitDone : linkFailed(linkName, describe(done.fault()));
}

// A speed the command line took: one of the table's.
protocol::SpeedCode speedCode(std::uint32_t baud) {
    return {baud, protocol::speedCodeForBaud(baud).value_or(0)};
}

void printReading(const ModuleSettings::Reading& reading, bool json) {
    if (json) {
        std::string line = "{";
        for (const auto& [name, value] : reading.values) {
            // Appended piece by piece: GCC 12 falsely warns (-Wrestrict) on a short literal + a
            // temporary string.
            if (line.size() > 1) {
                line += ',';
            }
            line += jsonString(name);
            line += ':';
            line += jsonValue(value);
        }
        std::printf("%s}\n", line.c_str());
        return;
    }
    for (const auto& [name, value] : reading.values) {
        std::printf("%s=%s\n", name.c_str(), value.c_str());
    }
}

// get and set, the same over both links.
int runSettings(const Options& o, ModuleSettings& settings, const std::string& linkName,
                std::uint32_t serialBaud = 0) {
    if (o.command == Command::Get) {
        const auto reading = settings.read();
        if (reading.failure) {
            return noAnswer(linkName, *reading.failure, serialBaud);
        }
        printReading(reading, o.json);
        return startup::kExitDone;
    }
    std::vector<std::string> notes;
    if (const auto failure = settings.apply(o.changes, notes)) {
        return linkFailed(linkName, describe(*failure));
    }
    for (const std::string& note : notes) {
        std::fprintf(stderr, "camctl: %s\n", note.c_str());
    }
    return startup::kExitDone;
}

CaptureOutput captureOutput(const Options& o, const std::string& linkName,
                            std::uint32_t serialBaud = 0) {
    CaptureOutput output;
    output.progress = !o.quiet && isatty(STDERR_FILENO) != 0;
    output.linkName = linkName;
    output.serialBaud = serialBaud;
    if (namesStandardOutput(o.capture.pattern)) {
        output.stream = STDOUT_FILENO;
        output.out = stderr;
    }
    return output;
}

}  // namespace

int runSpi(const Options& o, protocol::PortIo& port, protocol::ExchangeTrace* trace,
           protocol::Clock& clock, const Interrupt& interrupt) {
    if (const auto refused = unsavable(o)) {
        return *refused;
    }
    lpt::SpiLink link(port, trace);
    std::unique_ptr<lpt::VcdRecorder> vcd;
    if (!o.vcdPath.empty()) {
        std::string error;
        vcd = lpt::VcdRecorder::open(
            o.vcdPath, o.vcdTimeAccesses ? lpt::VcdTime::Accesses : lpt::VcdTime::Real, clock,
            error);
        if (!vcd) {
            std::fprintf(stderr, "camctl: cannot write the VCD %s: %s\n",
                         plainName(o.vcdPath).c_str(), error.c_str());
            return startup::kExitFailure;
        }
        // The run goes on without the file; it keeps what was written before, whole.
        vcd->onWriteError([](const std::string& reason) {
            std::fprintf(stderr, "camctl: the VCD ends here: %s\n", reason.c_str());
        });
        link.setPortWatch(vcd.get());
    }
    session::SpiSession spi(link, clock);
    spi.choosePort(o.lpt - 1);
    const std::string linkName = "spi " + link.portName();
    // The idle pattern goes to the port given, and nothing to any other.
    if (const auto started = spi.start(o.lpt - 1); !started) {
        return linkFailed(linkName, "port access failed: " + started.fault().reason);
    }
    // The module keeps its mode between runs, so it is found before anything is read from it.
    const auto search = spi.takeMode(o.mode);
    if (!search) {
        return linkFailed(linkName, describe(search.fault()));
    }
    if (!search->found) {
        return linkFailed(linkName, modeNotFound(o.mode, *search));
    }

    int status = startup::kExitDone;
    if (o.command == Command::Capture) {
        interrupt.catchInterrupt();
        status =
            runCapture(spi, clock, o.capture, captureOutput(o, linkName), interrupt.interrupted);
    } else if (o.command == Command::Reset) {
        status = statusOf(spi.reset(), linkName);
    } else {
        ModuleSettings settings(spi);
        status = runSettings(o, settings, linkName);
    }
    spi.stop();
    return status;
}

namespace {

void printSpeed(const std::string& value, bool json) {
    if (json) {
        std::printf("{\"speed\":%s}\n", jsonValue(value).c_str());
    } else {
        std::printf("speed=%s\n", value.c_str());
    }
}

// speed: the module's speed register, as a speed or the code that names none.
int readSpeed(session::SerialSession& module, bool json, const std::string& linkName) {
    const auto speed = module.readSpeed();
    if (!speed) {
        return noAnswer(linkName, speed.fault(), module.baud());
    }
    printSpeed(speed->baud ? std::to_string(*speed->baud)
                           : "none (code " + std::to_string(speed->code) + ")",
               json);
    return startup::kExitDone;
}

// speed BAUD: the module first, then the PC's line; with --json the speed now in force.
int writeSpeed(session::SerialSession& module, std::uint32_t baud, bool json,
               const std::string& linkName) {
    const std::uint32_t before = module.baud();
    const auto switched = module.writeSpeed(speedCode(baud));
    if (!switched && switched.fault().kind == protocol::LinkFault::Kind::Refused) {
        return linkFailed(linkName, "the module was told " + std::to_string(baud) +
                                        " baud, but the PC's line refused it");
    }
    // The module acknowledges nothing: one query at the new speed proves it switched, as after a
    // reset. A module that did not hear the write stays where it was.
    if (switched) {
        const auto answer = module.readSpeed();
        if (!answer || answer->baud != baud) {
            const std::string old = std::to_string(before);
            return linkFailed(
                linkName, "the module was told " + std::to_string(baud) +
                              " baud but does not answer at that speed, so it did not switch (" +
                              (answer ? "it reads another speed" : describe(answer.fault())) +
                              "): it may still be at " + old +
                              " baud; see with 'camctl --baud=" + old + " speed', or reset it");
        }
    }
    if (switched && json) {
        printSpeed(std::to_string(baud), json);
    }
    return statusOf(switched, linkName);
}

// reset, then one query at the reset speed: a module that did not take the reset (it stayed at
// another speed) does not answer there.
int resetSerial(session::SerialSession& module, const std::string& linkName) {
    if (const auto reset = module.reset(); !reset) {
        return statusOf(reset, linkName);
    }
    if (const auto answer = module.readSpeed(); !answer) {
        return linkFailed(linkName, resetNotTaken(answer.fault()));
    }
    return startup::kExitDone;
}

}  // namespace

int runSerial(const Options& o, const std::string& device, protocol::ExchangeTrace* trace,
              protocol::Clock& clock, const Interrupt& interrupt) {
    if (const auto refused = unsavable(o)) {
        return *refused;
    }
    const std::string linkName = "serial " + plainName(device);
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
    // camctl's one thread looks at the line whenever it waits for it: no event loop runs.
    control.readWhenLookedAt();
    if (const auto failure = module.start(1, openBaud)) {
        return linkFailed(linkName, failure->fault == serial::OpenFault::SpeedRefused
                                        ? failure->reason
                                        : "cannot open: " + failure->reason);
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
        case Command::Capture:
            interrupt.catchInterrupt();
            status = runCapture(module, clock, o.capture,
                                captureOutput(o, linkName, control.baud()), interrupt.interrupted);
            break;
        case Command::Speed:
            status = o.speed ? writeSpeed(module, *o.speed, o.json, linkName)
                             : readSpeed(module, o.json, linkName);
            break;
        case Command::Reset:
            status = resetSerial(module, linkName);
            break;
        case Command::Get:
        case Command::Set: {
            ModuleSettings settings(module);
            status = runSettings(o, settings, linkName, control.baud());
            break;
        }
    }
    module.close(/*letLastBytesOut=*/true);
    return status;
}

}  // namespace camctl
