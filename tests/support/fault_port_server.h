// A port server on a Unix socket, run in a thread of the test, that speaks the socket port
// protocol ('w', lo, hi, value: no answer; 'r', lo, hi: one byte back) and can misbehave on cue:
// hang up, reset, fall silent, answer late, send a byte nobody asked for, or never accept.
//
// Answers come from a callback, so it can stand in for a module sending a frame. It records what
// it received. It never hangs a test: every wait in it has a limit, and the destructor ends its
// thread. Between connections it goes back to accepting, so a client can connect again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

enum class PortFault {
    None,
    Close,       // after `after` accesses: hangs up (once; a new connection is served)
    Reset,       // after `after` accesses: hangs up with the next message unread, which
                 // resets the connection (once; a new connection is served)
    Silent,      // after `after` accesses: takes every message, answers nothing
    LateAnswer,  // after `after` accesses: answers each read only after `lateBy`
    ExtraByte,   // after `after` accesses: sends one byte nobody asked for (with the answer,
                 // when the last access was a read); once
    StrayAhead,  // after `after` accesses: one byte nobody asked for (0x00) at once, the next
                 // read's answer only `lateBy` later, in a send of its own; once
    NeverAccept  // fills the listen backlog with a connection of its own, accepts nothing
};
struct PortFaultOptions {
    PortFault fault = PortFault::None;
    std::size_t after = 0;  // accesses served normally before the fault
    std::chrono::milliseconds lateBy{300};
};

class FaultPortServer {
  public:
    // (address, index of the read since the server started) -> the status byte to answer.
    using Responder = std::function<std::uint8_t(std::uint16_t address, std::size_t readIndex)>;

    using Fault = PortFault;
    using Options = PortFaultOptions;

    struct Access {
        char command;  // 'w' or 'r'
        std::uint16_t address;
        std::uint8_t value;  // written, or answered (0 when not answered)
        friend bool operator==(const Access&, const Access&) = default;
    };

    // Listens at `path` (which must not exist) and serves in a thread.
    explicit FaultPortServer(std::string path, Responder responder = {}, Options options = {});
    ~FaultPortServer();
    FaultPortServer(const FaultPortServer&) = delete;
    FaultPortServer& operator=(const FaultPortServer&) = delete;

    // Answers `values` in order, then 0.
    static Responder answers(std::vector<std::uint8_t> values);
    // A module sending `frame`: the bits of its bytes, most significant first, one per read in
    // status bit 5, with the ready flag (bit 7) set on the last bit of the last byte. Reads
    // before `firstRead` and after the frame answer 0.
    static Responder frame(std::vector<std::uint8_t> frame, std::size_t firstRead = 0);

    // Ends the thread, closes everything and removes the socket: the simulator is gone.
    void stop();
    // stop(), then listens again at the same path with `options`; what was recorded is cleared.
    void restart(Options options = {});

    // Waits (at most `limit`) until this many accesses have arrived; false when they did not.
    bool waitForAccesses(std::size_t count,
                         std::chrono::milliseconds limit = std::chrono::milliseconds{2000});
    // Waits (at most `limit`) until `connections` connections in all have ended (hung up by
    // either side); false when they did not.
    bool waitForHangUp(std::size_t connections = 1,
                       std::chrono::milliseconds limit = std::chrono::milliseconds{2000});

    std::vector<Access> accesses() const;
    std::vector<std::uint8_t> rawBytes() const;  // every byte received, in order
    const std::string& path() const { return path_; }

  private:
    void start();
    void serve();
    // Serves one connection until it ends; false when the server is stopping.
    bool serveConnection(int fd);
    // Waits until `fd` is readable or the server stops; false on stop or when `limit` passes.
    bool waitReadable(int fd, std::chrono::milliseconds limit);
    // Reads exactly `count` bytes; false when the client hung up or the server stops.
    bool receive(int fd, std::uint8_t* into, std::size_t count);
    // Sends the stray byte (after `answer`, in one send, when there is one) the first time;
    // later only the answer.
    void sendExtraByte(int fd, const std::uint8_t* answer);
    // True once `after` accesses have been served, counting `pending` not yet recorded.
    bool faultDue(std::size_t pending = 0) const;
    void spendFault();
    bool stopping();

    std::string path_;
    Responder responder_;
    Options options_;
    int listenFd_ = -1;
    int backlogFillerFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Access> accesses_;
    std::vector<std::uint8_t> raw_;
    std::size_t readsSoFar_ = 0;
    bool extraByteSent_ = false;
    bool faultSpent_ = false;  // a hang-up happened; later connections are served normally
    std::size_t hangUps_ = 0;
};

}  // namespace testing_support
