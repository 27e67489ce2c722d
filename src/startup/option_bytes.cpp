#include "startup/option_bytes.h"

namespace startup {

OptionAt optionAt(const std::vector<std::string>& arguments, std::size_t& i, std::string_view name,
                  std::string& value) {
    const std::string& argument = arguments[i];
    const std::string option = "--" + std::string(name);
    if (argument.rfind(option + "=", 0) == 0) {
        value = argument.substr(option.size() + 1);
        return OptionAt::Value;
    }
    if (argument != option) {
        return OptionAt::Other;
    }
    if (i + 1 >= arguments.size()) {
        return OptionAt::NoValue;
    }
    value = arguments[++i];
    return OptionAt::Value;
}

std::map<std::string, std::string> optionValueBytes(const std::vector<std::string>& arguments,
                                                    const std::vector<std::string>& names) {
    std::map<std::string, std::string> values;
    for (std::size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
        for (const std::string& name : names) {
            std::string value;
            if (optionAt(arguments, i, name, value) == OptionAt::Value) {
                values[name] = value;
                break;
            }
        }
    }
    return values;
}

}  // namespace startup
