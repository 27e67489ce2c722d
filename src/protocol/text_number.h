// "The number of a text": what the windows make of a number typed into a box. The text's leading
// number counts, blanks anywhere are ignored, and a text that starts with no number is 0 — so a
// typed "100 px" is 100 and "abc" is 0, never an error.
#pragma once

#include <cstdint>
#include <string_view>

namespace protocol {

// The leading number: optional sign, digits, optional decimal point and digits, optional
// exponent (e or E, optional sign, digits). Blanks (space, tab, line breaks) are skipped wherever
// they stand. The decimal mark is the point under every locale; a comma ends the number.
double numberOfText(std::string_view text);

// The nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). Values
// beyond +-1e9 are held there first, so any typed number gives a usable integer.
std::int64_t roundHalfEven(double value);

// numberOfText, then roundHalfEven.
inline std::int64_t integerOfText(std::string_view text) {
    return roundHalfEven(numberOfText(text));
}

}  // namespace protocol
