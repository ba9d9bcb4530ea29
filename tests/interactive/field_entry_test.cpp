// Reading RMAP header fields at the console: flag words, values, defaults and
// the fixing x, at the boundaries the whole-mode goldens do not reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "app/settings.h"
#include "common/console_input.h"
#include "device/vantor_api.h"
#include "interactive/rmap_field_entry.h"
#include "interactive/rmap_transaction.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

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

// Runs one entry into a field holding current; every line typed must be used.
template <typename T, typename Read>
void Check(const EntryCase &c, Read read)
{
    SCOPED_TRACE(c.typed);
    default_base = c.base;
    FeedStdin(c.typed);
    RmapField<T> field{static_cast<T>(c.current), c.set != 0, c.fixed != 0};
    CaptureStdout capture;
    const bool answered = read(field);
    EXPECT_EQ(capture.Take(), c.printed);
    ASSERT_TRUE(answered);
    EXPECT_EQ(field.value, static_cast<T>(c.expected));
    EXPECT_TRUE(field.set);
    EXPECT_EQ(field.fixed, c.expect_fixed != 0);
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
        Check<unsigned char>(c, [](RmapFlag &field) { return IR_ReadTrueOrFalse("Verify Data", field); });
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
        Check<std::uint32_t>(c, [](RmapValue &field) { return IR_ReadDataValue("Destination Key", {8, 8}, field); });
    }
}

// Every field at the width its packet has, as the commands ask it: beyond it
// a warning (the packet takes the low bits, all 32 of a data length, which
// then cannot be built), or with -strict an error and the question again,
// which the largest value that fits answers quietly.
TEST(FieldEntry, FieldsBeyondTheirWidth)
{
    struct Width {
        const char *beyond;
        const char *largest;
        const char *doubt;
        const char *used;
    };
    const std::map<std::string, Width> widths{
        {"Destination Key", {"100", "ff", "100 does not fit in 8 bits", "0"}},
        {"Source Address", {"fe 100", "fe ff", "100 does not fit in 8 bits", "0"}},
        {"Transaction Identifier", {"10000", "ffff", "10000 does not fit in 16 bits", "0"}},
        {"Extended Read/Write Address", {"100", "ff", "100 does not fit in 8 bits", "0"}},
        {"Read/Write Address", {"100000000", "ffffffff", "100000000 does not fit in 32 bits", "0"}},
        {"Data length", {"1000000", "ffffff", "1000000 does not fit in 24 bits", "1000000"}},
        {"Mask", {"100000000", "ffffffff", "100000000 does not fit in 32 bits", "0"}},
        {"Header CRC", {"100", "ff", "100 does not fit in 8 bits", "0"}},
        {"Data CRC", {"100", "ff", "100 does not fit in 8 bits", "0"}},
        {"Data and Mask CRC", {"100", "ff", "100 does not fit in 8 bits", "0"}},
    };
    // Each command's questions in turn; those in widths are answered from there.
    const std::pair<int, std::vector<std::string>> commands[] = {
        {RMAP_COMMAND_READ,
         {"fe", "y", "Destination Key", "Source Address", "Transaction Identifier", "Extended Read/Write Address",
          "Read/Write Address", "Data length", "Header CRC"}},
        {RMAP_COMMAND_WRITE,
         {"fe", "y", "y", "y", "Destination Key", "Source Address", "Transaction Identifier",
          "Extended Read/Write Address", "Read/Write Address", "1 2", "Header CRC", "Data CRC"}},
        {RMAP_COMMAND_READ_MODIFY_WRITE,
         {"fe", "Destination Key", "Source Address", "Transaction Identifier", "Extended Read/Write Address",
          "Read/Write Address", "1 2", "Mask", "Header CRC", "Data and Mask CRC"}},
    };
    DeviceHandle device = nullptr;
    ASSERT_TRUE(vantor_sim::ApplySettings("far_end=silent"));
    ASSERT_NE(Vantor_Open(&device, 0), 0);
    Vantor_SetTimeout(device, 0.01);
    for (const bool strict : {false, true}) {
        for (const auto &[command, answers] : commands) {
            SCOPED_TRACE(std::to_string(command) + (strict ? " strict" : ""));
            std::string typed;
            std::vector<std::string> expected;
            for (const std::string &answer : answers) {
                const auto width = widths.find(answer);
                if (width == widths.end()) {
                    typed += answer + "\n";
                    continue;
                }
                const Width &w = width->second;
                typed += std::string(w.beyond) + "\n" + (strict ? std::string(w.largest) + "\n" : "");
                expected.push_back(strict ? "Error: " + answer + ": " + w.doubt + "; please enter it again.\n"
                                          : "Warning: " + answer + ": " + w.doubt + "; " + w.used + " is used.\n");
                if (!strict && answer == "Data length") {
                    expected.push_back("Error building RMAP packet\n");
                    break;
                }
            }
            rmap_fields = RmapFieldStore{};
            strict_mode = strict;
            FeedStdin(typed);
            CaptureStdout capture;
            EXPECT_TRUE(IR_RequestCommand(command, device));
            strict_mode = false;
            const std::string out = capture.Take();
            std::size_t at = 0;
            for (const std::string &line : expected) {
                at = out.find(line, at);
                ASSERT_NE(at, std::string::npos) << line << "\n" << out;
            }
            std::size_t doubts = 0;
            for (std::size_t i = out.find("does not fit"); i != std::string::npos; i = out.find("does not fit", i + 1)) {
                ++doubts;
            }
            EXPECT_EQ(doubts, expected.size() - (out.find("Error building") != std::string::npos ? 1 : 0)) << out;
        }
    }
}

} // namespace
