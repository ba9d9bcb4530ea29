// Reading RMAP header fields at the console: defaults, fixing, keywords, values.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "common/console_input.h"
#include "interactive/rmap_field_entry.h"
#include "support/capture_stdout.h"

namespace {

constexpr const char *kNoDefault =
    "No default value is currently specified for this field, so a value must be entered\n";
constexpr const char *kInvalidValue = "The value entered is invalid\n";

class FieldEntry : public testing::Test {
protected:
    void SetUp() override { default_base = 16; }
    void TearDown() override { default_base = 16; }
};

struct FlagCase {
    const char *typed;        // lines typed, each ended by a line feed
    bool has_default;         // a value was accepted before
    unsigned char current;    // the default, when there is one
    unsigned char expected;   // the flag accepted
    bool expect_fixed;
    const char *expected_out; // all that is printed
};

TEST_F(FieldEntry, FlagAnswers)
{
    const FlagCase cases[] = {
        {"t\n", false, 0, 1, false, "Verify Data: "},
        {"F\n", false, 0, 0, false, "Verify Data: "},
        {"Ye\n", false, 0, 1, false, "Verify Data: "},
        {"yES\n", false, 0, 1, false, "Verify Data: "},
        {"n\n", false, 0, 0, false, "Verify Data: "},
        {"no f\n", false, 1, 0, false, "Verify Data: "},
        {"true f\n", false, 0, 1, false, "Verify Data: "},
        {"yes fx\n", false, 0, 1, true, "Verify Data: "},
        {"fX\n", false, 1, 0, true, "Verify Data: "},
        // The default is offered and taken by an empty line, fixed by a lone x.
        {"\n", true, 1, 1, false, "Verify Data (TRUE): "},
        {"x\n", true, 0, 0, true, "Verify Data (FALSE): "},
        {"X\n", true, 1, 1, true, "Verify Data (TRUE): "},
        // Refused answers ask again.
        {"maybe\nyes\n", false, 0, 1, false, "Verify Data: Invalid field value entered, please try again.\nVerify Data: "},
        {"yes x\nn\n", false, 0, 0, false, "Verify Data: Invalid field value entered, please try again.\nVerify Data: "},
        {"ye x\nt\n", false, 0, 1, false, "Verify Data: Invalid field value entered, please try again.\nVerify Data: "},
        {"yess\ny\n", false, 0, 1, false, "Verify Data: Invalid field value entered, please try again.\nVerify Data: "},
        {" yes\ny\n", false, 0, 1, false, "Verify Data: Invalid field value entered, please try again.\nVerify Data: "},
        {"on\nfalse\n", false, 1, 0, false, "Verify Data: Invalid field value entered, please try again.\nVerify Data: "},
        {"1\nTRUE\n", true, 0, 1, false, "Verify Data (FALSE): Invalid field value entered, please try again.\nVerify Data (FALSE): "},
        // No default yet: an empty line or a lone x asks again and fixes nothing.
        {"\nx\nyes\n", false, 0, 1, false,
         "Verify Data: No default value is currently specified for this field, so a value must be entered\n"
         "Verify Data: No default value is currently specified for this field, so a value must be entered\n"
         "Verify Data: "},
    };
    for (const FlagCase &c : cases) {
        SCOPED_TRACE(c.typed);
        FeedStdin(c.typed);
        unsigned char set = c.has_default ? 1 : 0;
        unsigned char fixed = 0;
        CaptureStdout capture;
        const std::optional<unsigned char> flag = IR_ReadTrueOrFalse("Verify Data", c.current, set, fixed);
        EXPECT_EQ(capture.Take(), c.expected_out);
        ASSERT_TRUE(flag.has_value());
        EXPECT_EQ(*flag, c.expected);
        EXPECT_EQ(set, 1);
        EXPECT_EQ(fixed, c.expect_fixed ? 1 : 0);
        EXPECT_EQ(ReadFromKeyboard(), std::nullopt) << "every typed line is used";
    }
}

TEST_F(FieldEntry, FixedFlagIsShownAndNotAsked)
{
    FeedStdin("no\n");
    unsigned char set = 1;
    unsigned char fixed = 1;
    CaptureStdout capture;
    EXPECT_EQ(IR_ReadTrueOrFalse("Acknowledge", 1, set, fixed), 1);
    EXPECT_EQ(capture.Take(), "Acknowledge (FIXED): TRUE\n");
    EXPECT_EQ(ReadFromKeyboard(), std::string("no"));
}

struct ValueCase {
    int base;
    const char *typed;
    bool has_default;
    std::uint32_t current;
    std::uint32_t expected;
    bool expect_fixed;
    const char *expected_out;
};

TEST_F(FieldEntry, ValueAnswers)
{
    const ValueCase cases[] = {
        {16, "20\n", false, 0, 0x20, false, "Destination Key: "},
        {16, "20x\n", false, 0, 0x20, true, "Destination Key: "},
        // Full width, not cut to a byte.
        {16, "  0x12345678  \n", false, 0, 0x12345678, false, "Destination Key: "},
        {16, "n256\n", false, 0, 256, false, "Destination Key: "},
        {10, "4294967295\n", false, 0, 0xffffffff, false, "Destination Key: "},
        {16, "\"A\n", false, 0, 0x41, false, "Destination Key: "},
        // Defaults in the current base, however wide.
        {16, "\n", true, 0xffff0000, 0xffff0000, false, "Destination Key (ffff0000): "},
        {10, "\n", true, 32, 32, false, "Destination Key (32): "},
        {2, "x\n", true, 5, 5, true, "Destination Key (101): "},
        {8, "17\n", true, 8, 15, false, "Destination Key (10): "},
        // Refused answers ask again.
        {16, "1 2\n7\n", false, 0, 7, false, "Destination Key: The value entered is invalid\nDestination Key: "},
        {16, "zz\n7\n", false, 0, 7, false, "Destination Key: The value entered is invalid\nDestination Key: "},
        {2, "2\n1\n", true, 0, 1, false, "Destination Key (0): The value entered is invalid\nDestination Key (0): "},
        {16, "\n3\n", false, 0, 3, false,
         "Destination Key: No default value is currently specified for this field, so a value must be entered\n"
         "Destination Key: "},
    };
    for (const ValueCase &c : cases) {
        SCOPED_TRACE(c.typed);
        default_base = c.base;
        FeedStdin(c.typed);
        unsigned char set = c.has_default ? 1 : 0;
        unsigned char fixed = 0;
        CaptureStdout capture;
        const std::optional<std::uint32_t> value = IR_ReadDataValue("Destination Key", c.current, set, fixed);
        EXPECT_EQ(capture.Take(), c.expected_out);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, c.expected);
        EXPECT_EQ(set, 1);
        EXPECT_EQ(fixed, c.expect_fixed ? 1 : 0);
        EXPECT_EQ(ReadFromKeyboard(), std::nullopt);
    }
}

