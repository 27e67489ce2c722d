// How the SPI bus sits on a standard PC parallel port. Every data-register write sets all eight
// lines at once; every received bit is one status-register read.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lpt {

// I/O addresses of the two ports' data registers; the status register is at base + 1.
inline constexpr std::uint16_t kLpt1Base = 0x378;  // 888
inline constexpr std::uint16_t kLpt2Base = 0x278;  // 632
inline constexpr std::uint16_t kStatusOffset = 1;

// Data register (base + 0), pins of the DB-25 connector in comments.
inline constexpr std::uint8_t kClockBit = 0x01;        // D0, pin 2: SPI clock
inline constexpr std::uint8_t kChipSelectBit = 0x02;   // D1, pin 3: chip select, active low
inline constexpr std::uint8_t kMosiBit = 0x04;         // D2, pin 4: data to the module
inline constexpr std::uint8_t kUnusedHighBits = 0xF8;  // D3-D7, pins 5-9: always 1

// Status register (base + 1).
inline constexpr std::uint8_t kMisoBit = 0x20;   // paper end, pin 12: data from the module
inline constexpr std::uint8_t kReadyBit = 0x80;  // busy, pin 11, inverted by the port: 1 = ready

// The same lines on an FTDI adapter (FT232H, FT2232H, FT4232H: interface A's MPSSE low byte),
// wired as MPSSE SPI usually is. A data-register write sets the three outputs; a status read gives
// MISO as status bit 5 and the busy line inverted into bit 7, as a parallel port does. Data bits
// 3-7 have no pin.
inline constexpr std::uint8_t kAdapterClockPin = 0x01;   // AD0: SCK
inline constexpr std::uint8_t kAdapterMosiPin = 0x02;    // AD1: MOSI
inline constexpr std::uint8_t kAdapterMisoPin = 0x04;    // AD2: MISO
inline constexpr std::uint8_t kAdapterSelectPin = 0x08;  // AD3: CS, active low
inline constexpr std::uint8_t kAdapterBusyPin = 0x10;    // AD4: the module's busy line (READY)
inline constexpr std::uint8_t kAdapterOutputs =
    kAdapterClockPin | kAdapterMosiPin | kAdapterSelectPin;
// The status register's other lines, as a parallel port with nothing else on it reads them.
inline constexpr std::uint8_t kAdapterOtherStatusLines = 0x58;

// The adapter's output pins for a data-register value.
constexpr std::uint8_t adapterPinsFor(std::uint8_t data) {
    return static_cast<std::uint8_t>(((data & kClockBit) != 0 ? kAdapterClockPin : 0) |
                                     ((data & kMosiBit) != 0 ? kAdapterMosiPin : 0) |
                                     ((data & kChipSelectBit) != 0 ? kAdapterSelectPin : 0));
}

// The status register for the adapter's pins as read.
constexpr std::uint8_t statusFromAdapterPins(std::uint8_t pins) {
    return static_cast<std::uint8_t>(kAdapterOtherStatusLines |
                                     ((pins & kAdapterMisoPin) != 0 ? kMisoBit : 0) |
                                     ((pins & kAdapterBusyPin) != 0 ? 0 : kReadyBit));
}

// The three data-register values of one SPI mode. The outgoing data bit (kMosiBit) is added to
// setup and sample; the status register is read between the two, just before the sampling edge.
struct SpiModePatterns {
    std::uint8_t setup;   // first write of every bit: chip select low, data placed
    std::uint8_t sample;  // second write: the clock edge on which the module samples
    std::uint8_t idle;    // after every byte: chip select high, clock at its idle level
    friend bool operator==(const SpiModePatterns&, const SpiModePatterns&) = default;
};

// CPOL is the clock level between bytes; CPHA 0 samples on the first edge of a bit, 1 on the
// second. With CPHA 0 the setup write holds the clock at idle and the sample write leaves it;
// with CPHA 1 the setup write already leaves idle and the sample write returns to it.
constexpr SpiModePatterns patternsFor(int mode) {
    const bool clockIdlesHigh = mode >= 2;
    const bool sampleOnSecondEdge = mode == 1 || mode == 3;
    const std::uint8_t idleClock = clockIdlesHigh ? kClockBit : 0;
    const std::uint8_t activeClock = clockIdlesHigh ? 0 : kClockBit;
    const std::uint8_t setupClock = sampleOnSecondEdge ? activeClock : idleClock;
    const std::uint8_t sampleClock = sampleOnSecondEdge ? idleClock : activeClock;
    return {static_cast<std::uint8_t>(kUnusedHighBits | setupClock),
            static_cast<std::uint8_t>(kUnusedHighBits | sampleClock),
            static_cast<std::uint8_t>(kUnusedHighBits | kChipSelectBit | idleClock)};
}

inline constexpr std::array<SpiModePatterns, 4> kModePatterns{patternsFor(0), patternsFor(1),
                                                              patternsFor(2), patternsFor(3)};

// The values the module's documentation lists, so the derivation above cannot drift.
static_assert(kModePatterns[0] == SpiModePatterns{248, 249, 250});
static_assert(kModePatterns[1] == SpiModePatterns{249, 248, 250});
static_assert(kModePatterns[2] == SpiModePatterns{249, 248, 251});
static_assert(kModePatterns[3] == SpiModePatterns{248, 249, 251});

// An I/O address as messages write it: "0x378".
inline std::string hexAddress(std::uint16_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%x", address);
    return text;
}

}  // namespace lpt
