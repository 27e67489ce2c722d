// The module session over the SPI link on a parallel port: port access, the port choice, the SPI
// mode, the status poll, the frame download and the reset, besides the operations every link has.
#pragma once

#include <cstdint>
#include <optional>

#include "lpt/spi_link.h"
#include "session/module_session.h"

namespace session {

// How the search for the module's SPI mode ended: the mode register read back in `readIn`.
struct ModeSearch {
    bool found = false;  // the module is in the mode asked for, and the link with it
    int readIn = 0;
    std::uint8_t readBack = 0;
};

// What one status read found.
enum class StatusPoll {
    Ready,      // the module's ready flag is up
    NotReady,   // it is down
    NoLink,     // the port is lost
    LinkInUse,  // nothing to show: an operation has the link, port access has stopped, or a
                // status read sent ahead is not confirmed yet
};

class SpiSession final : public ModuleSession {
  public:
    SpiSession(lpt::SpiLink& link, protocol::Clock& clock);

    // Port access, then the start state (the port of list index `listIndex`, LPT1 by default;
    // mode 0; the idle pattern on that port alone), which follows whatever port access gave. A
    // NoPort fault says why port access could not be had.
    Result<void> start(int listIndex = 0);
    // Stops port access; a second call does nothing.
    void stop();
    bool stopped() const { return link_.portAccessStopped(); }
    // 0 is LPT1, anything else LPT2. Nothing is written at the change.
    void choosePort(int listIndex);

    // The mode register told `mode` in the mode in force, then the link switches to it. Runs in
    // full even when `mode` is in force.
    Result<void> switchMode(int mode);
    int mode() const { return mode_; }
    // Brings the module to `mode` from whatever mode an earlier run left it in, for a PC that
    // cannot know that mode: the mode register is told the target in each of the four modes in
    // turn (the module takes it in its own mode; in the others it sees garbled bytes, which carry
    // no register number, so it keeps its mode), then read back in the target. Mode 0 reads back
    // as a line with no module on it reads, so for mode 0 the target is kModeZeroThrough, and
    // once it is confirmed the module is told 0 in it. Not found: nothing read in this mode can
    // be trusted.
    Result<ModeSearch> takeMode(int mode);
    static constexpr int kModeZeroThrough = 1;
    Result<Settings> readSettings() override;

    // One status read, no exchange, when no operation is open; on the link's thread, between
    // operations.
    StatusPoll pollReady();
    // The same for a poll that comes again and again: over a port with a round trip per access,
    // the answer to a read sent ahead once the line has confirmed it
    // (lpt::SpiLink::pollStatusAhead).
    StatusPoll pollReadyAhead();

    // The frame-read command and at once the download: bytes until the ready flag read with a
    // byte says the frame is out, or the download limit. The bytes read whole before a fault stay.
    Result<FrameFetch> readFrame(frames::FrameStore& store, const FetchProgress& progress) override;
    // The download alone, for a frame the module has been told to send.
    Result<FrameFetch> download(frames::FrameStore& store, const FetchProgress& progress);

    // The reset command in the mode in force; the module is then in mode 0, so the link follows:
    // the mode register is told 0 in the old mode when that was another, then once more in mode 0.
    Result<void> reset() override;

  private:
    void switchModeInOperation(int mode);
    Result<FrameFetch> fetch(frames::FrameStore& store, const FetchProgress& progress,
                             bool frameReadCommand);

    lpt::SpiLink& link_;
    int mode_ = 0;
};

}  // namespace session
