// The DPI-C functions lpt_port_bridge.sv calls: one server for the simulation's one bridge.
#include <cstdio>
#include <memory>

#include "lpt_bridge_server.h"

namespace {

std::unique_ptr<hdl::LptBridgeServer> server;

// The access codes lpt_port_bridge.sv reads: a data write carries its value in the low byte.
constexpr int kAccessEnd = -1;
constexpr int kAccessWriteData = 0x100;
constexpr int kAccessReadStatus = 0x200;

}  // namespace

extern "C" {

// Serves the socket at `path` for LPT`lpt`; 0 when serving, else -1 with the reason on stderr.
int lpt_bridge_start(const char* path, int lpt) {
    server = std::make_unique<hdl::LptBridgeServer>();
    if (const auto refusal = server->start(path, lpt)) {
        std::fprintf(stderr, "lpt_port_bridge: %s\n", refusal->c_str());
        server.reset();
        return -1;
    }
    server->endOnSignals();
    std::fprintf(stderr, "lpt_port_bridge: serving LPT%d on %s\n", lpt, path);
    return 0;
}

// The next access: kAccessWriteData | value, kAccessReadStatus, or kAccessEnd to finish.
int lpt_bridge_next() {
    if (!server) {
        return kAccessEnd;
    }
    const hdl::PinAccess access = server->next();
    switch (access.kind) {
        case hdl::PinAccess::Kind::WriteData:
            return kAccessWriteData | access.value;
        case hdl::PinAccess::Kind::ReadStatus:
            return kAccessReadStatus;
        case hdl::PinAccess::Kind::End:
            break;
    }
    return kAccessEnd;
}

void lpt_bridge_answer_status(int miso, int ready) {
    if (server) {
        server->answerStatus(miso != 0, ready != 0);
    }
}

// Closes the socket and removes its path; the simulation's final block calls it.
void lpt_bridge_stop() {
    server.reset();
}

}  // extern "C"
