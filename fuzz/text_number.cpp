// The number of a text, as typed into a box: whatever the text, a finite number and an integer
// within +-1e9, the same with the blanks taken out, and the same for the text's sign turned.
#include <cmath>
#include <string>
#include <string_view>

#include "fuzz_script.h"
#include "protocol/text_number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double number = protocol::numberOfText(text);
    FUZZ_CHECK(std::isfinite(number));
    const std::int64_t integer = protocol::integerOfText(text);
    FUZZ_CHECK(integer >= -1'000'000'000 && integer <= 1'000'000'000);

    std::string packed;
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            packed += c;
        }
    }
    FUZZ_CHECK(protocol::numberOfText(packed) == number);
    if (!packed.empty() && packed.front() != '-' && packed.front() != '+') {
        FUZZ_CHECK(protocol::numberOfText("-" + packed) == -number);
    }
    return 0;
}
