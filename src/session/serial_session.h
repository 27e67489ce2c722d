// The module session over the serial link: the port and its line speed, the module's line speed,
// the reset, and frames, which the module sends by itself after the frame-read command. The
// windows take a frame in a poll at a time (requestFrame, receive); camctl waits for it whole
// (readFrame). While a frame arrives the session is busy with it, though no operation is open: a
// query waits for the line to go quiet before its request goes out.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "serial/frame_arrival.h"
#include "serial/serial_control.h"
#include "serial/serial_link.h"
#include "session/module_session.h"

namespace session {

class SerialSession final : public ModuleSession {
  public:
    // Frames that arrive outside readFrame (after requestFrame, or while a query waits for the
    // line) go into `frames`.
    SerialSession(serial::SerialControl& control, serial::SerialLink& link,
                  frames::FrameStore& frames, protocol::Clock& clock);

    // ---- The port
    // The start: the speed (2400 baud, the module's after reset, unless told), the port (the
    // window's start port, COM2, unless told), open. The failure when it did not open, or when
    // the line refused the speed (SpeedRefused).
    std::optional<serial::OpenFailure> start(int portNumber = kStartPortNumber,
                                             std::uint32_t baud = protocol::kResetBaud);
    // Close, the new port number (1..4), open at the speed in force; also for the port in use.
    std::optional<serial::OpenFailure> choosePort(int portNumber);
    // The line closed. Closing puts the line's old settings back at once: told to let the last
    // bytes out first, it gives them their line time before, so the module does not read them at
    // another speed.
    void close(bool letLastBytesOut = false);
    int portNumber() const { return portNumber_; }
    std::uint32_t baud() const { return control_.baud(); }

    // ---- Line speed
    struct ModuleSpeed {
        std::uint8_t code = 0;
        std::optional<std::uint32_t> baud;  // nullopt for a code that names no speed
    };
    // The module's speed register. The PC's line is not touched.
    Result<ModuleSpeed> readSpeed();
    // The module first, at the old speed, then a second later the PC. Refused when the PC's line
    // does not take the speed: the module has been told, the line stays where it was.
    Result<void> writeSpeed(const protocol::SpeedCode& speed);
    // The reset command at the speed in force, a second for the module (reception goes on), then
    // the PC at 2400.
    Result<void> reset() override;

    // ---- Frames
    // The frame-read command; the frame is then on its way until its bytes have ended (or none
    // came within the module's reply time).
    Result<void> requestFrame();
    // One reception poll: every byte waiting into the frames store (what fits).
    serial::Reception::Batch receive() { return arrival_.poll(); }
    // Nothing has come for the line's idle time: a frame that was arriving has ended.
    bool lineQuiet() const { return arrival_.lineQuiet(); }
    // A frame is awaited or arriving: its end (or its absence) is a matter of time.
    bool arrivalUnderWay() const { return arrival_.arriving(); }
    // What to watch for bytes arriving or the line failing; -1 while there is nothing to watch.
    int lineDescriptor() const { return control_.descriptor(); }
    // A fault the line reported since the last call (the device went away, a read failed).
    std::optional<LinkFault> takeLineFault();
    // Told when bytes have arrived or the line has reported a fault (see SerialControl).
    void onLineEvent(std::function<void()> told) { control_.onLineEvent(std::move(told)); }
    // Told when a query's wait for a quiet line has stored frame bytes.
    void onBytesStored(std::function<void()> told) { arrival_.onBytesStored = std::move(told); }

    // Bytes still on the line are dropped (the rest of an earlier frame), then the frame-read
    // command, then the frame into `store` until the line goes quiet.
    Result<FrameFetch> readFrame(frames::FrameStore& store, const FetchProgress& progress) override;

    static constexpr int kStartPortNumber = 2;

  protected:
    std::optional<Exchange> busyOutsideOperations() const override;

  private:
    // Waits `wait` with reception going on: what a frame on its way sends goes into the frames
    // store meanwhile.
    void receiveThrough(protocol::Clock::Duration wait);
    Result<FrameFetch> receiveFrame(Operation& op, frames::FrameStore& store,
                                    const FetchProgress& progress);

    serial::SerialControl& control_;
    serial::SerialLink& link_;
    serial::FrameArrival arrival_;
    int portNumber_ = kStartPortNumber;
};

}  // namespace session
