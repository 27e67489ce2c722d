#include "emulator/port_messages.h"

#include "protocol/port_socket_wire.h"

namespace emulator {

namespace wire = protocol::port_socket;

std::size_t runPortMessages(std::span<const std::uint8_t> received, protocol::PortIo& port,
                            EmulatorLog& log, std::vector<std::uint8_t>& answers,
                            std::size_t maxAnswers, const std::function<bool()>& stopping) {
    std::size_t at = 0;
    while (at < received.size() && answers.size() < maxAnswers && !stopping()) {
        const std::uint8_t tag = received[at];
        const std::size_t length = wire::messageLength(tag);
        if (length == 0) {
            log.record(LogKind::Ignored, {tag}, "socket: not a port message");
            ++at;
            continue;
        }
        if (received.size() - at < length) {
            break;  // the rest of the message is still on its way
        }
        const std::span<const std::uint8_t> message = received.subspan(at, length);
        at += length;
        if (tag == wire::kWriteTag) {
            port.writeByte(wire::addressOf(message), message[3]);
        } else {
            std::uint8_t value = 0;
            port.readByte(wire::addressOf(message), value);
            answers.push_back(value);
        }
    }
    return at;
}

}  // namespace emulator
