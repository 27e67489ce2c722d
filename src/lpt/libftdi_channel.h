// An FTDI adapter through libftdi1: the first FT232H, FT2232H or FT4232H found, or the one a
// selector names (as ftdi_usb_open_string takes it: "i:0x0403:0x6014", "s:SERIAL", ...), on its
// interface A, in MPSSE mode. Built where pkg-config finds libftdi1 (CAMERA_HAVE_LIBFTDI).
#pragma once

#include <chrono>
#include <string>

#include "lpt/mpsse_channel.h"

struct ftdi_context;

namespace lpt {

class LibftdiChannel final : public MpsseChannel {
  public:
    // How long a read waits for every answer it is owed.
    static constexpr std::chrono::milliseconds kReadLimit{2000};

    explicit LibftdiChannel(std::string selector = {});
    ~LibftdiChannel() override;
    LibftdiChannel(const LibftdiChannel&) = delete;
    LibftdiChannel& operator=(const LibftdiChannel&) = delete;

    bool open() override;
    void close() override;
    bool write(std::span<const std::uint8_t> bytes) override;
    bool read(std::span<std::uint8_t> bytes) override;
    std::string error() const override { return error_; }

  private:
    bool failed(const std::string& what);

    std::string selector_;
    ftdi_context* ftdi_ = nullptr;
    bool open_ = false;
    std::string error_;
};

}  // namespace lpt
