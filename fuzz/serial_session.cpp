// The emulator's serial port as a PC drives it: command bytes sent at the PC's line speed (heard
// as a UART at the module's speed hears them), the PC reading what the module sends, time passing,
// the PC changing its speed or closing the port. The steps are those of the serial peer, without
// the pseudo-terminal.
#include "emulator/uart_line.h"
#include "module_invariants.h"

namespace {

// What a UART at `receiverBaud` can make of `sent` bytes at `senderBaud`: a byte takes it at least
// nine and a half of its bit times, and the line lasts ten sender bits a byte.
void checkHeard(std::size_t heard, std::size_t sent, std::uint32_t senderBaud,
                std::uint32_t receiverBaud) {
    FUZZ_CHECK(heard * 9 * senderBaud <= 10 * sent * receiverBaud + 9 * senderBaud);
}

std::vector<std::uint8_t> overTheLine(std::span<const std::uint8_t> bytes, std::uint32_t sender,
                                      std::uint32_t receiver) {
    if (sender == receiver) {
        return {bytes.begin(), bytes.end()};
    }
    std::vector<std::uint8_t> heard = emulator::receiveAtOtherSpeed(bytes, sender, receiver);
    checkHeard(heard.size(), bytes.size(), sender, receiver);
    return heard;
}

// Bytes the PC reads in one Take step, for each unit of its argument: a few steps take a frame.
constexpr std::size_t kTakeUnit = 16;
// An Other step with an argument from this on closes the port; below it, it sets the PC's speed.
constexpr std::uint8_t kCloseArgument = 128;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::SessionModule session;
    emulator::CameraModule& module = session.module;
    std::uint32_t pcBaud = protocol::kResetBaud;

    fuzz::Script script(data, size);
    for (fuzz::Step step; script.next(step);) {
        switch (step.action) {
            case fuzz::Action::Send:
                for (std::uint8_t b : overTheLine(step.payload, pcBaud, module.lineBaud())) {
                    module.receive(b);
                }
                break;
            case fuzz::Action::Take: {
                std::vector<std::uint8_t> sent;
                while (sent.size() < step.argument * kTakeUnit && module.hasOutgoing()) {
                    sent.push_back(module.takeOutgoing().value);
                    module.outgoingByteFinished();
                }
                overTheLine(sent, module.lineBaud(), pcBaud);
                break;
            }
            case fuzz::Action::Wait:
                session.now += std::chrono::milliseconds(step.argument);
                break;
            case fuzz::Action::Other:
                if (step.argument < kCloseArgument) {
                    pcBaud =
                        protocol::kSpeedCodes[step.argument % protocol::kSpeedCodes.size()].baud;
                } else {
                    module.linkReleased("the PC closed the serial port");
                    FUZZ_CHECK(!module.hasOutgoing());
                }
                break;
        }
        fuzz::checkRegisters(module);
    }
    fuzz::drainAndCheck(session);
    return 0;
}
