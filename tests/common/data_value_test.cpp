#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "common/data_value.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Sets default_base for one test and puts the program's start value back.
class BaseGuard {
public:
    explicit BaseGuard(int base) { default_base = base; }
    ~BaseGuard() { default_base = 16; }
    BaseGuard(const BaseGuard &) = delete;
    BaseGuard &operator=(const BaseGuard &) = delete;
};

struct ValueCase {
    std::string text;
    int base;
    bool single;
    bool valid;
    Bytes bytes;
    std::uint32_t first;
};

constexpr bool kList = false;
constexpr bool kSingle = true;

ValueCase Ok(std::string text, int base, bool single, Bytes bytes, std::uint32_t first)
{
    return {std::move(text), base, single, true, std::move(bytes), first};
}

ValueCase Bad(std::string text, int base, bool single = kList) { return {std::move(text), base, single, false, {}, 0}; }

void Check(const std::vector<ValueCase> &cases)
{
    for (const ValueCase &c : cases) {
        BaseGuard guard(c.base);
        SCOPED_TRACE("text [" + c.text + "] base " + std::to_string(c.base) + (c.single ? " single" : " list"));
        const std::optional<DataValue> result = CreateDataFromString(c.text, c.single);
        ASSERT_EQ(result.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(result->bytes, c.bytes);
            EXPECT_EQ(result->first_value, c.first);
        }
    }
}

TEST(CreateDataFromString, NumbersInTheDefaultBase)
{
    Check({
        Ok("12 34 ff", 16, kList, {0x12, 0x34, 0xFF}, 0x12),
        Ok("FF Ab aB", 16, kList, {0xFF, 0xAB, 0xAB}, 0xFF),
        Ok("101 11 0", 2, kList, {5, 3, 0}, 5),
        Ok("377 17", 8, kList, {0xFF, 0x0F}, 0377),
        Ok("255 10", 10, kList, {0xFF, 0x0A}, 255),
        Ok("b", 16, kList, {0x0B}, 0x0B),
        Ok("0", 16, kList, {0x00}, 0),
        Ok("00", 10, kList, {0x00}, 0),
        Ok("007", 8, kList, {0x07}, 7),
        Ok("1\t2\r\n3\n", 16, kList, {1, 2, 3}, 1),
        Ok("n1000 1", 16, kList, {0xE8, 0x01}, 1000),
        Bad("19", 8),
        Bad("2", 2),
        Bad("ff", 10),
        Bad("g", 16),
        Bad("12 3g", 16),
        Bad("x", 16),
        Bad("1.5", 10),
    });
}

TEST(CreateDataFromString, PrefixesInEveryBase)
{
    for (const int base : {2, 8, 10, 16}) {
        Check({
            Ok("i101 o17 n255 h7f", base, kList, {0x05, 0x0F, 0xFF, 0x7F}, 5),
            Ok("0b101 0o17 0d255 0x7f", base, kList, {0x05, 0x0F, 0xFF, 0x7F}, 5),
            Ok("I101 O17 N255 H7F", base, kList, {0x05, 0x0F, 0xFF, 0x7F}, 5),
            Ok("0B101 0O17 0D255 0X7F", base, kList, {0x05, 0x0F, 0xFF, 0x7F}, 5),
            Ok("0x1234", base, kList, {0x34}, 0x1234),
            Ok("0b1", base, kList, {0x01}, 1),
            Bad("i2", base),
            Bad("o8", base),
            Bad("na", base),
            Bad("0b2", base),
            Bad("0x0x1", base),
            Bad("hh1", base),
            Bad("0xh1", base),
            Bad("i0b1", base),
        });
    }
    // A "0" is a digit unless b, o, d or x follows: in base 16, 0b1 is binary.
    Check({
        Ok("00b", 16, kList, {0x0B}, 0x0B),
        Ok("0b1", 16, kList, {0x01}, 1),
        Ok("0d10", 16, kList, {0x0A}, 10),
        Ok("d0", 16, kList, {0xD0}, 0xD0),
        Ok("0a", 16, kList, {0x0A}, 0x0A),
    });
}

TEST(CreateDataFromString, ValuesWrapAtThirtyTwoBits)
{
    Check({
        Ok("256", 10, kList, {0x00}, 256),
        Ok("ffffffff", 16, kList, {0xFF}, 0xFFFFFFFFu),
        Ok("100000000", 16, kList, {0x00}, 0),
        Ok("1ffffffff", 16, kList, {0xFF}, 0xFFFFFFFFu),
        Ok("123456789", 16, kList, {0x89}, 0x23456789u),
        Ok("4294967297", 10, kList, {0x01}, 1),
        Ok("4294967295", 10, kList, {0xFF}, 0xFFFFFFFFu),
        Ok("1 100000001", 16, kList, {0x01, 0x01}, 1),
    });
}

