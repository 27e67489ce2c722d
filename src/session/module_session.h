// The module session: every operation with the camera module, typed, over one link. Both front
// ends (the windows and camctl) drive the module through it and only through it. An operation
// returns its value or a protocol::LinkFault; it never shows anything and holds no text for
// people. The session holds "one exchange at a time": an operation opens the exchange, the link's
// fault is taken once when it closes, and an operation asked for while another one runs is
// refused with LinkFault::Kind::Busy.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "frames/frame_store.h"
#include "protocol/clock.h"
#include "protocol/encodings.h"
#include "protocol/link_fault.h"
#include "protocol/module_link.h"
#include "protocol/registers.h"
#include "protocol/wire.h"

namespace session {

using protocol::LinkFault;
using protocol::Result;

// What the session is busy with, for the front ends to show and to hold their controls.
enum class Exchange {
    Setting,        // a register write (a frame size takes two, a second apart)
    ReadBack,       // queries of the module's registers
    Capture,        // the capture command
    FrameRead,      // the frame-read command and the frame's bytes
    Reset,          // the reset command and what follows it
    SpiMode,        // the SPI mode switch
    LineSpeed,      // the serial line's speed, read or switched
    FrameArriving,  // the module is sending a frame by itself (serial): no operation of ours
};

// The four levels, as steps of their sliders: brightness 0..25, R, G, B 0..63.
enum class Level { Brightness = 0, Red = 1, Green = 2, Blue = 3 };
inline constexpr int kLevelCount = 4;
struct Levels {
    int brightness = 0;
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Levels&, const Levels&) = default;
};

// Every setting the module can be read back, as values.
struct Settings {
    protocol::CompressionSetting compression{};
    Levels levels;
    protocol::FrameSize frameSize{};
    // SPI only: the mode register; nullopt when its value is no mode (above 3).
    std::optional<int> spiMode;
};

// How a frame fetch went. The bytes are in the store given; a fault is the Result's.
struct FrameFetch {
    std::uint32_t bytes = 0;                   // appended to the store by this fetch
    protocol::Clock::Duration transferTime{};  // from the frame-read command to the frame's end
    bool cancelled = false;                    // the caller's cancel (or the window closing)
    bool endedByReadyFlag = false;             // SPI: the module said the frame was out
};

// What a fetch tells and asks as bytes arrive: `counted` gets the store's count, `cancelled`
// true stops it. Either may be empty.
struct FetchProgress {
    std::function<void(std::uint32_t count)> counted;
    std::function<bool()> cancelled;
};

// The waits a link needs between the steps of an operation.
struct SessionWaits {
    // Serial: the window is held still for 3 s after a compression write, so the module has
    // finished before anything else goes out.
    bool freezeAfterCompressionWrite = false;
    // SPI: a second between the reads of a read-back.
    bool waitBetweenReads = false;
};

class ModuleSession {
  public:
    ModuleSession(protocol::ModuleLink& link, protocol::Clock& clock, SessionWaits waits);
    virtual ~ModuleSession() = default;
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    // ---- Settings: each is written the moment it is asked for; the module acknowledges nothing.
    // Level and colour share one register. A level the register cannot carry in this colour mode
    // (protocol::encodeCompression) is refused before anything is sent.
    Result<void> writeCompression(protocol::CompressionSetting setting);
    Result<void> writeLevel(Level level, int step);
    // Width first, a second for the module, then height.
    Result<void> writeFrameSize(protocol::FrameSize size);
    Result<void> writeTestMode(bool on);

    // ---- Read-backs: the module's registers as values, with the link's waits between reads.
    // A read-back that fails gives nothing: no value is ever half the module's.
    Result<protocol::CompressionSetting> readCompression();
    Result<Levels> readLevels();
    Result<protocol::FrameSize> readFrameSize();
    // The SPI mode register; nullopt in the result for a value that is no mode (above 3).
    Result<std::optional<int>> readSpiMode();
    // Every setting, one read-back after another (the SPI mode too, over SPI).
    virtual Result<Settings> readSettings();

