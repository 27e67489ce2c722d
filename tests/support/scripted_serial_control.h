// A serial control for window and link tests: it records every call in order with the time the
// test clock showed, answers sends from a script standing in for the module, and can be told to
// fail an open or to report a line fault.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/clock.h"
#include "protocol/encodings.h"
#include "serial/line_settings.h"
#include "serial/serial_control.h"

namespace testing_support {

class ScriptedSerialControl final : public serial::SerialControl {
  public:
    enum class Call { CommPort, Settings, Open, Close, Output };
    struct Event {
        Call call;
        int port = 0;
        std::string settings;  // for Settings, "speed,N,8,1"; the speed in force for Output
        std::vector<std::uint8_t> bytes;  // for Output
        protocol::Clock::TimePoint at{};
    };

    explicit ScriptedSerialControl(const protocol::Clock* clock = nullptr) : clock_(clock) {}

    void setCommPort(int portNumber) override;
    int commPort() const override { return port_; }
    std::string deviceOf(int portNumber) const override;
    bool setBaud(std::uint32_t baud) override;
    std::uint32_t baud() const override { return baud_; }
    // The speed in force as the operator reads it: "2400,N,8,1".
    std::string settings() const { return serial::lineSettingsFor(baud_); }
    std::optional<serial::OpenFailure> open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    void output(std::span<const std::uint8_t> bytes) override;
    std::size_t inBufferCount() override {
        beforeLook();
        return incoming.size();
    }
    std::vector<std::uint8_t> input() override;
    std::optional<serial::LineFault> takeLineFault() override;

    // Bytes the module has sent, waiting to be taken.
    void arrive(std::vector<std::uint8_t> bytes) {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
        tellLineEvent();
    }
    // The sends, in order, with nothing else.
    std::vector<std::vector<std::uint8_t>> outputs() const;

    std::vector<Event> events;
    std::deque<std::uint8_t> incoming;
    // Called after every send that reached the line: the module's answer goes into `incoming`.
    std::function<void(const std::vector<std::uint8_t>&)> module;
    // Called whenever the PC looks at what has arrived: bytes due by then may arrive here.
    std::function<void()> onLook;
    // Ports that fail to open, and how.
    std::map<int, serial::OpenFailure> failingPorts;
    // Speeds the line refuses.
    std::vector<std::uint32_t> refusedBauds;
    std::optional<serial::LineFault> pendingFault;
    int inputCalls = 0;

  private:
    protocol::Clock::TimePoint time() const;
    void beforeLook() {
        if (onLook) {
            onLook();
        }
    }

    const protocol::Clock* clock_;
    int port_ = 1;
    std::uint32_t baud_ = protocol::kResetBaud;
    bool open_ = false;
};

}  // namespace testing_support