TEST(CreateDataFromString, QuotedText)
{
    Check({
        Ok("\"a b\"", 16, kList, {0x61, 0x20, 0x62}, 0x61),
        Ok("'a\tb'", 16, kList, {0x61, 0x09, 0x62}, 0x61),
        Ok("`x`", 16, kList, {0x78}, 0x78),
        Ok("\"ab'", 16, kList, {0x61, 0x62}, 0x61),    // any quote closes
        Ok("'ab\" 1", 16, kList, {0x61, 0x62, 0x01}, 0x61),
        Ok("12 'A'", 16, kList, {0x12, 0x41}, 0x12),
        Ok("\"12\"", 16, kList, {0x31, 0x32}, 0x31),   // no escapes, no numbers inside
        Ok("'\\n'", 16, kList, {0x5C, 0x6E}, 0x5C),
        Ok("'\xE9'", 16, kList, {0xE9}, 0xE9),        // high bytes are not sign-extended
        // Unclosed: what was collected stays.
        Ok("\"ab", 16, kList, {0x61, 0x62}, 0x61),
        Ok("12 \"a b ", 16, kList, {0x12, 0x61, 0x20, 0x62, 0x20}, 0x12),
        Bad("\"", 16),
        Bad("12 \"", 16),
        Bad("12 '", 16, kSingle),
        // Digits behind the closing quote are one more number.
        Ok("'ab'12", 16, kList, {0x61, 0x62, 0x12}, 0x61),
        Ok("'ab'12 3", 16, kList, {0x61, 0x62, 0x12, 0x03}, 0x61),
        Ok("'a'11", 2, kList, {0x61, 0x03}, 0x61),
        Ok("''5", 16, kList, {0x05}, 5),
        Ok("''100", 16, kList, {0x00}, 0x100),
        Bad("'a'9", 8),
        Bad("'ab'x", 16),
        Bad("'ab''", 16),
        Bad("'ab''cd'", 16),
        Bad("'ab'0x1", 16),  // no prefix behind a quote
        Bad("'ab'-", 16),
        Bad("12'3'", 16),
        Bad("1'", 16),
    });
}

TEST(CreateDataFromString, BarePrefixesAndEmptyQuotes)
{
    // Invalid at the start and at the very end; skipped between items once
    // a byte exists.
    for (const std::string empty : {"0x", "h", "I", "0b", "o", "0D", "''", "\"\"", "``", "'\""}) {
        Check({
            Bad(empty, 16),
            Bad(empty + " 12", 16),
            Bad("  " + empty + "\t12", 16),
            Ok("12 " + empty + " 34", 16, kList, {0x12, 0x34}, 0x12),
            Ok("12\t" + empty + "\n", 16, kList, {0x12}, 0x12),
            Bad("12 " + empty, 16),
            Bad("12 34 " + empty, 16),
        });
    }
}

TEST(CreateDataFromString, EmptyAndWhiteSpaceOnly)
{
    Check({
        Ok("", 16, kList, {}, 0),
        Ok("", 16, kSingle, {}, 0),
        Ok("  \t\r\n", 16, kList, {}, 0),
        Ok(" ", 10, kSingle, {}, 0),
    });
}

TEST(CreateDataFromString, SingleValueMode)
{
    Check({
        Ok("  0x1234  ", 16, kSingle, {0x34}, 0x1234),
        Ok("12 ", 16, kSingle, {0x12}, 0x12),
        Ok("12\t\r\n", 16, kSingle, {0x12}, 0x12),
        Ok("ffffffff", 16, kSingle, {0xFF}, 0xFFFFFFFFu),
        Ok("'a b'", 16, kSingle, {0x61, 0x20, 0x62}, 0x61),
        Ok("'ab'5 ", 16, kSingle, {0x61, 0x62, 0x05}, 0x61),
        Bad("12 34", 16, kSingle),
        Bad("12  34  ", 16, kSingle),
        Bad("'a' 1", 16, kSingle),
        Bad("12 0x", 16, kSingle),
        Bad("12 ''", 16, kSingle),
        Bad("12 zz", 16, kSingle),
        Bad("0x 12", 16, kSingle),
        Ok("12 34", 16, kList, {0x12, 0x34}, 0x12),
    });
}

TEST(CreateDataFromString, NoSignAndNoStrayCharacters)
{
    Check({
        Bad("1-2", 16),
        Bad("12-", 16),
        Bad("+1", 16),
        Bad("1,2", 16),
        Bad("0x-1", 16),
        Bad("1;", 16),
    });
}

TEST(CreateDataFromString, NulCharacterIsInvalidAnywhere)
{
    using namespace std::string_literals;
    Check({
        Bad("1\0"s, 16),
        Bad("\0"s, 16),
        Bad("1\0 2"s, 16),
        Bad("'a\0b'"s, 16),
        Bad("12 \0"s, 16, kSingle),
    });
}

struct BooleanCase {
    std::string text;
    bool accepted;
    unsigned char value;
};

TEST(CreateBooleanFromString, WordsAndTheirLeadingParts)
{
    using namespace std::string_literals;
    const BooleanCase cases[] = {
        {"  Y", true, 1},   {"fAlS", true, 0}, {"no", true, 0},     {"n", true, 0},   {"f", true, 0},
        {"t", true, 1},     {"TRUE", true, 1}, {"yes", true, 1},    {"\t\r\nye", true, 1},
        {"false", true, 0}, {"No", true, 0},   {"tr", true, 1},
        {"", false, 0},     {"falsee", false, 0}, {"true ", false, 0}, {"on", false, 0},
        {"   ", false, 0},  {"yess", false, 0},   {"x", false, 0},     {"1", false, 0},
        {"0", false, 0},    {"y\0"s, false, 0},   {"nope", false, 0},  {"-y", false, 0},
    };
    for (const BooleanCase &c : cases) {
        SCOPED_TRACE("text [" + c.text + "]");
        for (const unsigned char before : {0, 1, 7}) {
            unsigned char flag = before;
            EXPECT_EQ(CreateBooleanFromString(c.text, flag), c.accepted);
            EXPECT_EQ(flag, c.accepted ? c.value : before);
        }
    }
}

} // namespace
