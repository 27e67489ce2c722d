#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "protocol/text_number.h"

using protocol::integerOfText;
using protocol::numberOfText;
using protocol::roundHalfEven;

TEST(NumberOfText, LeadingNumberWithBlanksIgnored) {
    EXPECT_DOUBLE_EQ(numberOfText("100"), 100);
    EXPECT_DOUBLE_EQ(numberOfText("  -50"), -50);
    EXPECT_DOUBLE_EQ(numberOfText("47.5"), 47.5);
    EXPECT_DOUBLE_EQ(numberOfText("1 0 0 px"), 100);  // blanks anywhere are skipped
    EXPECT_DOUBLE_EQ(numberOfText("12abc"), 12);
    EXPECT_DOUBLE_EQ(numberOfText(".5"), 0.5);
    EXPECT_DOUBLE_EQ(numberOfText("1e3"), 1000);
    EXPECT_DOUBLE_EQ(numberOfText("2E"), 2);  // an exponent without digits is no exponent
    EXPECT_DOUBLE_EQ(numberOfText("+7"), 7);
}

TEST(NumberOfText, NoLeadingNumberIsZero) {
    EXPECT_DOUBLE_EQ(numberOfText(""), 0);
    EXPECT_DOUBLE_EQ(numberOfText("abc"), 0);
    EXPECT_DOUBLE_EQ(numberOfText("-"), 0);
    EXPECT_DOUBLE_EQ(numberOfText("."), 0);
    EXPECT_DOUBLE_EQ(numberOfText("x100"), 0);
}

TEST(NumberOfText, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(-3.5), -4);
    EXPECT_EQ(roundHalfEven(47.5), 48);
    EXPECT_EQ(roundHalfEven(2.51), 3);
    EXPECT_EQ(integerOfText("5.4999"), 5);
}

TEST(NumberOfText, HugeNumbersStayUsable) {
    EXPECT_EQ(integerOfText("1e300"), 1'000'000'000);
    EXPECT_EQ(integerOfText("-1e999"), -1'000'000'000);
    EXPECT_EQ(integerOfText("99999999999999999999"), 1'000'000'000);
    EXPECT_EQ(integerOfText("0.0001e400"), 1'000'000'000);
    EXPECT_DOUBLE_EQ(numberOfText("1e-999"), 0);
    EXPECT_DOUBLE_EQ(numberOfText("1000e-999"), 0);
}

// The decimal mark is a point whatever the locale: under ru_RU, whose mark is a comma, a typed
// 47.5 is still 47.5. The locale is part of the test set-up (scripts/setup.sh makes it), so its
// absence fails the test rather than letting it pass unseen.
TEST(NumberOfText, PointIsTheDecimalMarkUnderACommaLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "ru_RU.UTF-8"), nullptr)
        << "locale ru_RU.UTF-8 is missing: run scripts/setup.sh";
    const double pointed = numberOfText("47.5");
    const double exponent = numberOfText("6.35e1");
    const double comma = numberOfText("47,5");
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_DOUBLE_EQ(pointed, 47.5);
    EXPECT_DOUBLE_EQ(exponent, 63.5);
    EXPECT_DOUBLE_EQ(comma, 47);
}
