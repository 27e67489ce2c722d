// The port-I/O seam: byte-wide reads and writes at I/O addresses, plus start and stop. The SPI
// link reduces to these four operations, so it runs on any back-end that offers them: the
// kernel's ppdev driver, direct port I/O, a socket to an outside simulator, the emulated module,
// or a recording fake in tests.
#pragma once

#include <cstdint>
#include <string>

namespace protocol {

class PortIo {
  public:
    virtual ~PortIo() = default;

    // Starts port access. False when it cannot be had; fault() then says why (device, system
    // error, what the user can do about it). Called again after an access has failed, when the
    // operator's next operation begins: that is how a lost port is asked back, and each back-end
    // gets it again as a fresh start would (a device re-opened and re-claimed, a socket whose
    // simulator was restarted connected again).
    virtual bool start() = 0;

    // Stops port access.
    virtual void stop() = 0;

    // Writes `value` to I/O address `address`. False when the access failed (no port, a broken
    // connection): fault() then says why.
    virtual bool writeByte(std::uint16_t address, std::uint8_t value) = 0;

    // Reads the byte at `address` into `value`. False when the access failed: `value` is then no
    // byte of the port's and must not be used.
    virtual bool readByte(std::uint16_t address, std::uint8_t& value) = 0;

    // Why the last start(), or the last access that returned false, failed: the device or
    // connection, the system's reason, and what the user can do where there is something. Empty
    // after a start that succeeded, until an access fails.
    virtual std::string fault() const { return {}; }
};

// Offered besides PortIo by a back-end whose answers may turn out, only later, not to have been
// the port's: a socket to a simulator has no framing, so a stray byte that arrives just before an
// answer is taken for it, and shows only at a later read. The link asks for this once, when it is
// made; a port without it answers every read itself, and its answers need no confirming.
class AnswerCheck {
  public:
    virtual ~AnswerCheck() = default;

    // Whether the failed access just met shows that answers read since the last
    // confirmAnswers() may have come out of turn: none of them is to be used.
    virtual bool answersInDoubt() const = 0;

    // Confirms the answers read so far, when an operation's reads are done (and now and then in
    // a long one) by looking once more for a byte out of turn: false, with PortIo::fault()
    // saying why and answersInDoubt() true, when there is one.
    virtual bool confirmAnswers() = 0;

    // For a caller that comes back again and again instead of waiting (an idle status poll):
    // whether every answer owed has come and nothing has gone out for long enough that a byte
    // still on its way would have arrived, and then, without waiting, whether one did (false
    // as for confirmAnswers()).
    virtual bool settled() const = 0;
    virtual bool nothingArrived() = 0;
};

// Offered besides PortIo by a back-end where each read that waits for its answer costs a round
// trip (a socket to a simulator): the accesses of one transfer, whose order does not depend on
// what the reads give, go out together and their answers come back together. The link asks for
// this once, when it is made; on any other port the accesses are made one by one.
class HeldAccesses {
  public:
    virtual ~HeldAccesses() = default;

    // From now until release(), writes and reads are kept in the order made instead of made at
    // once. A read kept returns true, and its answer lands in its `value` only at release():
    // that byte must not be looked at before.
    virtual void hold() = 0;

    // Makes the accesses kept, in order, and takes every answer they owe. False when an access
    // failed: PortIo::fault() says why, and none of the answers is the port's.
    virtual bool release() = 0;

    // Makes the accesses kept, in order, without waiting for their answers: those are taken by
    // takeAnswers(), or before the port's next access, and not one may be looked at before.
    virtual bool sendHeld() = 0;
    // Takes the answers owed since sendHeld(); true at once when none are. False as release().
    virtual bool takeAnswers() = 0;
};

}  // namespace protocol