    // ---- Frames
    Result<void> capture();
    // The frame-read command, then the frame's bytes into `store` until the link's frame end.
    virtual Result<FrameFetch> readFrame(frames::FrameStore& store,
                                         const FetchProgress& progress) = 0;
    // The capture command, the module's time to compress, then readFrame.
    Result<FrameFetch> captureAndRead(frames::FrameStore& store, const FetchProgress& progress);

    // ---- Reset: the command, and whatever the link does to follow the module back to its start.
    virtual Result<void> reset() = 0;

    // What the session is busy with: the operation open, or something else that keeps the link
    // (a frame on its way over serial); nullopt when nothing does.
    std::optional<Exchange> busyWith() const;
    // An operation is open: another one would be refused.
    bool operationOpen() const { return open_.has_value(); }
    // The last operation found the link down (a port lost, or one that could not be had back);
    // the next one that goes through brings it up again.
    bool linkDown() const { return linkDown_; }
    // Told when an operation opens and when it closes (the windows hold their controls by it).
    void onBusyChanged(std::function<void()> told) { busyChanged_ = std::move(told); }

    // The link's name for messages: "LPT1", "COM2 (/dev/ttyS1)".
    std::string linkName() const { return link_.name(); }

    // The module needs this long to compress a frame before it is read.
    static constexpr std::chrono::seconds kCompressTime{1};
    // Between the width and the height of a frame size.
    static constexpr std::chrono::seconds kBetweenSizeWrites{1};
    // Between the reads of a read-back, where the link waits there.
    static constexpr std::chrono::seconds kBetweenReads{1};
    // How long the serial program holds still after a compression write.
    static constexpr std::chrono::seconds kCompressionFreeze{3};

  protected:
    // One operation with the module, open from construction to destruction. It is refused when
    // another one is open: refused() is then true and nothing may be sent.
    class Operation {
      public:
        Operation(ModuleSession& session, Exchange what);
        ~Operation();
        Operation(const Operation&) = delete;
        Operation& operator=(const Operation&) = delete;

        bool refused() const { return refused_; }
        // The Busy fault of a refused operation.
        LinkFault refusal() const;
        // The link's fault, if it met one (taken once); else success.
        Result<void> finish();
        template <class T>
        Result<T> finish(T value) {
            if (auto fault = takeFault()) {
                return *fault;
            }
            return value;
        }
        // An exchange gave no value: the link's fault when it met one, else `otherwise` (a module
        // that did not answer, by default).
        LinkFault failure(std::optional<LinkFault> otherwise = std::nullopt);

      private:
        std::optional<LinkFault> takeFault();

        ModuleSession& session_;
        bool refused_ = false;
    };

    // Runs `body(op)` inside one operation; an operation refused because another one runs gives
    // its Busy fault without running the body.
    template <class Body>
    auto run(Exchange what, Body body) -> decltype(body(std::declval<Operation&>())) {
        Operation op(*this, what);
        if (op.refused()) {
            return op.refusal();
        }
        return body(op);
    }
    // A query of one register inside `op`, decoded by `decode`; the operation's failure when no
    // whole reply came.
    template <class Decode>
    auto query(Operation& op, protocol::Register r, Decode decode)
        -> Result<decltype(decode(std::uint8_t{}))> {
        const auto reply = protocol::queryRegister(link_, r);
        if (!reply) {
            return op.failure();
        }
        return op.finish(decode(static_cast<std::uint8_t>(*reply)));
    }

    // Something other than an operation keeps the link busy (a frame arriving over serial).
    virtual std::optional<Exchange> busyOutsideOperations() const { return std::nullopt; }
    void waitBetweenReads();
    LinkFault fault(LinkFault::Kind kind, std::string reason = {}) const;

    protocol::ModuleLink& link_;
    protocol::Clock& clock_;

  private:
    void setOpen(std::optional<Exchange> what);

    SessionWaits waits_;
    std::optional<Exchange> open_;
    bool linkDown_ = false;
    std::function<void()> busyChanged_;
};

}  // namespace session
