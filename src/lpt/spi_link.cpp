#include "lpt/spi_link.h"

#include <algorithm>
#include <array>

#include "protocol/registers.h"
#include "protocol/wire.h"

namespace lpt {

namespace {
constexpr int kBitsPerByte = 8;
}  // namespace

SpiLink::SpiLink(protocol::PortIo& port, protocol::ExchangeTrace* trace)
    : port_(port),
      answerCheck_(dynamic_cast<protocol::AnswerCheck*>(&port)),
      heldAccesses_(dynamic_cast<protocol::HeldAccesses*>(&port)),
      trace_(trace) {}

bool SpiLink::startPortAccess() {
    stopped_ = false;
    fault_.reset();
    // A port that could not be had at start is asked for again when the first operation begins
    // (a simulator started after the window).
    needsRecovery_ = !port_.start();
    return !needsRecovery_;
}

void SpiLink::enterStartState(int listIndex) {
    choosePort(listIndex);
    patterns_ = kModePatterns[0];
    writeData(patterns_.idle);
}

void SpiLink::stopPortAccess() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    if (statusAhead_) {
        statusAhead_ = false;  // its answer goes with the port
        tellWatchHeld(false);
    }
    port_.stop();
}

void SpiLink::choosePort(int listIndex) {
    portBase_ = listIndex == 0 ? kLpt1Base : kLpt2Base;
}

void SpiLink::switchMode(int mode) {
    protocol::writeRegister(*this, protocol::Register::SpiMode, static_cast<std::uint16_t>(mode));
    assumeMode(mode);
}

void SpiLink::assumeMode(int mode) {
    patterns_ = kModePatterns[static_cast<std::size_t>(mode) % kModePatterns.size()];
    writeData(patterns_.idle);
}

void SpiLink::wrtLPTport(std::uint8_t value) {
    tellWatch();
    for (int bit = kBitsPerByte - 1; bit >= 0; --bit) {
        const std::uint8_t line = (value >> bit) & 1 ? kMosiBit : 0;
        writeData(patterns_.setup + line);
        writeData(patterns_.sample + line);
    }
    writeData(patterns_.idle);
}

