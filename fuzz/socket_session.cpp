// The emulator's socket port as a client drives it: port messages in chunks of any size, the
// client taking its answers now and then, time passing, the client leaving and the next one coming.
// The messages reach the module through the emulated port and its SPI slave, as in camera-emulator.
#include <algorithm>

#include "emulator/emulated_port.h"
#include "emulator/port_messages.h"
#include "emulator/spi_slave.h"
#include "module_invariants.h"
#include "protocol/port_socket_wire.h"

namespace {

// Small, so a session reaches it: the server's own limit is the same rule at 64 KiB.
constexpr std::size_t kAnswerLimit = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SessionModule session;
    emulator::CameraModule& module = session.module;
    emulator::SpiSlave slave(module);
    emulator::EmulatedPort port(slave);
    std::vector<std::uint8_t> received;
    std::vector<std::uint8_t> answers;

    fuzz::Script script(data, size);
    for (fuzz::Step step; script.next(step);) {
        switch (step.action) {
            case fuzz::Action::Send: {
                received.insert(received.end(), step.payload.begin(), step.payload.end());
                const std::size_t used = emulator::runPortMessages(
                    received, port, session.log, answers, kAnswerLimit, [] { return false; });
                FUZZ_CHECK(used <= received.size() && answers.size() <= kAnswerLimit);
                received.erase(received.begin(),
                               received.begin() + static_cast<std::ptrdiff_t>(used));
                // Unless the answers hold it back, all that is left is one message cut short.
                if (answers.size() < kAnswerLimit && !received.empty()) {
                    FUZZ_CHECK(received.size() <
                               protocol::port_socket::messageLength(received.front()));
                }
                break;
            }
            case fuzz::Action::Take:
                answers.erase(answers.begin(),
                              answers.begin() +
                                  std::min<std::ptrdiff_t>(
                                      step.argument, static_cast<std::ptrdiff_t>(answers.size())));
                break;
            case fuzz::Action::Wait:
                session.now += std::chrono::milliseconds(step.argument);
                break;
            case fuzz::Action::Other:
                // The client leaves: the server stops the port, which drops what it was owed.
                port.stop();
                received.clear();
                answers.clear();
                FUZZ_CHECK(!module.hasOutgoing());
                port.start();
                break;
        }
        fuzz::checkRegisters(module);
    }
    // The PC raises chip select at the end: a byte the slave was clocking out is spent then.
    port.writeByte(emulator::kFirstPortBase, emulator::kSlaveSelectLine);
    fuzz::drainAndCheck(session);
    return 0;
}
