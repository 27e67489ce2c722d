#include "protocol/text_number.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

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
    bool negative = false;
    if (in.peek() == '+' || in.peek() == '-') {
        negative = in.peek() == '-';
        in.advance();
    }
    // The digits without sign; the decimal mark is always a point, whatever the locale.
    std::string number;
    const int integerDigits = takeDigits(in, number);
    // Where the first digit that is not 0 stands: its power of ten, before the exponent.
    long magnitude = 0;
    if (const auto first = number.find_first_not_of('0'); first != std::string::npos) {
        magnitude = static_cast<long>(number.size() - first);
    }
    int fractionDigits = 0;
    if (in.peek() == '.') {
        number += '.';
        in.advance();
        const std::size_t fractionStart = number.size();
        fractionDigits = takeDigits(in, number);
        if (magnitude == 0) {
            const auto first = number.find_first_not_of('0', fractionStart);
            magnitude = first == std::string::npos ? 0 : -static_cast<long>(first - fractionStart);
        }
    }
    if (integerDigits + fractionDigits == 0) {
        return 0.0;
    }
    if (in.peek() == 'e' || in.peek() == 'E') {
        std::string exponent = "e";
        in.advance();
        if (in.peek() == '+' || in.peek() == '-') {
            exponent += in.peek();
            in.advance();
        }
        const std::size_t exponentStart = exponent.size();
        if (takeDigits(in, exponent) > 0) {
            number += exponent;
            // Enough of the exponent to tell a number too large from one too small.
            const std::string_view digits = std::string_view(exponent).substr(exponentStart);
            const long shift = digits.size() > 6 ? 1'000'000 : std::stol(std::string(digits));
            magnitude += exponent[1] == '-' ? -shift : shift;
        }
    }
    // std::from_chars reads the C locale's format under every locale (strtod would take the
    // locale's decimal mark). A number beyond a double is held at the limit, one too small is 0.
    double value = 0.0;
    const std::from_chars_result read =
        std::from_chars(number.data(), number.data() + number.size(), value);
    if (read.ec == std::errc::result_out_of_range) {
        value = magnitude > 0 ? kIntegerLimit : 0.0;
    }
    return negative ? -value : value;
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