std::optional<SpiLink::ByteIn> SpiLink::read1byteLPTport() {
    tellWatch();
    // No access of the frame depends on what a read gives, so the answers are looked at only
    // once its last access is made: a port that can hold accesses sends the frame in one go.
    std::array<std::uint8_t, kBitsPerByte> statuses{};
    if (heldAccesses_ != nullptr) {
        heldAccesses_->hold();
        watchHeld_ = watch_ != nullptr;
    }
    for (std::uint8_t& status : statuses) {
        writeData(patterns_.setup);
        readStatusInto(status);
        writeData(patterns_.sample);
    }
    writeData(patterns_.idle);
    if (heldAccesses_ != nullptr) {
        const bool released = heldAccesses_->release();
        if (!released && !lost()) {
            readFailed();
        }
        tellWatchHeld(released);
    }
    if (lost()) {
        return std::nullopt;
    }
    ByteIn in;
    for (const std::uint8_t status : statuses) {
        in.value = static_cast<std::uint8_t>((in.value << 1) | ((status & kMisoBit) ? 1 : 0));
    }
    in.status = statuses.back();
    return in;
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> SpiLink::read2bytesLPTport() {
    const auto first = read1byteLPTport();
    const auto second = read1byteLPTport();
    if (!first || !second) {
        return std::nullopt;
    }
    return std::pair{first->value, second->value};
}

std::optional<std::uint8_t> SpiLink::pollStatus() {
    std::uint8_t status = 0;
    if (needsRecovery_ || !readStatusInto(status)) {
        return std::nullopt;
    }
    return status;
}

SpiLink::StatusAhead SpiLink::pollStatusAhead() {
    using Outcome = StatusAhead::Outcome;
    if (heldAccesses_ == nullptr) {
        const auto status = pollStatus();
        return status ? StatusAhead{Outcome::Status, *status} : StatusAhead{Outcome::Failed};
    }
    if (needsRecovery_ || !accessAllowed()) {
        return {Outcome::Failed};
    }
    if (statusAhead_) {
        if (!takeStatusAhead()) {
            return {Outcome::Failed};
        }
        aheadTaken_ = true;
        return {Outcome::NotYet};
    }
    if (aheadTaken_) {
        if (answerCheck_ != nullptr && !answerCheck_->settled()) {
            return {Outcome::NotYet};
        }
        aheadTaken_ = false;
        if (answerCheck_ != nullptr && !answerCheck_->nothingArrived()) {
            readFailed();
            return {Outcome::Failed};
        }
        const std::uint8_t confirmed = aheadStatus_;
        sendStatusAhead();
        return {Outcome::Status, confirmed};
    }
    sendStatusAhead();
    return lost() ? StatusAhead{Outcome::Failed} : StatusAhead{Outcome::NotYet};
}

void SpiLink::sendStatusAhead() {
    heldAccesses_->hold();
    watchHeld_ = watch_ != nullptr;
    const bool kept = readStatusInto(aheadStatus_);
    const bool sent = heldAccesses_->sendHeld();
    if (!sent && !lost()) {
        readFailed();
    }
    statusAhead_ = kept && sent;
    if (!statusAhead_) {
        tellWatchHeld(false);
    }
}

bool SpiLink::takeStatusAhead() {
    statusAhead_ = false;
    const bool taken = heldAccesses_->takeAnswers();
    if (!taken) {
        readFailed();
    }
    tellWatchHeld(taken);
    return taken;
}

std::optional<SpiLink::ByteIn> SpiLink::receiveFrameByte() {
    byteKind_ = PortWatch::ByteKind::Frame;
    const auto in = read1byteLPTport();
    if (!in) {
        return std::nullopt;
    }
    if (answerCheck_ != nullptr && ++unconfirmed_ == kConfirmEvery) {
        if (!confirmReads()) {
            --unconfirmed_;  // not given: the loop does not store it
            return std::nullopt;
        }
        unconfirmed_ = 0;
    }
    if (trace_ != nullptr) {
        frameTrace_.push_back(in->value);
    }
    return in;
}

std::uint32_t SpiLink::endFrame(bool cancelled) {
    // A byte out of turn ahead of the frame's last answer would otherwise end the frame unseen.
    if (!cancelled && unconfirmed_ != 0) {
        confirmReads();
    }
    const std::uint32_t takenBack = readsInDoubt_ ? unconfirmed_ : 0;
    unconfirmed_ = 0;
    frameTrace_.resize(frameTrace_.size() - std::min<std::size_t>(takenBack, frameTrace_.size()));
    recordFromModule(frameTrace_);
    frameTrace_.clear();
    traceFault();
    return takenBack;
}

void SpiLink::send(std::span<const std::uint8_t> bytes) {
    // Only the bytes that went out whole are traced.
    std::size_t sent = 0;
    if (!bytes.empty()) {
        byteKind_ = kindOfSend(bytes.front());
    }
    for (std::uint8_t b : bytes) {
        wrtLPTport(b);
        if (lost()) {
            break;
        }
        ++sent;
    }
    if (trace_ != nullptr && sent > 0) {
        trace_->record(protocol::Direction::ToModule, bytes.first(sent));
    }
    traceFault();
}

std::optional<std::uint8_t> SpiLink::readOne() {
    byteKind_ = PortWatch::ByteKind::Reply;
    const auto reply = read1byteLPTport();
    if (!reply || !confirmReads()) {
        traceFault();
        return std::nullopt;
    }
    recordFromModule(std::span(&reply->value, 1));
    return reply->value;
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> SpiLink::readTwo() {
    byteKind_ = PortWatch::ByteKind::Reply;
    const auto reply = read2bytesLPTport();
    if (!reply || !confirmReads()) {
        traceFault();
        return std::nullopt;
    }
    const std::uint8_t bytes[] = {reply->first, reply->second};
    recordFromModule(bytes);
    return reply;
}

bool SpiLink::confirmReads() {
    if (lost()) {
        return false;
    }
    if (answerCheck_ != nullptr && !answerCheck_->confirmAnswers()) {
        breakOff(protocol::LinkFault::Kind::StrayByte, port_.fault());
        readsInDoubt_ = true;
        return false;
    }
    return true;
}

void SpiLink::beginOperation() {
    fault_.reset();
    readsInDoubt_ = false;
    faultTold_ = false;
    faultTraced_ = false;
    if (!needsRecovery_ || stopped_) {
        return;
    }
    if (port_.start()) {
        needsRecovery_ = false;
    } else {
        // Every access of this operation is skipped; the operator hears why once.
        breakOff(protocol::LinkFault::Kind::NoPort, port_.fault());
    }
}

std::optional<protocol::LinkFault> SpiLink::takeFault() {
    // The session takes the fault when it closes an operation.
    if (watch_ != nullptr) {
        watch_->operationEnded();
    }
    if (!fault_ || faultTold_) {
        return std::nullopt;
    }
    faultTold_ = true;
    return fault_;
}

void SpiLink::traceFault() {
    if (trace_ != nullptr && fault_ && !faultTraced_) {
        faultTraced_ = true;
        trace_->recordFault(fault_->systemText());
    }
}

std::string SpiLink::portName() const {
    return portBase_ == kLpt1Base ? "LPT1" : "LPT2";
}

void SpiLink::recordFromModule(std::span<const std::uint8_t> bytes) {
    if (trace_ != nullptr && !bytes.empty()) {
        trace_->record(protocol::Direction::FromModule, bytes);
    }
}

void SpiLink::writeData(std::uint8_t value) {
    aheadTaken_ = false;
    if ((statusAhead_ && !takeStatusAhead()) || !accessAllowed()) {
        return;
    }
    if (!port_.writeByte(portBase_, value)) {
        breakOff(protocol::LinkFault::Kind::Lost, port_.fault());
    } else if (watchHeld_) {
        heldForWatch_.push_back({portBase_, value, nullptr});
    } else if (watch_ != nullptr) {
        watch_->wrote(portBase_, value);
    }
}

bool SpiLink::readStatusInto(std::uint8_t& value) {
    aheadTaken_ = false;
    if ((statusAhead_ && !takeStatusAhead()) || !accessAllowed()) {
        return false;
    }
    const auto address = static_cast<std::uint16_t>(portBase_ + kStatusOffset);
    if (!port_.readByte(address, value)) {
        readFailed();
        return false;
    }
    if (watchHeld_) {
        heldForWatch_.push_back({address, 0, &value});
    } else if (watch_ != nullptr) {
        watch_->read(address, value);
    }
    return true;
}

void SpiLink::readFailed() {
    readsInDoubt_ = answerCheck_ != nullptr && answerCheck_->answersInDoubt();
    breakOff(readsInDoubt_ ? protocol::LinkFault::Kind::StrayByte : protocol::LinkFault::Kind::Lost,
             port_.fault());
}

void SpiLink::tellWatchHeld(bool released) {
    // The watch hears the held accesses in their order once the reads have their answers; when
    // the answers did not come, the fault it hears says so.
    if (released) {
        for (const HeldAccess& access : heldForWatch_) {
            if (access.readInto != nullptr) {
                watch_->read(access.address, *access.readInto);
            } else {
                watch_->wrote(access.address, access.written);
            }
        }
    }
    heldForWatch_.clear();
    watchHeld_ = false;
}

void SpiLink::breakOff(protocol::LinkFault::Kind kind, const std::string& reason) {
    fault_ = protocol::LinkFault{kind, portName(), reason};
    needsRecovery_ = true;
    if (watch_ != nullptr) {
        watch_->faulted(fault_->systemText());
    }
}

}  // namespace lpt
