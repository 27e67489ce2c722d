// Option values as the bytes given, by the rules of Qt's parser: either form, the last one given,
// and nothing after "--".
#include <gmock/gmock.h>

#include "startup/option_bytes.h"

namespace {

using Values = std::map<std::string, std::string>;

TEST(OptionBytes, EachFormUpToTheEndOfOptions) {
    const struct {
        std::vector<std::string> arguments;  // the program's name first
        Values values;
    } cases[] = {
        {{"p", "--trace=a\xff", "--com1", "/dev/b"}, {{"trace", "a\xff"}, {"com1", "/dev/b"}}},
        {{"p", "--trace=a", "--trace", "b"}, {{"trace", "b"}}},
        // A value that looks like an option is still the value.
        {{"p", "--trace", "--com1", "--com10=x"}, {{"trace", "--com1"}}},
        {{"p", "--trace=", "--", "--com1=x"}, {{"trace", ""}}},
        {{"p", "--traced=x", "--com1"}, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(startup::optionValueBytes(c.arguments, {"trace", "com1"}), c.values)
            << ::testing::PrintToString(c.arguments);
    }
}

}  // namespace
