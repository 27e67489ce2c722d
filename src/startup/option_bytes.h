// Option values as the bytes the command line gave. Qt's parser hands values over as QString,
// which cannot carry a path that is not valid UTF-8 (such bytes become U+FFFD), so the programs
// take their paths from the arguments themselves, by the parser's own rules: "--name=VALUE" or
// "--name VALUE". camctl, which has no Qt parser, reads the values of its long options the same
// way.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace startup {

// What arguments[i] is to the option `name` (given without the leading "--").
enum class OptionAt {
    Other,    // another argument; nothing is changed
    Value,    // "--name=VALUE", or "--name" with VALUE the next argument, where `i` then stands
    NoValue,  // "--name" as the last argument
};
OptionAt optionAt(const std::vector<std::string>& arguments, std::size_t& i, std::string_view name,
                  std::string& value);

// The last value of each of `names` that `arguments` (the program's name first) give, for a
// command line the parser has accepted: nothing after "--" is an option.
std::map<std::string, std::string> optionValueBytes(const std::vector<std::string>& arguments,
                                                    const std::vector<std::string>& names);

}  // namespace startup
