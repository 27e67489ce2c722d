// The module's serial port, served on the master side of a pseudo-terminal: the PC program opens
// the slave side as its serial port. Runs on a thread of its own, so a window in the same process
// (comtrak --emulator) keeps its loop free.
//
// What comes in is parsed by the module; what the module has to send (replies, a frame) goes out
// paced at the module's line speed, 10 bits per byte, each byte written when its last bit would
// have left the wire. The PC's speed is read from the pseudo-terminal; when it differs from the
// module's, bytes in both directions are received as a UART at the wrong speed would receive them.
//
// The PC closing its side is watched for (inotify on the slave device): the rest of a frame, the
// replies it was owed and the bytes it left unread on the line are dropped then, so the program
// that opens the port next starts clean.
//
// A program in the same process may ask, from any thread, whether the line is quiet for good (no
// byte can come until the PC sends one) and how far the sending is behind its schedule: a test
// skips the waits the first makes pointless and stands its time still for the second.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/camera_module.h"
#include "emulator/emulator_log.h"
#include "emulator/path_lock.h"
#include "emulator/serving_thread.h"

namespace emulator {

struct SerialPeerOptions {
    // Each character goes out in its time at the module's line speed divided by this: a test
    // sends a long frame in a fraction of its time while the line keeps its speed on both ends.
    // The bytes per turn grow with it, so the pace holds.
    int characterTimeDivisor = 1;
};

class SerialPeer {
  public:
    using Clock = std::chrono::steady_clock;
    using Options = SerialPeerOptions;

    // The peer serves `module`; the module may be inspected from other threads meanwhile.
    SerialPeer(CameraModule& module, EmulatorLog& log, Options options = {});
    ~SerialPeer();
    SerialPeer(const SerialPeer&) = delete;
    SerialPeer& operator=(const SerialPeer&) = delete;

    // Makes the pseudo-terminal, puts a symbolic link to its slave at `linkPath` (none when empty;
    // an old symbolic link there is replaced, anything else is an error) and starts serving. The
    // link is held by a PathLock while the peer serves: a link another emulator serves is refused
    // and left alone.
    // Returns the slave's device path, or nullopt with `error` saying why.
    std::optional<std::string> start(const std::string& linkPath, std::string& error);

    // Stops serving, closes the pseudo-terminal and removes the link. Safe to call twice.
    void stop();

    bool running() const { return thread_.running(); }

    // True when no byte is on its way in either direction: nothing the PC sent waits on the line
    // or is being parsed, the module has nothing to send and nothing is going out, and the PC has
    // read everything sent to it. Until the PC sends, the line stays so. Any thread may ask.
    bool lineQuiet() const;
    // How far the sending is behind its schedule: the time this thread was kept from running
    // while bytes were due. Zero when nothing goes out. Any thread may ask.
    Clock::duration sendingLag() const;
    // How many bytes from the PC the module has taken so far. Any thread may ask.
    std::uint64_t bytesTaken() const { return bytesTaken_; }

  private:
    void serve();
    void receiveFromPc();
    // Whether the PC has closed the slave since this was last asked (the watch's events are
    // taken).
    bool pcClosedThePort();
    void dropWhatThePcLeft();
    void sendDueBytes();
    // Puts bytes the module sent on the PC's side, as the PC's speed receives them.
    void writeToPc(std::vector<std::uint8_t> due);
    Clock::duration characterTime() const;
    std::uint32_t pcBaud();
    void closeAll();

    CameraModule& module_;
    EmulatorLog& log_;
    const Options options_;
    int masterFd_ = -1;
    int slaveFd_ = -1;       // held open so the master never sees a hang-up when the PC closes
    int closeWatchFd_ = -1;  // inotify, readable when a program closes the slave device
    std::string linkPath_;
    PathLock linkLock_;
    ServingThread thread_;

    std::uint32_t lastPcBaud_ = 0;
    // Set from before bytes are read from the PC until the module has parsed them.
    std::atomic<bool> taking_{false};
    std::atomic<std::uint64_t> bytesTaken_{0};
    // Set from before the module's first byte is taken until the last is written to the PC.
    std::atomic<bool> sending_{false};
    std::atomic<Clock::time_point> nextByteDue_{};
};

}  // namespace emulator
