// Base keywords, number text, the data-value syntax (numbers, quoted text,
// file references) and the boolean words.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "common/data_value.h"
#include "common/number_base.h"
#include "support/scratch_dir.h"

namespace {

using namespace std::string_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(GetBase, WholeKeywordsInEitherCaseOnly)
{
    const std::pair<const char *, NumberBase> cases[] = {
        {"2", 2},   {"I", 2},  {"0b", 2},  {"8", 8},     {"o", 8},    {"0O", 8},  {"10", 10},
        {"n", 10},  {"0D", 10}, {"16", 16}, {"H", 16},   {"0X", 16},  {"", -1},   {"016", -1},
        {"hex", -1}, {" 16", -1}, {"16 ", -1}, {"0", -1}, {"ii", -1}, {"0h", -1},
    };
    for (const auto &[text, base] : cases) {
        EXPECT_EQ(GetBase(text), base) << "'" << text << "'";
    }
}

TEST(Itoa, LowerCaseDigitsWithoutSignPrefixOrPadding)
{
    const struct {
        std::uint32_t value;
        int base;
        const char *text;
    } cases[] = {
        {0, 2, "0"},          {255, 2, "11111111"}, {255, 8, "377"},   {255, 10, "255"},
        {0xcafe, 16, "cafe"}, {0x80000000u, 16, "80000000"},          {0xFFFFFFFFu, 10, "4294967295"},
        {0xFFFFFFFFu, 2, "11111111111111111111111111111111"},
        {1234, 0, "1234"},    {1234, 17, "1234"}, // a base outside 2..16 falls back to decimal
    };
    for (const auto &c : cases) {
        char buffer[34];
        EXPECT_STREQ(itoa(c.value, buffer, c.base), c.text) << c.value << " base " << c.base;
        EXPECT_STREQ(DisplayInBase(c.value, c.base, buffer), c.text);
        EXPECT_EQ(ToBaseText(c.value, c.base), c.text);
    }
}

struct ValueCase {
    std::string text;
    int base;
    bool single;
    bool valid;
    Bytes bytes;
    std::uint32_t first;
};

constexpr bool kSingle = true;

ValueCase Ok(std::string text, Bytes bytes, std::uint32_t first, int base = 16, bool single = false)
{
    return {std::move(text), base, single, true, std::move(bytes), first};
}
ValueCase Bad(std::string text, int base = 16, bool single = false) { return {std::move(text), base, single, false, {}, 0}; }

// File references are relative to the current directory: the test runs in
// a scratch directory holding the files the cases name.
class CreateData : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(scratch_.path());
        scratch_.Write("abc", "\x01\x02\x03");
        scratch_.Write("a b", "xy");
        scratch_.Write("a'b", "q");
        scratch_.Write("empty", "");
        std::filesystem::create_directory("dir");
        ASSERT_EQ(mkfifo("pipe", 0600), 0);
    }
    void TearDown() override
    {
        std::filesystem::current_path(previous_);
        default_base = 16;
    }

    ScratchDir scratch_;
    std::filesystem::path previous_;
};

