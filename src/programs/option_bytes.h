// Option values as the bytes the command line gave. Qt's parser hands values over as QString,
// which cannot carry a path that is not valid UTF-8 (such bytes become U+FFFD), so the programs
// take their paths from the arguments themselves once the parser has accepted the command line,
// by the parser's own rules: "--name=VALUE" or "--name VALUE", and nothing after "--" is an option.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace programs {

// The last value of each of `names` (without the leading "--") that `arguments` (the program's
// name first) give.
inline std::map<std::string, std::string> optionValueBytes(
    const std::vector<std::string>& arguments, const std::vector<std::string>& names) {
    std::map<std::string, std::string> values;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            break;
        }
        for (const std::string& name : names) {
            const std::string option = "--" + name;
            if (argument.rfind(option + "=", 0) == 0) {
                values[name] = argument.substr(option.size() + 1);
            } else if (argument == option && i + 1 < arguments.size()) {
                values[name] = arguments[++i];
            }
        }
    }
    return values;
}

}  // namespace programs
