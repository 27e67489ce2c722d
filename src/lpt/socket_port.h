// Port access through a Unix stream socket to an outside simulator (an HDL model of the
// module's SPI slave, a remote port server). The wire format, which other tools speak too:
//   write: 'w', address low byte, address high byte, value   (no answer)
//   read:  'r', address low byte, address high byte          (answer: one byte, the value)
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lpt/one_time_notice.h"
#include "protocol/port_io.h"

namespace lpt {

class SocketPort final : public protocol::PortIo,
                         public protocol::AnswerCheck,
                         public protocol::HeldAccesses {
  public:
    static constexpr std::chrono::milliseconds kDefaultReplyLimit{2000};

    // `replyLimit` bounds the connect (a server that does not accept), the wait for a read's
    // answer and a send the server does not take.
    explicit SocketPort(std::string socketPath,
                        std::chrono::milliseconds replyLimit = kDefaultReplyLimit);
    ~SocketPort() override;
    SocketPort(const SocketPort&) = delete;
    SocketPort& operator=(const SocketPort&) = delete;

    // Connects; a server that is not there, or does not accept in time, is a failed start. A
    // start after an earlier one (since the last stop) is a reconnect: a connection still there
    // is kept, else it connects once more with the same limit, and a failure says it cannot
    // reconnect.
    bool start() override;
    void stop() override;
    // The link breaks at the first access that fails (closed or reset by the server, no answer
    // in time, bytes nobody asked for): one line on stderr, then every access returns false at
    // once, without touching the socket, until the link is started again.
    bool writeByte(std::uint16_t address, std::uint8_t value) override;
    bool readByte(std::uint16_t address, std::uint8_t& value) override;
    std::string fault() const override { return fault_; }
    // The protocol has no framing: a stray byte that arrives just before an answer is taken for
    // it, the true answer follows, and the stream may stay one answer behind for a while. Any
    // byte found out of turn puts every answer since the last confirmation in doubt.
    bool answersInDoubt() const override { return answersInDoubt_; }
    // Once every answer owed has come, nothing more is: whatever arrives within a short settling
    // time shows the stream was out of turn.
    bool confirmAnswers() override;
    // Settled once nothing is owed and nothing has been sent for twice the slowest round trip
    // seen (at least the settling time).
    bool settled() const override;
    bool nothingArrived() override;

    // Held accesses go out in one send, and their answers are waited for once.
    void hold() override { holding_ = true; }
    bool release() override;
    // Answers owed are taken before anything else goes out or is waited for.
    bool sendHeld() override;
    bool takeAnswers() override;

    // How many times an access has waited for answers: one round trip each.
    std::uint64_t roundTrips() const { return roundTrips_; }

    // How long confirmAnswers() waits for a byte that should not come.
    static constexpr std::chrono::milliseconds kSettleTime{10};

  private:
    // Connects; on failure returns false with fault_ = `failurePrefix` + path + why.
    bool connectOnce(const std::string& failurePrefix);
    bool sendAll(const std::uint8_t* bytes, std::size_t count);
    // A message out now, or kept while accesses are held.
    bool put(std::span<const std::uint8_t> message);
    // Sends `messages` (after making sure nothing is waiting) and takes exactly `answers.size()`
    // answer bytes into it: a byte more shows the stream out of turn.
    bool exchange(std::span<const std::uint8_t> messages, std::span<std::uint8_t> answers);
    // Exactly `answers.size()` answer bytes, one round trip: a byte more breaks the link.
    bool receiveAnswers(std::span<std::uint8_t> answers);
    // False, with the link broken, when bytes are already waiting: nothing is owed to us.
    bool nothingWaiting();
    // An access with no connection: false, with fault_ saying so unless a failed start or a
    // break already says why.
    bool notConnected();
    void breakLink(const std::string& what);
    void closeSocket();

    std::string socketPath_;
    std::chrono::milliseconds replyLimit_;
    int fd_ = -1;
    bool started_ = false;  // a start was made since the last stop: the next one reconnects
    std::string fault_;     // why the last connect failed or the link broke
    bool answersInDoubt_ = false;
    bool answered_ = false;  // an answer has come on this connection
    // Accesses held: their messages in order, and where each read's answer goes.
    bool holding_ = false;
    std::vector<std::uint8_t> held_;
    std::vector<std::uint8_t*> heldReads_;
    std::vector<std::uint8_t> heldAnswers_;
    std::vector<std::uint8_t*> owedReads_;  // sent by sendHeld(), answers not taken yet
    std::vector<std::uint8_t> owedAnswers_;
    std::vector<std::uint8_t> received_;  // answers as they come, with room for one more
    std::uint64_t roundTrips_ = 0;
    // A round trip's time as seen: an answer waited for from its send to its arrival.
    void noteRoundTrip(std::chrono::steady_clock::time_point sentAt);
    std::chrono::steady_clock::time_point lastSend_{};
    std::chrono::steady_clock::time_point heldSentAt_{};  // the reads owed went out then
    std::chrono::steady_clock::duration slowestRoundTrip_ = kSettleTime;
    OneTimeNotice brokenNotice_;
};

}  // namespace lpt