TEST_F(FieldEntry, FixedValueIsShownInTheCurrentBaseAndNotAsked)
{
    FeedStdin("99\n");
    unsigned char set = 1;
    unsigned char fixed = 1;
    {
        CaptureStdout capture;
        EXPECT_EQ(IR_ReadDataValue("Destination Key", 0x20, set, fixed), 0x20u);
        EXPECT_EQ(capture.Take(), "Destination Key (FIXED): 20\n");
    }
    default_base = 10;
    {
        CaptureStdout capture;
        EXPECT_EQ(IR_ReadDataValue("Destination Key", 0x20, set, fixed), 0x20u);
        EXPECT_EQ(capture.Take(), "Destination Key (FIXED): 32\n");
    }
    EXPECT_EQ(ReadFromKeyboard(), std::string("99"));
}

TEST_F(FieldEntry, BytesReplacedByANewEntryAndKeptByAnEmptyLine)
{
    std::vector<std::uint8_t> bytes{0xfe, 0x01};
    unsigned char fixed = 0;
    FeedStdin("\n20 30 \"a\"\n\n");
    {
        CaptureStdout capture;
        ASSERT_TRUE(IR_ReadData("Source Address", bytes, fixed));
        EXPECT_EQ(capture.Take(), "Source Address (fe 1): ");
        EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xfe, 0x01}));
    }
    {
        CaptureStdout capture;
        ASSERT_TRUE(IR_ReadData("Source Address", bytes, fixed));
        EXPECT_EQ(capture.Take(), "Source Address (fe 1): ");
        EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x20, 0x30, 0x61}));
    }
    default_base = 2;
    {
        CaptureStdout capture;
        ASSERT_TRUE(IR_ReadData("Source Address", bytes, fixed));
        EXPECT_EQ(capture.Take(), "Source Address (100000 110000 1100001): ");
        EXPECT_EQ(bytes.size(), 3u);
    }
    EXPECT_EQ(fixed, 0);
}

TEST_F(FieldEntry, BytesFixedByTrailingXAndThenShown)
{
    std::vector<std::uint8_t> bytes;
    unsigned char fixed = 0;
    FeedStdin("\nzz\n1 2 0xffx\nnext\n");
    {
        CaptureStdout capture;
        ASSERT_TRUE(IR_ReadData("Data", bytes, fixed));
        EXPECT_EQ(capture.Take(), std::string("Data: ") + kNoDefault + "Data: " + kInvalidValue + "Data: ");
    }
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x01, 0x02, 0xff}));
    EXPECT_EQ(fixed, 1);
    {
        CaptureStdout capture;
        ASSERT_TRUE(IR_ReadData("Data", bytes, fixed));
        EXPECT_EQ(capture.Take(), "Data (FIXED): 1 2 ff \n");
    }
    EXPECT_EQ(ReadFromKeyboard(), std::string("next"));
}

TEST_F(FieldEntry, EndOfInputEndsEveryKindOfPrompt)
{
    unsigned char set = 0;
    unsigned char fixed = 0;
    std::vector<std::uint8_t> bytes{1};

    FeedStdin("");
    EXPECT_EQ(IR_ReadTrueOrFalse("Acknowledge", 0, set, fixed), std::nullopt);
    FeedStdin("maybe\n");
    EXPECT_EQ(IR_ReadTrueOrFalse("Acknowledge", 0, set, fixed), std::nullopt);
    FeedStdin("\n\n");
    EXPECT_EQ(IR_ReadDataValue("Mask", 0, set, fixed), std::nullopt);
    EXPECT_EQ(set, 0) << "nothing was accepted";
    FeedStdin("zz");
    EXPECT_EQ(IR_ReadData("Data", bytes, fixed), false);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>{1});
    EXPECT_EQ(fixed, 0);
}

TEST_F(FieldEntry, LastLineWithoutLineFeedIsAnAnswer)
{
    unsigned char set = 0;
    unsigned char fixed = 0;
    FeedStdin("5x");
    EXPECT_EQ(IR_ReadDataValue("Mask", 0, set, fixed), 5u);
    EXPECT_EQ(fixed, 1);
}

} // namespace
