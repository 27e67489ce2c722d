// What went wrong with the link under an operation, as a value: what kind of fault, which link,
// and the system's own reason. The front ends make the words for people out of it (the windows in
// Russian, camctl in English); nothing below them matches on text.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

namespace protocol {

struct LinkFault {
    enum class Kind {
        NoPort,     // the port is not open, or port access could not be had back
        Lost,       // a port access or the line failed under the operation
        Silent,     // no whole reply came within the time limit
        StrayByte,  // bytes nobody asked for came: the answers read may be out of turn
        Refused,    // the line refused a setting (a speed)
        Busy,       // another operation with the module is under way
    };

    // What a fault came of where the kind alone does not say it; each front end words it.
    enum class Cause {
        None,           // the kind says it; `reason` holds the system's words, if any
        LineHungUp,     // the serial device went away (unplugged, the far end closed)
        LineNotQuiet,   // bytes kept coming before a request could go out
        FrameNotEnded,  // the frame on the line did not end within its time limit
        ExtraBytes,     // `count` bytes more than the reply came
    };

    Kind kind = Kind::Lost;
    std::string link;    // "LPT1", "COM2 (/dev/ttyS1)"
    std::string reason;  // the system's own words; empty where the kind or cause says it all
    Cause cause = Cause::None;
    std::size_t count = 0;  // the bytes too many, for ExtraBytes

    // The link and the reason as logs and traces write them: "LPT1: connection reset",
    // "COM2 (/dev/ttyS1) is not open".
    std::string systemText() const {
        switch (cause) {
            case Cause::LineHungUp:
                return link + ": the line hung up (the device went away); system: " + reason;
            case Cause::LineNotQuiet:
                return link + ": the line did not go quiet before the request";
            case Cause::FrameNotEnded:
                return link + ": the frame on the line did not end within its time limit";
            case Cause::ExtraBytes:
                return link + ": " + std::to_string(count) +
                       " byte(s) more than the reply came: the answer is in doubt";
            case Cause::None:
                break;
        }
        if (!reason.empty()) {
            return link + ": " + reason;
        }
        switch (kind) {
            case Kind::NoPort:
                return link + " is not open";
            case Kind::Silent:
                return link + ": no reply within the time limit";
            case Kind::Busy:
                return link + ": another operation is under way";
            case Kind::Lost:
            case Kind::StrayByte:
            case Kind::Refused:
                break;
        }
        return link;
    }

    friend bool operator==(const LinkFault&, const LinkFault&) = default;
};

// A value of an operation with the module, or the fault that kept it from being had.
template <class T>
class Result {
  public:
    Result(T value) : value_(std::move(value)), ok_(true) {}  // NOLINT: a value is a result
    Result(LinkFault fault) : fault_(std::move(fault)) {}     // NOLINT: so is a fault

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const T& value() const { return value_; }
    const T& operator*() const { return value_; }
    const T* operator->() const { return &value_; }
    const LinkFault& fault() const { return fault_; }

  private:
    T value_{};
    LinkFault fault_;
    bool ok_ = false;
};

// An operation that gives nothing but may fail.
template <>
class Result<void> {
  public:
    Result() = default;
    Result(LinkFault fault) : fault_(std::move(fault)), ok_(false) {}  // NOLINT: a fault

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const LinkFault& fault() const { return fault_; }

  private:
    LinkFault fault_;
    bool ok_ = true;
};

}  // namespace protocol
