// SPI master bit-banged on a PC parallel port: the link state (port, the three patterns of the
// mode in force, the last status byte) and the byte transfers every module operation rests on.
// Nothing here waits, yields or touches the window.
//
// A port access that fails (no port, a connection to a simulator gone) ends the operation in
// progress: every later access of it is skipped, a read that met the fault gives no byte, and the
// fault is kept, naming the port and the reason, until the operator has been told. The next
// operation begins by asking the port back once.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lpt/pins.h"
#include "lpt/port_watch.h"
#include "protocol/exchange_trace.h"
#include "protocol/module_link.h"
#include "protocol/port_io.h"

namespace lpt {

class SpiLink final : public protocol::ModuleLink {
  public:
    // `trace` may be null; it gets one record per exchange (a send, a reply). A port that offers
    // protocol::AnswerCheck has its answers confirmed after every reply and now and then in a
    // download; any other port's answers are taken as they come.
    explicit SpiLink(protocol::PortIo& port, protocol::ExchangeTrace* trace = nullptr);

    // `watch` (null: none) is told every access, byte, operation end and fault from now on.
    void setPortWatch(PortWatch* watch) { watch_ = watch; }
    // No access is made once `*cancelled` is true (the front end closing, from any thread): the
    // operation in progress ends at its next access, as when port access has stopped.
    void cancelWhen(const std::atomic<bool>* cancelled) { cancelled_ = cancelled; }

    // The start: port access first (false when it cannot be had; the caller tells the operator),
    // then the start state, which always follows, whatever port access gave.
    bool startPortAccess();
    // The port of list index `listIndex` (0: LPT1, the window's start), mode-0 patterns, and the
    // idle pattern written to that port's data register and no other.
    void enterStartState(int listIndex = 0);
    // Stops port access; a second call does nothing, so closing mid-download stops it once.
    void stopPortAccess();

    // Port choice by list index: 0 is LPT1, anything else LPT2. Nothing is written at the change.
    void choosePort(int listIndex);

    // Mode switch: register 18 gets `mode` in the mode still in force, then the link takes the
    // new patterns and writes the new idle pattern. Runs in full even when `mode` is in force.
    void switchMode(int mode);
    // The link takes the patterns of `mode` and writes its idle pattern, telling the module
    // nothing: for reading the module in a mode it may already be in.
    void assumeMode(int mode);

    // One chip-select frame out: 8 x (setup + bit, sample + bit), most significant bit first,
    // then idle. 17 writes.
    void wrtLPTport(std::uint8_t value);

    // What one chip-select frame in gave: the byte, and the status byte of its last read, whose
    // ready flag says whether the module has more to send.
    struct ByteIn {
        std::uint8_t value = 0;
        std::uint8_t status = 0;
    };
    // One chip-select frame in: 8 x (setup, status read, sample), then idle. 17 writes, 8 reads.
    // nullopt when an access failed or port access has stopped: what the lines showed then is
    // none of the module's.
    std::optional<ByteIn> read1byteLPTport();
    // Two frames in, each ending with the idle pattern; nullopt as for one.
    std::optional<std::pair<std::uint8_t, std::uint8_t>> read2bytesLPTport();

    // The status poll: one status read, no data-register write. nullopt while the port is lost
    // (no access is made then: the poll does not reconnect, the operator's next operation does)
    // or when this read fails.
    std::optional<std::uint8_t> pollStatus();
    // The same for a poll that comes again and again (an idle window's). On a port where each
    // access waits for its answer's round trip, the status read goes out ahead and the poll
    // never waits for the line: one call sends it, a later one takes its answer, and a later one
    // still gives it, once the line has settled with nothing more on it (the port has no
    // framing: a stray byte that came before the answer would have been taken for it, and the
    // true answer would be on its way). Until then a call gives nothing; a byte more puts the
    // answers in doubt and the link breaks, as in an operation. Any other access takes an answer
    // owed first (the watch hears the read then, in its place) and drops one not yet given.
    struct StatusAhead {
        enum class Outcome { Status, NotYet, Failed } outcome;
        std::uint8_t status = 0;
    };
    StatusAhead pollStatusAhead();

    // A frame download: bytes clocked in one after another with no request between them. On a
    // port whose answers are confirmed, every kConfirmEvery bytes are confirmed as they come in;
    // nullopt as for read1byteLPTport(), and also when that confirmation finds answers out of
    // turn.
    std::optional<ByteIn> receiveFrameByte();
    // Ends the download; unless it was `cancelled`, its last answers are confirmed too. Returns
    // how many of the last bytes receiveFrameByte() gave are to be taken back: none, or, when a
    // fault put the answers in doubt, every one since the last confirmation. The trace gets the
    // others as one record, then the fault, if any.
    std::uint32_t endFrame(bool cancelled);
    // Bytes between two confirmations in a download. A port that can only confirm by waiting (a
    // socket to a simulator) spends that wait once per this many bytes; a fault that puts the
    // answers in doubt costs at most this many real bytes.
    static constexpr std::uint32_t kConfirmEvery = 1024;

