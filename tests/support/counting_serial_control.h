// A serial control that passes every call to another one and counts the bytes the program has
// taken, so that a peer on the line can pace itself by them from a thread of its own.
#pragma once

#include <atomic>

#include "serial/serial_control.h"

namespace testing_support {

class CountingSerialControl final : public serial::SerialControl {
  public:
    explicit CountingSerialControl(serial::SerialControl& inner) : inner_(inner) {
        inner_.onLineEvent([this] { tellLineEvent(); });
    }
    ~CountingSerialControl() override { inner_.onLineEvent({}); }

    void setCommPort(int portNumber) override { inner_.setCommPort(portNumber); }
    int commPort() const override { return inner_.commPort(); }
    std::string deviceOf(int portNumber) const override { return inner_.deviceOf(portNumber); }
    bool setBaud(std::uint32_t baud) override { return inner_.setBaud(baud); }
    std::uint32_t baud() const override { return inner_.baud(); }
    std::optional<serial::OpenFailure> open() override { return inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    void output(std::span<const std::uint8_t> bytes) override { inner_.output(bytes); }
    std::size_t inBufferCount() override { return inner_.inBufferCount(); }
    std::vector<std::uint8_t> input() override {
        std::vector<std::uint8_t> bytes = inner_.input();
        taken_ += bytes.size();
        return bytes;
    }
    std::optional<serial::LineFault> takeLineFault() override { return inner_.takeLineFault(); }

    std::size_t taken() const { return taken_; }

  private:
    serial::SerialControl& inner_;
    std::atomic<std::size_t> taken_{0};
};

}  // namespace testing_support
