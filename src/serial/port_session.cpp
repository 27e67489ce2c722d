#include "serial/port_session.h"

#include "protocol/encodings.h"
#include "serial/line_settings.h"

namespace serial {

std::optional<OpenFailure> PortSession::start() {
    control_.setBaud(protocol::kResetBaud);
    portNumber_ = kStartPortNumber;
    control_.setCommPort(portNumber_);
    return control_.open();
}

std::optional<OpenFailure> PortSession::choosePort(int portNumber) {
    portNumber_ = portNumber;
    control_.close();
    control_.setCommPort(portNumber_);
    return control_.open();
}

}  // namespace serial
