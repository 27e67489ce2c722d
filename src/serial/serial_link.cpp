#include "serial/serial_link.h"

#include "protocol/encodings.h"
#include "protocol/wire.h"
#include "serial/frame_end.h"
#include "serial/line_settings.h"

namespace serial {

SerialLink::SerialLink(SerialControl& control, protocol::Clock& clock,
                       protocol::ExchangeTrace* trace)
    : control_(control), clock_(clock), trace_(trace) {}

void SerialLink::send(std::span<const std::uint8_t> bytes) {
    if (!control_.isOpen()) {
        noteClosedPort();
        return;
    }
    control_.output(bytes);
    if (trace_ != nullptr) {
        trace_->record(protocol::Direction::ToModule, bytes);
    }
}

bool SerialLink::prepareQuery() {
    if (!control_.isOpen()) {
        noteClosedPort();
        return false;
    }
    if (lineWatch_ != nullptr && !lineWatch_->waitUntilQuiet()) {
        if (!control_.isOpen()) {
            noteClosedPort();  // the line failed while the frame was still coming
        }
        return false;
    }
    return true;
}

void SerialLink::noteClosedPort() {
    if (fault_) {
        return;
    }
    // A line that failed under the operation closed the port: its fault is the reason, and it is
    // told here, with the operation, not a second time by the reception.
    if (const auto lineFault = control_.takeLineFault()) {
        fault_ = protocol::LinkFault{protocol::LinkFault::Kind::Lost, name(), *lineFault};
    } else {
        fault_ = protocol::LinkFault{protocol::LinkFault::Kind::NoPort, name(), {}};
    }
}

std::string SerialLink::name() const {
    return "COM" + std::to_string(control_.commPort()) + " (" +
           control_.deviceOf(control_.commPort()) + ")";
}

std::uint32_t SerialLink::baud() const {
    return control_.baud();
}

protocol::Clock::Duration SerialLink::replyTimeLimit() const {
    return kModuleReplyTime + protocol::characterTime(baud(), kReplyMarginCharacters);
}

std::optional<std::vector<std::uint8_t>> SerialLink::awaitReply(std::size_t length) {
    const auto deadline = clock_.now() + replyTimeLimit();
    while (control_.inBufferCount() < length) {
        if (!control_.isOpen()) {
            noteClosedPort();
            return std::nullopt;
        }
        if (clock_.now() >= deadline) {
            // Part of a reply, or none: what came and what still comes is no frame's.
            dropUntilQuiet();
            return std::nullopt;
        }
        clock_.waitYielding(kReplyPollInterval);
    }
    std::vector<std::uint8_t> taken = control_.input();
    recordFromModule(taken);
    dropUntilQuiet();
    return taken;
}

void SerialLink::dropUntilQuiet() {
    const auto idle = FrameEnd::idleTimeFor(baud());
    const auto deadline = clock_.now() + replyTimeLimit();
    auto lastArrival = clock_.now();
    while (control_.isOpen()) {
        const std::vector<std::uint8_t> dropped = control_.input();
        const auto now = clock_.now();
        if (!dropped.empty()) {
            recordFromModule(dropped);
            lastArrival = now;
        } else if (now - lastArrival >= idle || now >= deadline) {
            return;
        }
        clock_.waitYielding(kReplyPollInterval);
    }
}

std::optional<std::uint8_t> SerialLink::readOne() {
    const auto taken = awaitReply(1);
    if (!taken || taken->empty()) {
        return std::nullopt;
    }
    return taken->front();
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> SerialLink::readTwo() {
    const auto taken = awaitReply(2);
    if (!taken || taken->size() < 2) {
        return std::nullopt;
    }
    return std::pair{taken->front(), taken->back()};
}

std::vector<std::uint8_t> SerialLink::takeArrived() {
    std::vector<std::uint8_t> taken = control_.input();
    recordFromModule(taken);
    return taken;
}

void SerialLink::recordFromModule(std::span<const std::uint8_t> bytes) {
    if (trace_ != nullptr && !bytes.empty()) {
        trace_->record(protocol::Direction::FromModule, bytes);
    }
}

}  // namespace serial
