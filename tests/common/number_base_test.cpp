#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "common/number_base.h"

namespace {

struct BaseWordCase {
    const char *text;
    NumberBase expected;
};

TEST(GetBase, KeywordsInEitherCase)
{
    const BaseWordCase cases[] = {
        {"2", 2},   {"i", 2},   {"I", 2},   {"0b", 2},  {"0B", 2},
        {"8", 8},   {"o", 8},   {"O", 8},   {"0o", 8},  {"0O", 8},
        {"10", 10}, {"n", 10},  {"N", 10},  {"0d", 10}, {"0D", 10},
        {"16", 16}, {"h", 16},  {"H", 16},  {"0x", 16}, {"0X", 16},
    };
    for (const BaseWordCase &c : cases) {
        EXPECT_EQ(GetBase(c.text), c.expected) << "text '" << c.text << "'";
    }
}

TEST(GetBase, EverythingElseIsNoBase)
{
    const char *rejected[] = {"",   "016", "hex", " 16", "16 ", "\t2", "0x10", "0",  "1",  "x",
                              "b",  "d",   "02",  "010", "20",  "160", "ii",   "0h", "0i", "3"};
    for (const char *text : rejected) {
        EXPECT_EQ(GetBase(text), -1) << "text '" << text << "'";
    }
    EXPECT_EQ(GetBase(std::string_view("16\0", 3)), -1);
    EXPECT_EQ(GetBase(std::string_view("h\0", 2)), -1);
}

struct NumberTextCase {
    std::uint32_t value;
    int base;
    const char *expected;
};

TEST(Itoa, DigitsWithoutPrefixPaddingOrUpperCase)
{
    const NumberTextCase cases[] = {
        {0, 2, "0"},          {0, 8, "0"},         {0, 10, "0"},       {0, 16, "0"},
        {255, 2, "11111111"}, {255, 8, "377"},     {255, 10, "255"},   {255, 16, "ff"},
        {5, 2, "101"},        {8, 8, "10"},        {10, 10, "10"},     {16, 16, "10"},
        {0xab, 16, "ab"},     {0xffff, 16, "ffff"}, {65535, 10, "65535"}, {1, 16, "1"},
        {8, 3, "22"},         {0xcafe, 16, "cafe"},
    };
    for (const NumberTextCase &c : cases) {
        char buffer[34];
        std::memset(buffer, 'Z', sizeof buffer);
        char *result = itoa(c.value, buffer, c.base);
        EXPECT_EQ(result, buffer);
        EXPECT_STREQ(buffer, c.expected) << c.value << " in base " << c.base;
    }
}

TEST(DisplayInBase, FullWidthValuesNeverShowASign)
{
    const NumberTextCase cases[] = {
        {0x80000000u, 16, "80000000"},
        {0xFFFF0000u, 16, "ffff0000"},
        {0xFFFFFFFFu, 2, "11111111111111111111111111111111"},
        {0xFFFFFFFFu, 8, "37777777777"},
        {0xFFFFFFFFu, 10, "4294967295"},
        {0x80000000u, 10, "2147483648"},
        {0x12345678u, 16, "12345678"},
        {0, 16, "0"},
    };
    for (const NumberTextCase &c : cases) {
        char buffer[34];
        std::memset(buffer, 'Z', sizeof buffer);
        char *result = DisplayInBase(c.value, c.base, buffer);
        EXPECT_EQ(result, buffer);
        EXPECT_STREQ(buffer, c.expected) << c.value << " in base " << c.base;
        EXPECT_EQ(ToBaseText(c.value, c.base), c.expected);
    }
}

TEST(Itoa, BaseOutsideTheDigitSetFallsBackToDecimal)
{
    char buffer[34];
    EXPECT_STREQ(itoa(1234, buffer, 0), "1234");
    EXPECT_STREQ(itoa(1234, buffer, 1), "1234");
    EXPECT_STREQ(itoa(1234, buffer, 17), "1234");
    EXPECT_STREQ(itoa(1234, buffer, -16), "1234");
}

} // namespace
