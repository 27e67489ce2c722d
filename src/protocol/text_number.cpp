#include "protocol/text_number.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace protocol {

namespace {

constexpr double kIntegerLimit = 1e9;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the text with the blanks taken out, one character at a time.
class BlankSkippingReader {
  public:
    explicit BlankSkippingReader(std::string_view text) : text_(text) { skipBlanks(); }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }
    void advance() {
        ++pos_;
        skipBlanks();
    }

  private:
    void skipBlanks() {
        while (!atEnd() && isBlank(text_[pos_])) {
            ++pos_;
        }
    }
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Appends a run of digits; returns how many there were.
int takeDigits(BlankSkippingReader& in, std::string& out) {
    int count = 0;
    while (isDigit(in.peek())) {
        out += in.peek();
        in.advance();
        ++count;
    }
    return count;
}

}  // namespace

double numberOfText(std::string_view text) {
    BlankSkippingReader in(text);
    std::string number;
    if (in.peek() == '+' || in.peek() == '-') {
        number += in.peek();
        in.advance();
    }
    int digits = takeDigits(in, number);
    if (in.peek() == '.') {
        number += '.';
        in.advance();
        digits += takeDigits(in, number);
    }
    if (digits == 0) {
        return 0.0;
    }
    if (in.peek() == 'e' || in.peek() == 'E') {
        std::string exponent = "e";
        in.advance();
        if (in.peek() == '+' || in.peek() == '-') {
            exponent += in.peek();
            in.advance();
        }
        if (takeDigits(in, exponent) > 0) {
            number += exponent;
        }
    }
    const double value = std::strtod(number.c_str(), nullptr);
    return std::isfinite(value) ? value : std::copysign(kIntegerLimit, value);
}

std::int64_t roundHalfEven(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double held = std::fmax(-kIntegerLimit, std::fmin(kIntegerLimit, value));
    const double below = std::floor(held);
    const double fraction = held - below;
    auto result = static_cast<std::int64_t>(below);
    if (fraction > 0.5 || (fraction == 0.5 && result % 2 != 0)) {
        ++result;
    }
    return result;
}

}  // namespace protocol
