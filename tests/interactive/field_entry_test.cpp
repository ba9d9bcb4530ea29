// Reading RMAP header fields at the console: flag words, defaults, the fixing
// x and each field's width, at the boundaries the whole-mode goldens do not reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
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

TEST(FieldEntry, FlagAnswers)
{
    const std::string p = "Verify Data: ";
    const struct {
        const char *typed; // every line must be used
        RmapFlag before;
        RmapFlag after;
        std::string printed;
    } cases[] = {
        {"yES\n", {0, false, false}, {1, true, false}, p},
        {"no f\n", {1, false, false}, {0, true, false}, p},
        {"true fX\n", {0, false, false}, {1, true, true}, p},
        {"\n", {1, true, false}, {1, true, false}, "Verify Data (TRUE): "},
        {"x\n", {0, true, false}, {0, true, true}, "Verify Data (FALSE): "},
        // Not a leading part of a word: asked again.
        {"yess\n yes\non\n1\nn\n", {0, false, false}, {0, true, false},
         p + kInvalidFlag + p + kInvalidFlag + p + kInvalidFlag + p + kInvalidFlag + p},
        // No default: a lone x asks again and fixes nothing.
        {"x\nyes\n", {0, false, false}, {1, true, false}, p + kNoDefault + p},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        FeedStdin(c.typed);
        RmapFlag field = c.before;
        CaptureStdout capture;
        EXPECT_TRUE(IR_ReadTrueOrFalse("Verify Data", field));
        EXPECT_EQ(capture.Take(), c.printed);
        EXPECT_EQ(std::tie(field.value, field.set, field.fixed), std::tie(c.after.value, c.after.set, c.after.fixed));
        EXPECT_EQ(ReadFromKeyboard(), std::nullopt);
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
        int bits;
        const char *used;
    };
    const std::map<std::string, Width> widths{
        {"Destination Key", {"100", "ff", 8, "0"}},
        {"Source Address", {"100", "ff", 8, "0"}},
        {"Transaction Identifier", {"10000", "ffff", 16, "0"}},
        {"Extended Read/Write Address", {"100", "ff", 8, "0"}},
        {"Read/Write Address", {"100000000", "ffffffff", 32, "0"}},
        {"Data length", {"1000000", "ffffff", 24, "1000000"}},
        {"Mask", {"100000000", "ffffffff", 32, "0"}},
        {"Header CRC", {"100", "ff", 8, "0"}},
        {"Data CRC", {"100", "ff", 8, "0"}},
        {"Data and Mask CRC", {"100", "ff", 8, "0"}},
    };
    // Each command's questions in turn; those named in widths are answered from there.
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
            std::string expected;
            for (const std::string &answer : answers) {
                const auto width = widths.find(answer);
                if (width == widths.end()) {
                    typed += answer + "\n";
                    continue;
                }
                const auto &[beyond, largest, bits, used] = width->second;
                typed += std::string(beyond) + "\n" + (strict ? std::string(largest) + "\n" : "");
                const std::string doubt =
                    answer + ": " + beyond + " does not fit in " + std::to_string(bits) + " bits";
                expected += strict ? "Error: " + doubt + "; please enter it again.\n"
                                   : "Warning: " + doubt + "; " + used + " is used.\n";
                if (!strict && answer == "Data length") {
                    expected += "Error building RMAP packet\n";
                    break;
                }
            }
            if (expected.find("Error building") == std::string::npos) {
                expected += "Error reading reply: The transfer timed out.\n";
            }
            rmap_fields = RmapFieldStore{};
            strict_mode = strict;
            FeedStdin(typed);
            CaptureStdout capture;
            EXPECT_TRUE(IR_RequestCommand(command, device));
            strict_mode = false;
            // Each warning and error, from its start to the end of its line.
            std::string doubts;
            std::istringstream out(capture.Take());
            for (std::string line; std::getline(out, line);) {
                const std::size_t doubt = std::min(line.find("Warning: "), line.find("Error"));
                if (doubt != std::string::npos) {
                    doubts += line.substr(doubt) + "\n";
                }
            }
            EXPECT_EQ(doubts, expected);
        }
    }
}

} // namespace
