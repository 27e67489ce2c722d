// The USB side of an FTDI adapter in MPSSE mode: the bytes of MPSSE commands out, their answers
// in. libftdi carries them to a real adapter (lpt/libftdi_channel.h); tests put an interpreter of
// the commands in its place.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lpt {

class MpsseChannel {
  public:
    virtual ~MpsseChannel() = default;

    // Opens the adapter, puts it in MPSSE mode and empties its buffers. False with error()
    // saying why (what was looked for, and what gives access to it).
    virtual bool open() = 0;
    // Closes the adapter; nothing happens when it is not open.
    virtual void close() = 0;
    // Sends all of `bytes`; false with error() saying why (the adapter unplugged).
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Reads exactly `bytes.size()` answers, waiting at most the channel's time limit; false on a
    // short read or a failure, with error() saying why.
    virtual bool read(std::span<std::uint8_t> bytes) = 0;
    virtual std::string error() const = 0;
};

}  // namespace lpt
