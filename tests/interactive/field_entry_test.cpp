// Reading RMAP header fields at the console: flag words, values, defaults and
// the fixing x, at the boundaries the whole-mode goldens do not reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

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
        // Kept in full width; the packet takes the low byte, as the warning says.
        {16, "  0x12345678  \n", 0, 0, 0, 0x12345678, 0,
         p + "Warning: Destination Key: 0x12345678 does not fit in 8 bits; 0x78 is used.\n"},
        {10, "4294967295x\n", 0, 0, 0, 0xffffffff, 1,
         p + "Warning: Destination Key: 4294967295 does not fit in 8 bits; 255 is used.\n"},
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

// Each value field at the width its packet carries: beyond it a warning, or
// with -strict an error and the question again.
TEST(FieldEntry, ValuesBeyondTheirFieldWidth)
{
    const struct {
        const char *name;
        const char *typed; // the first line is beyond the field
        const char *fits;  // the largest value that fits
        const char *doubt;
        const char *used;
    } cases[] = {
        {"Destination Key", "100", "ff", "100 does not fit in 8 bits", "0"},
        {"Transaction Identifier", "0x10000", "0xffff", "0x10000 does not fit in 16 bits", "0x0"},
        {"Extended Read/Write Address", "0x100", "0xff", "0x100 does not fit in 8 bits", "0x0"},
        {"Read/Write Address", "n4294967296", "n4294967295", "n4294967296 does not fit in 32 bits", "n0"},
        {"Data length", "1000000", "ffffff", "1000000 does not fit in 24 bits", "1000000"},
        {"Mask", "100000000", "ffffffff", "100000000 does not fit in 32 bits", "0"},
        {"Header CRC", "i100000000", "i11111111", "i100000000 does not fit in 8 bits", "i0"},
        {"Data CRC", "o400", "o377", "o400 does not fit in 8 bits", "o0"},
        {"Data and Mask CRC", "100", "ff", "100 does not fit in 8 bits", "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = std::string(c.name) + ": ";
        const auto read = [&c](std::uint32_t current, unsigned char &set, unsigned char &fixed) {
            return IR_ReadDataValue(c.name, current, set, fixed);
        };
        FeedStdin(std::string(c.fits) + "\n");
        unsigned char set = 0;
        unsigned char fixed = 0;
        CaptureStdout quiet;
        const auto largest = read(0, set, fixed);
        EXPECT_EQ(quiet.Take(), p);
        ASSERT_TRUE(largest);
        const std::uint32_t beyond = *largest == 0xffffffff ? 0 : *largest + 1;
        Check({16, (std::string(c.typed) + "\n").c_str(), 0, 0, 0, beyond, 0,
               p + "Warning: " + p + c.doubt + "; " + c.used + " is used.\n"},
              read);
        strict_mode = true;
        Check({16, (std::string(c.typed) + "x\n" + c.fits + "\n").c_str(), 0, 0, 0, *largest, 0,
               p + "Error: " + p + c.doubt + "; please enter it again.\n" + p},
              read);
        strict_mode = false;
    }
}

TEST(FieldEntry, BytesBeyondAByte)
{
    const std::string p = "Source Address: ";
    const std::string doubt = "Source Address: 100 does not fit in 8 bits";
    for (const bool strict : {false, true}) {
        strict_mode = strict;
        FeedStdin(strict ? "fe 100\nfe ff\n" : "fe 100\n");
        std::vector<std::uint8_t> bytes;
        unsigned char fixed = 0;
        CaptureStdout capture;
        EXPECT_TRUE(IR_ReadData("Source Address", bytes, fixed));
        strict_mode = false;
        EXPECT_EQ(capture.Take(), strict ? p + "Error: " + doubt + "; please enter it again.\n" + p
                                         : p + "Warning: " + doubt + "; 0 is used.\n");
        EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xfe, strict ? std::uint8_t{0xff} : std::uint8_t{0}}));
        EXPECT_EQ(ReadFromKeyboard(), std::nullopt);
    }
}

} // namespace
