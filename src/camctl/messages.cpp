#include "camctl/messages.h"

#include "protocol/encodings.h"
#include "session/spi_session.h"

namespace camctl {

std::string describe(const protocol::LinkFault& fault) {
    // Nothing failed on the line: camctl's line already names the link.
    if (fault.kind == protocol::LinkFault::Kind::Silent && fault.reason.empty()) {
        return "no reply within the time limit";
    }
    // camctl's line names the link already: it is not said twice.
    std::string text = fault.systemText();
    if (const std::string named = fault.link + ": ";
        !fault.link.empty() && text.starts_with(named)) {
        return text.substr(named.size());
    }
    if (const std::string named = fault.link + " ";
        !fault.link.empty() && text.starts_with(named)) {
        return "the port " + text.substr(named.size());
    }
    return text;
}

std::string modeNotFound(int wanted, const session::ModeSearch& search) {
    const std::string sent = std::to_string(search.readIn);
    return "cannot find the module's SPI mode to take it to mode " + std::to_string(wanted) +
           ": mode " + sent + " was sent in each of the four modes, but the mode register reads " +
           std::to_string(search.readBack) + " in mode " + sent +
           ", so nothing the module sends can be trusted and no setting was read. Check the "
           "cable, then power-cycle or reset the module and run camctl again";
}

std::string describeSerial(const protocol::LinkFault& fault, std::uint32_t baud) {
    std::string text = describe(fault);
    if (fault.kind == protocol::LinkFault::Kind::Silent) {
        text += " at " + std::to_string(baud) +
                " baud; the module may be at another line speed: try --baud=N, or "
                "'camctl --baud=N speed' with each rate";
    }
    return text;
}

std::string resetNotTaken(const protocol::LinkFault& fault) {
    return "the module does not answer at " + std::to_string(protocol::kResetBaud) +
           " baud after the reset command (" + describe(fault) +
           "): it did not take the reset. It may be at another line speed: give it with "
           "--baud=N, or power-cycle the module";
}

}  // namespace camctl
