#include <gtest/gtest.h>

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
}
