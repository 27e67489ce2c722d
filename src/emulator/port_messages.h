// The emulator's reading of the socket port's messages (protocol/port_socket_wire.h): the whole
// messages at the front of what a client has sent are run against the port, and each read's answer
// is added in turn. A byte that starts no message is logged and skipped, so the stream finds its
// step again at the next 'w' or 'r'. Kept apart from the socket so the reading can be driven with
// any bytes, in any chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "emulator/emulator_log.h"
#include "protocol/port_io.h"

namespace emulator {

// Runs messages from the front of `received` until none is whole, `answers` holds `maxAnswers`
// or `stopping` says so (asked between messages). Returns how many bytes were used: a message
// cut short stays for the next call.
std::size_t runPortMessages(std::span<const std::uint8_t> received, protocol::PortIo& port,
                            EmulatorLog& log, std::vector<std::uint8_t>& answers,
                            std::size_t maxAnswers, const std::function<bool()>& stopping);

}  // namespace emulator
