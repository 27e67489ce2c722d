// A port-I/O back-end for tests: records every access in order and answers status reads from a
// script. Like flashrom's port-I/O mocks, it sits under the lowest I/O call, so a test sees the
// exact sequence of register accesses the link produced.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "protocol/port_io.h"

namespace testing_support {

struct PortAccess {
    enum class Kind { Write, Read };
    Kind kind;
    std::uint16_t address;
    std::uint8_t value;  // written, or returned to the reader
    friend bool operator==(const PortAccess&, const PortAccess&) = default;
};

// Offers the answer check too, so that tests see where the link confirms; a link on a port
// without it confirms nothing.
class RecordingPort final : public protocol::PortIo, public protocol::AnswerCheck {
  public:
    // Start/stop bookkeeping. The first start (after construction or a stop) answers what
    // setInitializeResult() says, true by default; a start after it is the link asking the port
    // back and answers what setRestartResult() says.
    void setInitializeResult(bool ok, std::string reason = {});
    int initializeCalls() const { return initializeCalls_; }
    int shutdownCalls() const { return shutdownCalls_; }

    // Status reads return these values in order; once they run out, `fallback` (or the
    // responder, when set) answers.
    void queueStatus(std::vector<std::uint8_t> values);
    void setStatusFallback(std::uint8_t value) { fallback_ = value; }
    // Called for every read the script does not cover: (address, index of the read) -> value.
    void setResponder(std::function<std::uint8_t(std::uint16_t, std::size_t)> responder);

    const std::vector<PortAccess>& accesses() const { return accesses_; }
    // Only the values written, in order (the data-register pattern sequence).
    std::vector<std::uint8_t> writtenValues() const;
    std::size_t readCount() const;
    void clear() { accesses_.clear(); }

    // Fault injection: from the `accessNumber`th access after this call on (0: the next one),
    // every access fails with `reason` as its fault(). A failed access never reached the
    // port: it is counted in failedAccesses(), not kept in accesses().
    void failFrom(std::size_t accessNumber, std::string reason);
    std::size_t failedAccesses() const { return failedAccesses_; }
    // What a start after the first answers (with `reason` as fault() when false); true by
    // default. One that answers true ends the injected failure.
    void setRestartResult(bool ok, std::string reason = {});
    int restartCalls() const { return restartCalls_; }
    // The `confirmNumber`th confirmAnswers() from now on (0: the next one) finds answers out of
    // turn: it fails with `reason`, puts the answers in doubt, and every access after it fails.
    void doubtAtConfirm(int confirmNumber, std::string reason);
    int confirmCalls() const { return confirmCalls_; }

    bool start() override;
    void stop() override;
    bool writeByte(std::uint16_t address, std::uint8_t value) override;
    bool readByte(std::uint16_t address, std::uint8_t& value) override;
    std::string fault() const override { return fault_; }
    bool answersInDoubt() const override { return answersInDoubt_; }
    bool confirmAnswers() override;
    // Its answers are made at once: nothing is ever on its way.
    bool settled() const override { return true; }
    bool nothingArrived() override { return true; }

  private:
    // True when this access is one the injected failure covers (and counts it).
    bool failing();

    bool initializeResult_ = true;
    std::string initializeReason_;
    int initializeCalls_ = 0;
    int shutdownCalls_ = 0;
    bool started_ = false;
    std::deque<std::uint8_t> script_;
    std::uint8_t fallback_ = 0;
    std::size_t readsSoFar_ = 0;
    std::function<std::uint8_t(std::uint16_t, std::size_t)> responder_;
    std::vector<PortAccess> accesses_;
    bool failureArmed_ = false;
    std::size_t accessesUntilFailure_ = 0;
    std::string injectedFault_;  // the fault() of the injected failure
    std::string fault_;
    std::size_t failedAccesses_ = 0;
    bool restartResult_ = true;
    std::string restartReason_;
    int restartCalls_ = 0;
    int confirmCalls_ = 0;
    int doubtfulConfirm_ = -1;
    bool answersInDoubt_ = false;
};

}  // namespace testing_support
