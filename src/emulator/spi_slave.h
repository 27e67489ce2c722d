// The module's SPI slave as the parallel-port lines drive it. Each data-register write sets the
// clock, chip-select and MOSI lines at once; the slave works out which edges that write made and
// acts on them as a slave in the SPI mode held in the module's mode register would:
//
//   CPOL (clock level between frames): 0 in modes 0 and 1, 1 in modes 2 and 3.
//   CPHA 0 (modes 0, 2): the first bit goes out when chip select falls; MOSI is sampled on the
//        edge that leaves the idle level, the next bit goes out on the edge that returns to it.
//   CPHA 1 (modes 1, 3): a bit goes out on the edge that leaves the idle level, MOSI is sampled
//        on the edge that returns to it.
//
// A flip-flop samples what was on the data line before the edge: when MOSI changes in the same
// write as the sampling edge, the slave sees the old level. A master in the slave's own mode never
// does that; one in another mode does, which is why it gets garbage, as on hardware.
//
// One byte per chip-select frame. The mode is taken when chip select falls, so a mode-register
// write takes effect for the frame after the one that carried it.
//
// The pin map is the slave's own, not borrowed from the PC side: a mistake shared by both sides
// would otherwise go unseen.
#pragma once

#include <cstdint>

#include "emulator/camera_module.h"
#include "emulator/emulator_log.h"

namespace emulator {

// Data register (base + 0), DB-25 pins in comments.
inline constexpr std::uint8_t kSlaveClockLine = 0x01;   // D0, pin 2
inline constexpr std::uint8_t kSlaveSelectLine = 0x02;  // D1, pin 3, active low
inline constexpr std::uint8_t kSlaveMosiLine = 0x04;    // D2, pin 4
// Status register (base + 1).
inline constexpr std::uint8_t kSlaveMisoLine = 0x20;   // paper end, pin 12
inline constexpr std::uint8_t kSlaveReadyLine = 0x80;  // busy, pin 11, inverted by the port
// The other status inputs at their idle levels (nError, Select, nAck high; bits 0-2 unused, 0):
// a PC that does not mask them sees them.
inline constexpr std::uint8_t kSlaveOtherStatusLines = 0x58;

class SpiSlave {
  public:
    explicit SpiSlave(CameraModule& module);

    void writeDataRegister(std::uint8_t value);
    // MISO (the bit on the line; 0 while chip select is high), the ready flag and the idle inputs.
    std::uint8_t statusRegister() const;
    // The PC let go of the port: a chip-select frame it left open ends without a byte, and the
    // module drops what it had left to send it. The next PC starts a frame with its first falling
    // chip select, as after power-up.
    void release();

  private:
    struct Lines {
        bool clock;
        bool selected;  // chip select low
        bool mosi;
    };
    static Lines decode(std::uint8_t value);

    void beginFrame();
    void endFrame();
    void clockEdge(bool leavingIdle, bool mosiBeforeEdge);
    void sample(bool level);
    void driveNextBit();

    CameraModule& module_;
    // The port powers up with the data register at 0: chip select low, but the slave only starts
    // a frame on a falling chip select, so it waits for the PC's first idle write.
    Lines lines_{false, false, false};
    bool inFrame_ = false;

    int frameMode_ = 0;  // the mode of the frame in progress
    int bitsIn_ = 0;
    std::uint8_t shiftIn_ = 0;
    int bitsOut_ = 0;
    std::uint8_t shiftOut_ = 0;
    bool outgoingWasQueued_ = false;
    bool miso_ = false;
};

}  // namespace emulator