TEST_F(CreateData, EveryItemKindAndItsBoundaries)
{
    const ValueCase cases[] = {
        // Numbers in the default base.
        Ok("12 34 ff", {0x12, 0x34, 0xFF}, 0x12),
        Ok(" FF\taB\r\n0 \n", {0xFF, 0xAB, 0x00}, 0xFF),
        Ok("101 11", {5, 3}, 5, 2),
        Ok("377 007", {0xFF, 7}, 0377, 8),
        Bad("19", 8), Bad("2", 2), Bad("ff", 10), Bad("g"), Bad("12 3g"),
        Bad("1.5", 10), Bad("+1"), Bad("1-2"),
        // Prefixes, whatever the default base; a "0" is a digit unless b, o, d or x follows.
        Ok("i101 o17 n255 h7f", {0x05, 0x0F, 0xFF, 0x7F}, 5, 2),
        Ok("I101 O17 N255 H7F", {0x05, 0x0F, 0xFF, 0x7F}, 5, 10),
        Ok("0b101 0o17 0d255 0x7f", {0x05, 0x0F, 0xFF, 0x7F}, 5, 8),
        Ok("0B101 0O17 0D255 0X7F", {0x05, 0x0F, 0xFF, 0x7F}, 5, 16),
        Ok("00b 0b1 d0", {0x0B, 0x01, 0xD0}, 0x0B),
        Bad("i2"), Bad("0b2"), Bad("0x0x1"), Bad("hh1"),
        // A byte per number; the first value in full, wrapping at 32 bits.
        Ok("256", {0x00}, 256, 10),
        Ok("ffffffff", {0xFF}, 0xFFFFFFFFu),
        Ok("100000001", {0x01}, 1),
        Ok("4294967297", {0x01}, 1, 10),
        // Quoted text: any quote closes, no escapes, unclosed text keeps what it holds.
        Ok("\"a b\"", {0x61, 0x20, 0x62}, 0x61),
        Ok("'ab\" 1", {0x61, 0x62, 0x01}, 0x61),
        Ok("'\\n'", {0x5C, 0x6E}, 0x5C),
        Ok("'\xE9'", {0xE9}, 0xE9),
        Ok("12 \"a b ", {0x12, 0x61, 0x20, 0x62, 0x20}, 0x12),
        Bad("\""), Bad("12 \""),
        // Digits behind a closing quote: one more number in the default base.
        Ok("'ab'12 3", {0x61, 0x62, 0x12, 0x03}, 0x61),
        Ok("'a'11", {0x61, 0x03}, 0x61, 2),
        Ok("''100", {0x00}, 0x100),
        Bad("'a'9", 8), Bad("'ab'x"), Bad("'ab''"), Bad("12'3'"),
        // A bare prefix or empty quotes: skipped only between bytes.
        Ok("12 0x 34", {0x12, 0x34}, 0x12),
        Ok("12\th\n", {0x12}, 0x12),
        Bad("0x"), Bad("0x 12"), Bad("'' 12"), Bad("12 0x"), Bad("12 ''"),
        Ok("", {}, 0),
        Ok(" \t\r\n", {}, 0, 16, kSingle),
        Bad("1\0 2"s), Bad("'a\0b'"s),
        // Single-value mode: one item that produces data.
        Ok("  0x1234  ", {0x34}, 0x1234, 16, kSingle),
        Ok("'a b'", {0x61, 0x20, 0x62}, 0x61, 16, kSingle),
        Ok("'ab'5 ", {0x61, 0x62, 0x05}, 0x61, 16, kSingle),
        Bad("12 34", 16, kSingle), Bad("'a' 1", 16, kSingle), Bad("12 0x", 16, kSingle),
        // File references.
        Ok("-abc 5", {1, 2, 3, 5}, 1),
        Ok("12 -abc", {0x12, 1, 2, 3}, 0x12),
        Ok("-a'b", {0x71}, 0x71), // an unquoted name runs to white space
        Ok("-\"a b`7 8", {0x78, 0x79, 7, 8}, 0x78),
        Ok("-'empty'123", {0x23}, 0x123),
        Ok("-empty", {}, 0, 16, kSingle),
        Ok("-empty 12", {0x12}, 0x12, 16, kSingle),
        Bad("-abc 5", 16, kSingle), Bad("-empty 0x"),
        Bad("-"), Bad("- abc"), Bad("-''"), Bad("-'abc"), Bad("-'abc'x"), Bad("-missing"),
        // Only regular files that read to their end: no directory, device,
        // FIFO without a writer (refused, not waited on) or read error.
        Bad("-dir"), Bad("-/dev/null"), Bad("-pipe"), Bad("12 -/proc/self/mem"),
    };
    for (const ValueCase &c : cases) {
        default_base = c.base;
        SCOPED_TRACE("[" + c.text + "] base " + std::to_string(c.base) + (c.single ? " single" : ""));
        const std::optional<DataValue> result = CreateDataFromString(c.text, c.single);
        ASSERT_EQ(result.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(result->bytes, c.bytes);
            EXPECT_EQ(result->first_value, c.first);
        }
    }
}

