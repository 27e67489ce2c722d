#include "protocol/wire.h"

#include "protocol/encodings.h"

namespace protocol {

std::vector<std::uint8_t> valueBytes(Register r, std::uint16_t value) {
    if (isWide(r)) {
        const auto [high, low] = splitWide(value);
        return {high, low};
    }
    return {static_cast<std::uint8_t>(value)};
}

std::vector<std::uint8_t> registerWrite(Register r, std::uint16_t value) {
    std::vector<std::uint8_t> bytes{registerNumber(r)};
    const std::vector<std::uint8_t> valueOf = valueBytes(r, value);
    bytes.insert(bytes.end(), valueOf.begin(), valueOf.end());
    return bytes;
}

std::uint16_t valueOfBytes(Register r, std::span<const std::uint8_t> bytes) {
    return isWide(r) ? joinWide(bytes[0], bytes[1]) : bytes[0];
}

void writeRegister(ModuleLink& link, Register r, std::uint16_t value) {
    link.send(registerWrite(r, value));
}

void sendCommand(ModuleLink& link, std::uint8_t command) {
    link.send(std::span(&command, 1));
}

std::optional<std::uint16_t> queryRegister(ModuleLink& link, Register r) {
    if (!link.prepareQuery()) {
        return std::nullopt;
    }
    const std::uint8_t request = requestByte(r);
    link.send(std::span(&request, 1));
    if (isWide(r)) {
        const auto reply = link.readTwo();
        return reply ? std::optional<std::uint16_t>(joinWide(reply->first, reply->second))
                     : std::nullopt;
    }
    return link.readOne();
}

}  // namespace protocol
