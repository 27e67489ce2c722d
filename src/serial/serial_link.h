// The serial link under the three exchanges of protocol/wire.h: every send (a command byte, a
// register write with its value bytes, a request byte) is one Output, and a query's reply is
// awaited with a time limit while the window goes on processing events. Keeping the reception poll
// away from a reply is the caller's job: it stops the poll around every query.
//
// The line has no framing, so a query guards its reply on both sides: the request goes out only
// once a frame on the line has ended and the input has been emptied and has stayed quiet; the
// reply is exactly the bytes asked for; and the line must then stay quiet a while. A byte more, on
// either side of the reply, puts the answer in doubt and the query fails (a stray-byte fault), and
// a reply that does not come whole in time is waited out until the line has been quiet for a reply
// time, so that no late byte of it is taken for a frame byte. No reply byte is ever stored as a
// frame byte, nor a frame byte or a stray byte taken for a reply.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/clock.h"
#include "protocol/exchange_trace.h"
#include "protocol/module_link.h"
#include "protocol/registers.h"
#include "serial/serial_control.h"

namespace serial {

// What a query waits for before its request goes out: the end of bytes the module is sending by
// itself (a frame).
class LineWatch {
  public:
    virtual ~LineWatch() = default;
    // False when the line did not go quiet within its limit.
    virtual bool waitUntilQuiet() = 0;
};

// A fault the line reported, as the link fault of `link` it is under an operation.
inline protocol::LinkFault lineFaultOf(const LineFault& fault, std::string link) {
    return {
        protocol::LinkFault::Kind::Lost, std::move(link), fault.systemError,
        fault.hungUp ? protocol::LinkFault::Cause::LineHungUp : protocol::LinkFault::Cause::None};
}

class SerialLink final : public protocol::ModuleLink {
  public:
    // `trace` may be null; it gets one record per send and per reply taken.
    SerialLink(SerialControl& control, protocol::Clock& clock,
               protocol::ExchangeTrace* trace = nullptr);

    // One Output of the bytes as given (1 to 3 of them). Nothing when the port is closed.
    void send(std::span<const std::uint8_t> bytes) override;

    // The reply to the request byte just sent: the first byte taken; the rest taken are dropped.
    // nullopt when no byte came within the time limit.
    std::optional<std::uint8_t> readOne() override;
    // High byte = the first byte taken, low byte = the last one; nullopt when fewer than two came
    // within the time limit.
    std::optional<std::pair<std::uint8_t, std::uint8_t>> readTwo() override;

    // Waits for the watched line to be quiet; a closed port is a fault.
    bool prepareQuery() override;
    // "COM2 (/dev/ttyS1)": the port number and the device it stands for.
    std::string name() const override;
    void beginOperation() override { fault_.reset(); }
    std::optional<protocol::LinkFault> takeFault() override {
        return std::exchange(fault_, std::nullopt);
    }

    // Queries wait for this watch before their request goes out.
    void watchLine(LineWatch& watch) { lineWatch_ = &watch; }

    // How long a query waits for its reply at the line speed in force: a second for the module,
    // plus the time of a few characters so the slowest speed gets the same margin as the fastest.
    protocol::Clock::Duration replyTimeLimit() const;

    // Takes every byte that has arrived outside a query (a frame coming in), in arrival order,
    // and reports them to the trace; empty when none wait.
    std::vector<std::uint8_t> takeArrived();
    // Takes and drops every byte waiting: they belong to nothing that is asked for next. The
    // trace gets them and a line that says they were dropped `where`. How many there were.
    std::size_t dropWaiting(std::string_view where);

    static constexpr protocol::Clock::Duration kModuleReplyTime = std::chrono::seconds(1);
    static constexpr int kReplyMarginCharacters = 20;
    // How long one turn of the reply wait lets the window run before it looks again.
    static constexpr protocol::Clock::Duration kReplyPollInterval = std::chrono::milliseconds(1);

  private:
    // Waits until `length` bytes wait or the limit runs out; takes exactly them when no byte more
    // comes with them or in the short quiet time after them.
    std::optional<std::vector<std::uint8_t>> awaitReply(std::size_t length);
    // Takes and drops what comes until the line has been quiet for `quiet`, for at most `limit`.
    // How many bytes were dropped, and whether the line went quiet in time.
    struct Drained {
        std::size_t dropped = 0;
        bool quiet = false;
    };
    Drained dropUntilQuiet(protocol::Clock::Duration quiet, protocol::Clock::Duration limit,
                           std::string_view where);
    void noteStrayBytes(std::size_t count, std::string_view where);
    // The port is closed: the operation that needed it is told why.
    void noteClosedPort();
    std::uint32_t baud() const;
    void recordFromModule(std::span<const std::uint8_t> bytes);

    SerialControl& control_;
    protocol::Clock& clock_;
    protocol::ExchangeTrace* trace_;
    LineWatch* lineWatch_ = nullptr;
    std::optional<protocol::LinkFault> fault_;
};

}  // namespace serial
