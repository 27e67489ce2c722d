// One frame from the module, over either link: the capture command, a second for the module to
// compress, the frame-read command, then the frame's bytes into the store until the link's frame
// end (SPI: the ready flag; serial: the line quiet for its idle time).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "frames/frame_store.h"
#include "lpt/spi_link.h"
#include "protocol/clock.h"
#include "serial/frame_arrival.h"
#include "serial/serial_control.h"
#include "serial/serial_link.h"

namespace camctl {

struct Fetched {
    protocol::Clock::Duration transferTime{};  // from the frame-read command to the frame's end
    std::optional<std::string> failure;        // the link failed or the module sent nothing
};

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Appends the frame to `store`; `counted` gets the store's count as bytes arrive.
    virtual Fetched fetch(frames::FrameStore& store,
                          const std::function<void(std::uint32_t)>& counted) = 0;

    // The module needs this long to compress a frame before it is read.
    static constexpr std::chrono::seconds kCompressTime{1};
};

class SpiFrameSource final : public FrameSource {
  public:
    SpiFrameSource(lpt::SpiLink& link, protocol::Clock& clock) : link_(link), clock_(clock) {}
    Fetched fetch(frames::FrameStore& store,
                  const std::function<void(std::uint32_t)>& counted) override;

  private:
    lpt::SpiLink& link_;
    protocol::Clock& clock_;
};

class SerialFrameSource final : public FrameSource {
  public:
    SerialFrameSource(serial::SerialControl& control, serial::SerialLink& link,
                      protocol::Clock& clock)
        : control_(control), link_(link), clock_(clock) {}
    Fetched fetch(frames::FrameStore& store,
                  const std::function<void(std::uint32_t)>& counted) override;

  private:
    serial::SerialControl& control_;
    serial::SerialLink& link_;
    protocol::Clock& clock_;
};

}  // namespace camctl