// Each note as "<item>><used>/<width>", '|'-separated.
std::string NotesText(const std::vector<ValueNote> &notes)
{
    std::string text;
    for (const ValueNote &note : notes) {
        text += (text.empty() ? "" : "|") + note.item + ">" + note.used + "/" + std::to_string(note.width);
    }
    return text;
}

TEST_F(CreateData, NumbersBeyondTheirByteAreNotedAsTyped)
{
    const struct {
        const char *text;
        int base;
        std::string notes;
    } cases[] = {
        {"11111111 100000000 i100000001", 2, "100000000>0/8|i100000001>i1/8"},
        {"377 400 0o401", 8, "400>0/8|0o401>0o1/8"},
        {"255 256 n300", 10, "256>0/8|n300>n44/8"},
        {"ff 100 0x1ab 0X1AB H0ff", 16, "100>0/8|0x1ab>0xab/8|0X1AB>0Xab/8"},
        // Beyond 32 bits the byte is still what is left of the wrapped value.
        {"4294967297 n4294967296", 10, "4294967297>1/8|n4294967296>n0/8"},
        // Digits behind a quote are a number of their own; text and file bytes are bytes.
        {"'ab'1ff -abc", 16, "1ff>ff/8"},
    };
    for (const auto &c : cases) {
        default_base = c.base;
        const std::optional<DataValue> result = CreateDataFromString(c.text, false);
        ASSERT_TRUE(result) << c.text;
        EXPECT_EQ(NotesText(result->notes), c.notes) << c.text;
    }
}

TEST_F(CreateData, FirstValueNotedAgainstItsFieldWidth)
{
    const struct {
        const char *text;
        int base;
        int width;
        int kept_bits;
        std::string notes;
    } cases[] = {
        {"ff", 16, 8, 8, ""},
        {"0x100", 16, 8, 8, "0x100>0x0/8"},
        {"n65535", 16, 16, 16, ""},
        {"10000", 16, 16, 16, "10000>0/16"},
        {"0b10000000000000001", 16, 16, 16, "0b10000000000000001>0b1/16"},
        {"ffffff", 16, 24, 32, ""},
        {"1000000", 16, 24, 32, "1000000>1000000/24"}, // kept whole
        {"100000004", 16, 24, 32, "100000004>4/24"},  // wrapped at 32 bits first
        {"4294967295", 10, 32, 32, ""},
        {"4294967296", 10, 32, 32, "4294967296>0/32"},
        {"o37777777777", 16, 32, 32, ""},
        {"o40000000001", 16, 32, 32, "o40000000001>o1/32"},
        {"7fffffff", 16, 31, 32, ""},
        {"80000000", 16, 31, 32, "80000000>80000000/31"},
        // A first byte from text or a file is no number and fits any field.
        {"'a'", 16, 8, 8, ""},
        {"-abc", 16, 8, 8, ""},
    };
    for (const auto &c : cases) {
        default_base = c.base;
        const std::optional<DataValue> result = CreateDataFromString(c.text, true);
        ASSERT_TRUE(result) << c.text;
        EXPECT_TRUE(result->notes.empty()) << c.text; // the byte of a single value is nobody's
        EXPECT_EQ(NotesText(FirstValueNotes(*result, c.width, c.kept_bits)), c.notes) << c.text;
    }
}

TEST(CreateBooleanFromString, LeadingPartsOfTheFourWords)
{
    const std::pair<std::string, int> cases[] = {
        {"  Y", 1},  {"fAlS", 0}, {"n", 0},     {"t", 1},     {"yes", 1}, {"\t\r\nNo", 0},
        {"", -1},    {"   ", -1}, {"falsee", -1}, {"true ", -1}, {"on", -1}, {"y\0"s, -1},
    };
    for (const auto &[text, expected] : cases) {
        unsigned char flag = 7;
        EXPECT_EQ(CreateBooleanFromString(text, flag), expected >= 0) << "[" << text << "]";
        EXPECT_EQ(flag, expected >= 0 ? expected : 7) << "[" << text << "]";
    }
}

} // namespace
