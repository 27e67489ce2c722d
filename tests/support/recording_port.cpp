#include "support/recording_port.h"

#include <algorithm>

namespace testing_support {

void RecordingPort::setInitializeResult(bool ok, std::string reason) {
    initializeResult_ = ok;
    initializeReason_ = std::move(reason);
}

void RecordingPort::queueStatus(std::vector<std::uint8_t> values) {
    script_.insert(script_.end(), values.begin(), values.end());
}

void RecordingPort::setResponder(
    std::function<std::uint8_t(std::uint16_t, std::size_t)> responder) {
    responder_ = std::move(responder);
}

std::vector<std::uint8_t> RecordingPort::writtenValues() const {
    std::vector<std::uint8_t> values;
    for (const PortAccess& a : accesses_) {
        if (a.kind == PortAccess::Kind::Write) {
            values.push_back(a.value);
        }
    }
    return values;
}

std::size_t RecordingPort::readCount() const {
    return static_cast<std::size_t>(
        std::count_if(accesses_.begin(), accesses_.end(),
                      [](const PortAccess& a) { return a.kind == PortAccess::Kind::Read; }));
}

void RecordingPort::failFrom(std::size_t accessNumber, std::string reason) {
    failureArmed_ = true;
    accessesUntilFailure_ = accessNumber;
    injectedFault_ = std::move(reason);
}

void RecordingPort::setRestartResult(bool ok, std::string reason) {
    restartResult_ = ok;
    restartReason_ = std::move(reason);
}

void RecordingPort::doubtAtConfirm(int confirmNumber, std::string reason) {
    doubtfulConfirm_ = confirmCalls_ + confirmNumber;
    injectedFault_ = std::move(reason);
}

bool RecordingPort::confirmAnswers() {
    if (confirmCalls_++ != doubtfulConfirm_) {
        return true;
    }
    answersInDoubt_ = true;
    fault_ = injectedFault_;
    failFrom(0, injectedFault_);
    return false;
}

bool RecordingPort::failing() {
    if (!failureArmed_) {
        return false;
    }
    if (accessesUntilFailure_ > 0) {
        --accessesUntilFailure_;
        return false;
    }
    ++failedAccesses_;
    fault_ = injectedFault_;
    return true;
}

bool RecordingPort::start() {
    if (!started_) {
        started_ = true;
        ++initializeCalls_;
        fault_ = initializeResult_ ? std::string{} : initializeReason_;
        return initializeResult_;
    }
    ++restartCalls_;
    if (!restartResult_) {
        fault_ = restartReason_;
        return false;
    }
    failureArmed_ = false;
    fault_.clear();
    return true;
}

void RecordingPort::stop() {
    ++shutdownCalls_;
    started_ = false;
}

bool RecordingPort::writeByte(std::uint16_t address, std::uint8_t value) {
    if (failing()) {
        return false;
    }
    accesses_.push_back({PortAccess::Kind::Write, address, static_cast<std::uint8_t>(value)});
    return true;
}

bool RecordingPort::readByte(std::uint16_t address, std::uint8_t& value) {
    if (failing()) {
        value = 0;
        return false;
    }
    std::uint8_t answer = fallback_;
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    } else if (responder_) {
        answer = responder_(address, readsSoFar_);
    }
    ++readsSoFar_;
    value = answer;
    accesses_.push_back({PortAccess::Kind::Read, address, answer});
    return true;
}

}  // namespace testing_support
