// Reading RMAP header fields at the console: flag words, values, defaults and
// the fixing x, at the boundaries the whole-mode goldens do not reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/settings.h"
#include "common/console_input.h"
#include "interactive/rmap_field_entry.h"
#include "support/capture_stdout.h"

namespace {

const std::string kInvalidFlag = "Invalid field value entered, please try again.\n";
const std::string kNoDefault = "No default value is currently specified for this field, so a value must be entered\n";

struct EntryCase {
    int base;
    const char *typed;     // lines typed
    int set;               // a default exists
    int fixed;             // the field is fixed already
    std::uint32_t current; // the default
    std::uint32_t expected;
    int expect_fixed;
    std::string printed;
};

// Runs one entry; every line typed must be used.
template <typename Read>
void Check(const EntryCase &c, Read read)
{
    SCOPED_TRACE(c.typed);
    default_base = c.base;
    FeedStdin(c.typed);
    unsigned char set = static_cast<unsigned char>(c.set);
    unsigned char fixed = static_cast<unsigned char>(c.fixed);
    CaptureStdout capture;
    const auto value = read(c.current, set, fixed);
    EXPECT_EQ(capture.Take(), c.printed);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, c.expected);
    EXPECT_EQ(set, 1);
    EXPECT_EQ(fixed, c.expect_fixed);
    EXPECT_EQ(ReadFromKeyboard(), std::nullopt);
    default_base = 16;
}

TEST(FieldEntry, FlagAnswers)
{
    const std::string p = "Verify Data: ";
    const EntryCase cases[] = {
        {16, "yES\n", 0, 0, 0, 1, 0, p},
        {16, "F\n", 0, 0, 1, 0, 0, p},
        {16, "no f\n", 0, 0, 1, 0, 0, p},
        {16, "true fX\n", 0, 0, 0, 1, 1, p},
        {16, "\n", 1, 0, 1, 1, 0, "Verify Data (TRUE): "},
        {16, "x\n", 1, 0, 0, 0, 1, "Verify Data (FALSE): "},
        {16, "", 1, 1, 1, 1, 1, "Verify Data (FIXED): TRUE\n"},
        // Not a leading part of a word: asked again.
        {16, "yess\n yes\non\n1\nn\n", 0, 0, 0, 0, 0,
         p + kInvalidFlag + p + kInvalidFlag + p + kInvalidFlag + p + kInvalidFlag + p},
        // No default: a lone x asks again and fixes nothing.
        {16, "x\nyes\n", 0, 0, 0, 1, 0, p + kNoDefault + p},
    };
    for (const EntryCase &c : cases) {
        Check(c, [](std::uint32_t current, unsigned char &set, unsigned char &fixed) {
            return IR_ReadTrueOrFalse("Verify Data", static_cast<unsigned char>(current), set, fixed);
        });
    }
}

TEST(FieldEntry, ValueAnswers)
{
    const std::string p = "Destination Key: ";
    const std::string invalid = "The value entered is invalid\n";
    const EntryCase cases[] = {
        // Full width, not cut to a byte.
        {16, "  0x12345678  \n", 0, 0, 0, 0x12345678, 0, p},
        {10, "4294967295x\n", 0, 0, 0, 0xffffffff, 1, p},
        {16, "\n", 1, 0, 0xffff0000, 0xffff0000, 0, "Destination Key (ffff0000): "},
        {2, "x\n", 1, 0, 5, 5, 1, "Destination Key (101): "},
        {10, "", 1, 1, 0x20, 0x20, 1, "Destination Key (FIXED): 32\n"},
        {16, "1 2\nzz\n7\n", 0, 0, 0, 7, 0, p + invalid + p + invalid + p},
    };
    for (const EntryCase &c : cases) {
        Check(c, [](std::uint32_t current, unsigned char &set, unsigned char &fixed) {
            return IR_ReadDataValue("Destination Key", current, set, fixed);
        });
    }
}

} // namespace
