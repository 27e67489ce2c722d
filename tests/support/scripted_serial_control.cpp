#include "support/scripted_serial_control.h"

#include <algorithm>
#include <utility>

namespace testing_support {

protocol::Clock::TimePoint ScriptedSerialControl::time() const {
    return clock_ != nullptr ? clock_->now() : protocol::Clock::TimePoint{};
}

void ScriptedSerialControl::setCommPort(int portNumber) {
    port_ = portNumber;
    events.push_back({Call::CommPort, portNumber, {}, {}, time()});
}

std::string ScriptedSerialControl::deviceOf(int portNumber) const {
    return "/dev/scripted" + std::to_string(portNumber);
}

bool ScriptedSerialControl::setBaud(std::uint32_t baud) {
    events.push_back({Call::Settings, port_, serial::lineSettingsFor(baud), {}, time()});
    if (std::find(refusedBauds.begin(), refusedBauds.end(), baud) != refusedBauds.end()) {
        return false;
    }
    baud_ = baud;
    return true;
}

std::optional<serial::OpenFailure> ScriptedSerialControl::open() {
    events.push_back({Call::Open, port_, settings(), {}, time()});
    if (const auto failing = failingPorts.find(port_); failing != failingPorts.end()) {
        return failing->second;
    }
    open_ = true;
    return std::nullopt;
}

void ScriptedSerialControl::close() {
    events.push_back({Call::Close, port_, settings(), {}, time()});
    open_ = false;
}

void ScriptedSerialControl::output(std::span<const std::uint8_t> bytes) {
    if (!open_) {
        return;
    }
    std::vector<std::uint8_t> sent(bytes.begin(), bytes.end());
    events.push_back({Call::Output, port_, settings(), sent, time()});
    if (module) {
        module(sent);
    }
}

std::vector<std::uint8_t> ScriptedSerialControl::input() {
    beforeLook();
    ++inputCalls;
    std::vector<std::uint8_t> taken(incoming.begin(), incoming.end());
    incoming.clear();
    return taken;
}

std::optional<serial::LineFault> ScriptedSerialControl::takeLineFault() {
    return std::exchange(pendingFault, std::nullopt);
}

std::vector<std::vector<std::uint8_t>> ScriptedSerialControl::outputs() const {
    std::vector<std::vector<std::uint8_t>> sent;
    for (const Event& e : events) {
        if (e.call == Call::Output) {
            sent.push_back(e.bytes);
        }
    }
    return sent;
}

}  // namespace testing_support
