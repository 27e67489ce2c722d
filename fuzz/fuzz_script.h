// What the fuzz targets share: a check that aborts (libFuzzer keeps the input that broke it), and
// the reading of an input as a script of steps, so one input is a whole session with the parser:
// bytes sent in chunks of any size, the other side taking what it was sent, time passing, the
// line changing speed or the other side leaving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

namespace fuzz {

// A step is two bytes, an action (its low two bits) and an argument; a Send step then carries
// `argument` bytes more (fewer at the end of the input).
enum class Action { Send, Take, Wait, Other };

struct Step {
    Action action;
    std::uint8_t argument;
    std::span<const std::uint8_t> payload;  // Send only
};

class Script {
  public:
    Script(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

    bool next(Step& step) {
        if (rest_.size() < 2) {
            return false;
        }
        step.action = static_cast<Action>(rest_[0] & 3);
        step.argument = rest_[1];
        rest_ = rest_.subspan(2);
        const std::size_t length =
            step.action == Action::Send ? std::min<std::size_t>(step.argument, rest_.size()) : 0;
        step.payload = rest_.first(length);
        rest_ = rest_.subspan(length);
        return true;
    }

  private:
    std::span<const std::uint8_t> rest_;
};

}  // namespace fuzz