    // protocol::ModuleLink: every byte is a frame of its own; a reply is clocked in at once.
    void send(std::span<const std::uint8_t> bytes) override;
    std::optional<std::uint8_t> readOne() override;
    std::optional<std::pair<std::uint8_t, std::uint8_t>> readTwo() override;
    std::string name() const override { return portName(); }
    void beginOperation() override;
    std::optional<protocol::LinkFault> takeFault() override;

    // True once an access of the operation in progress has failed, or port access has been
    // stopped: the bytes "read" since are none of the module's.
    bool lost() const { return fault_.has_value() || stopped_ || cancelled(); }

    // The port's name for the operator: "LPT1" or "LPT2".
    std::string portName() const;

    std::uint16_t portBase() const { return portBase_; }
    const SpiModePatterns& patterns() const { return patterns_; }
    bool portAccessStopped() const { return stopped_; }
    std::string failureReason() const { return port_.fault(); }

  private:
    // After an operation's reads (and now and then in a long one): false, with the fault kept,
    // when the port finds that answers came out of turn.
    bool confirmReads();
    void writeData(std::uint8_t value);
    void recordFromModule(std::span<const std::uint8_t> bytes);
    // Puts the fault of the operation in progress into the trace, once, after its real bytes.
    void traceFault();
    // One status read into `value`; false when it failed or was skipped (the link is lost).
    bool readStatusInto(std::uint8_t& value);
    // A read's answer did not come, or the answers may have come out of turn.
    void readFailed();
    // Tells the watch the accesses held for the byte just made, once their answers are in.
    void tellWatchHeld(bool released);
    bool accessAllowed() const { return !stopped_ && !fault_ && !cancelled(); }
    bool cancelled() const {
        return cancelled_ != nullptr && cancelled_->load(std::memory_order_relaxed);
    }
    // The answer to a status read sent ahead taken, before any access; false when it failed.
    bool takeStatusAhead();
    // A status read held and sent, its answer owed.
    void sendStatusAhead();
    // An access failed: the operation ends here, and the next one asks the port back first.
    void breakOff(protocol::LinkFault::Kind kind, const std::string& reason);
    // A frame of chip select begins: the watch hears what its byte is part of.
    void tellWatch() {
        if (watch_ != nullptr) {
            watch_->byteBegins(byteKind_);
        }
    }

    protocol::PortIo& port_;
    protocol::AnswerCheck* answerCheck_;    // null: the port's answers are its own
    protocol::HeldAccesses* heldAccesses_;  // null: accesses are made one by one
    protocol::ExchangeTrace* trace_;
    PortWatch* watch_ = nullptr;
    // While a byte's accesses are held, what the watch is to hear of them, in order: a read's
    // value is known only when they are released.
    struct HeldAccess {
        std::uint16_t address;
        std::uint8_t written;
        const std::uint8_t* readInto;  // null for a write
    };
    bool watchHeld_ = false;
    std::vector<HeldAccess> heldForWatch_;
    // A status read sent ahead by pollStatusAhead(), and where its answer lands.
    bool statusAhead_ = false;
    bool aheadTaken_ = false;  // its answer is in, not yet confirmed by a settled line
    std::uint8_t aheadStatus_ = 0;
    // What the next frame of chip select carries, set by the exchange that clocks it.
    PortWatch::ByteKind byteKind_ = PortWatch::ByteKind::Command;
    std::uint16_t portBase_ = kLpt1Base;
    SpiModePatterns patterns_ = kModePatterns[0];
    std::vector<std::uint8_t> frameTrace_;  // a download's bytes, until endFrame()
    // Bytes the download in progress has given since the last confirmation; counted only on a
    // port with the answer check, so that the others pay nothing per byte for it.
    std::uint32_t unconfirmed_ = 0;
    bool stopped_ = false;
    const std::atomic<bool>* cancelled_ = nullptr;
    // The fault of the operation in progress, whether the operator and the trace have it yet,
    // and whether the port must be asked back before the next operation.
    std::optional<protocol::LinkFault> fault_;
    bool faultTold_ = false;
    bool faultTraced_ = false;
    bool needsRecovery_ = false;
    // The fault shows that the bytes read since the last confirmReads() may hold answers that
    // came out of turn: none of them is the module's for sure.
    bool readsInDoubt_ = false;
};

}  // namespace lpt
