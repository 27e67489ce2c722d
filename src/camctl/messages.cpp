#include "camctl/messages.h"

namespace camctl {

std::string describe(const protocol::LinkFault& fault) {
    // Nothing failed on the line: camctl's line already names the link.
    if (fault.kind == protocol::LinkFault::Kind::Silent && fault.reason.empty()) {
        return "no reply within the time limit";
    }
    return fault.systemText();
}

}  // namespace camctl
