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
        } else {
            fault_ = protocol::LinkFault{protocol::LinkFault::Kind::StrayByte,
                                         name(),
                                         {},
                                         protocol::LinkFault::Cause::FrameNotEnded};
        }
        return false;
    }
    // What is on the line now answers nothing we ask: a byte sent unasked, one left from before
    // the port opened, the tail of a frame nobody waited for. The line must go quiet first.
    const Drained before =
        dropUntilQuiet(FrameEnd::idleTimeFor(baud()), replyTimeLimit(), "before the request");
    if (!control_.isOpen()) {
        noteClosedPort();
        return false;
    }
    if (!before.quiet) {
        fault_ = protocol::LinkFault{protocol::LinkFault::Kind::StrayByte,
                                     name(),
                                     {},
                                     protocol::LinkFault::Cause::LineNotQuiet};
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
        fault_ = lineFaultOf(*lineFault, name());
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
            // Part of a reply, or none. The rest may still come, late: it is waited out until the
            // line has been quiet for a reply time, so it is neither a frame byte nor an answer.
            dropUntilQuiet(replyTimeLimit(), 2 * replyTimeLimit(),
                           "after a reply that did not come whole");
            return std::nullopt;
        }
        clock_.waitYielding(kReplyPollInterval);
    }
    std::vector<std::uint8_t> taken = control_.input();
    recordFromModule(taken);
    // A byte more than the reply, with it or just after it, shows that some byte on the line was
    // not the module's answer: which one is, nobody can tell.
    std::size_t extra = taken.size() - length;
    extra +=
        dropUntilQuiet(FrameEnd::idleTimeFor(baud()), replyTimeLimit(), "after the reply").dropped;
    if (extra > 0) {
        if (!fault_) {
            fault_ = protocol::LinkFault{protocol::LinkFault::Kind::StrayByte,
                                         name(),
                                         {},
                                         protocol::LinkFault::Cause::ExtraBytes,
                                         extra};
            if (trace_ != nullptr) {
                trace_->recordFault(fault_->systemText());
            }
        }
        return std::nullopt;
    }
    return taken;
}

SerialLink::Drained SerialLink::dropUntilQuiet(protocol::Clock::Duration quiet,
                                               protocol::Clock::Duration limit,
                                               std::string_view where) {
    Drained drained;
    const auto deadline = clock_.now() + limit;
    auto lastArrival = clock_.now();
    while (control_.isOpen()) {
        const std::vector<std::uint8_t> dropped = control_.input();
        const auto now = clock_.now();
        if (!dropped.empty()) {
            recordFromModule(dropped);
            drained.dropped += dropped.size();
            lastArrival = now;
        } else if (now - lastArrival >= quiet) {
            drained.quiet = true;
            break;
        } else if (now >= deadline) {
            break;
        }
        clock_.waitYielding(kReplyPollInterval);
    }
    noteStrayBytes(drained.dropped, where);
    return drained;
}

void SerialLink::noteStrayBytes(std::size_t count, std::string_view where) {
    if (trace_ != nullptr && count > 0) {
        trace_->recordFault(std::to_string(count) + " byte(s) dropped " + std::string(where));
    }
}

std::size_t SerialLink::dropWaiting(std::string_view where) {
    const std::size_t count = takeArrived().size();
    noteStrayBytes(count, where);
    return count;
}

std::optional<std::uint8_t> SerialLink::readOne() {
    const auto taken = awaitReply(1);
    if (!taken) {
        return std::nullopt;
    }
    return taken->front();
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> SerialLink::readTwo() {
    const auto taken = awaitReply(2);
    if (!taken) {
        return std::nullopt;
    }
    return std::pair{(*taken)[0], (*taken)[1]};
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
