#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/settings.h"
#include "common/match_arg.h"
#include "support/capture_stdout.h"

namespace {

TEST(MatchArg, PrefixesSeparatorsAndMinimumLength)
{
    const struct {
        const char *text;
        const char *keyword;
        char separator;
        int minimum;
        int expected;
    } cases[] = {
        {"-dev=3", "-device", '=', 2, 5},
        {"-DEVICE=", "-device", '=', 2, 8},
        {"  \t-d=3", "-device", '=', 2, 3},    // white space skipped, offset counted after it
        {"-devices=3", "-device", '=', 2, -1}, // name longer than the keyword
        {"-x=3", "-device", '=', 2, -1},
        {"-device", "-device", '=', 2, -1},    // no separator
        {"=5", "-device", '=', 2, 1},          // an empty name is a prefix of every keyword
        {"=", "-device", '=', 2, -1},          // the whole text is shorter than the minimum
        {"-h", "-help", '\0', 2, 3},
        {"", "-help", '\0', 0, 1},
        {"Data", "Da", '\0', 3, -1},           // keyword shorter than the minimum
        {"DestinationK", "DestinationKey", '\0', 12, 13},
        {"Destinatio", "DestinationKey", '\0', 12, -1},
        {"ab:cd", "abc", ':', 2, 3},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(MatchArg(c.text, c.keyword, c.separator, c.minimum), c.expected)
            << "text '" << c.text << "' keyword '" << c.keyword << "'";
    }
}

class ProcessArgumentsTest : public testing::Test {
protected:
    void SetUp() override
    {
        receive_buffer_size = 4096;
        specified_device = -1;
        timeout = -1.0;
        specified_mode = specified_input_file = specified_output_file = specified_dump_output_file = nullptr;
        strict_mode = false;
    }

    // Runs ProcessArguments on the arguments and returns what it printed.
    std::string Run(std::vector<std::string> arguments)
    {
        storage_ = std::move(arguments);
        storage_.insert(storage_.begin(), "spacewire_zark_software");
        std::vector<char *> argv;
        for (auto &a : storage_) {
            argv.push_back(a.data());
        }
        CaptureStdout capture;
        ProcessArguments(static_cast<int>(argv.size()), argv.data());
        return capture.Take();
    }

    std::vector<std::string> storage_;
};

TEST_F(ProcessArgumentsTest, EveryOptionSetsItsSettingPointingIntoTheArgument)
{
    EXPECT_EQ(Run({"-d=3", "-m=rcs", "-c=list.txt", "-output=a=b", "-t=1e-3", "-r=100", "-du=dump.txt"}), "");
    EXPECT_EQ(specified_device, 3);
    EXPECT_STREQ(specified_mode, "rcs");
    EXPECT_STREQ(specified_input_file, "list.txt");
    EXPECT_EQ(specified_output_file, storage_[4].c_str() + 8); // behind the first "=" only
    EXPECT_DOUBLE_EQ(timeout, 0.001);
    EXPECT_EQ(receive_buffer_size, 100);
    EXPECT_STREQ(specified_dump_output_file, "dump.txt");
}

TEST_F(ProcessArgumentsTest, RefusedValuesLeaveSettingsUnchanged)
{
    EXPECT_EQ(Run({"-timeout=0", "-timeout=-1", "-timeout=abc", "-receive_buf=0", "-receive_buf=abc"}),
              "Error reading timeout from command line arguments\n"
              "Error reading timeout from command line arguments\n"
              "Error reading timeout from command line arguments\n"
              "Error reading buffer size from command line arguments\n"
              "Error reading buffer size from command line arguments\n");
    EXPECT_DOUBLE_EQ(timeout, -1.0);
    EXPECT_EQ(receive_buffer_size, 4096);
}

// Values with text behind the number are used as far as they read, and said so.
TEST_F(ProcessArgumentsTest, ValuesThatAreNotWhollyANumberAreNamed)
{
    EXPECT_EQ(Run({"-t=500ms", "-r=64k", "-t=2.5 ", "-r=7\t"}),
              "Warning: option -t=500ms is not a number; 500 is used.\n"
              "Warning: option -r=64k is not a number; 64 is used.\n");
    EXPECT_DOUBLE_EQ(timeout, 2.5);
    EXPECT_EQ(receive_buffer_size, 7);
}

TEST_F(ProcessArgumentsTest, DeviceNumbers)
{
    const std::string refused = "Error reading device number from command line arguments\n";
    const struct {
        std::vector<std::string> arguments;
        std::string printed;
        int device;
    } cases[] = {
        {{"-device=2x"}, "Warning: option -device=2x is not a number; 2 is used.\n", 2},
        {{"-device=abc"}, "Warning: option -device=abc is not a number; 0 is used.\n", 0},
        {{"-device=4294967299"}, "", 3}, // 2^32 + 3: the low 32 bits
        {{"-device=4294967295"}, refused, -1},
        {{"-device=-1"}, refused, -1},
        {{"-d=1", "-DEVICE=5"}, "", 5},  // the later argument wins
        {{"=7"}, "", 7},                 // an empty name matches -device, tried first
        {{"-d=out.txt"}, "Warning: option -d=out.txt is not a number; 0 is used.\n", 0}, // -d is -device
        {{"-device", "3"},
         "Invalid command line argument error: '-device'\nInvalid command line argument error: '3'\n", -1},
    };
    for (const auto &c : cases) {
        SetUp();
        EXPECT_EQ(Run(c.arguments), c.printed) << c.arguments[0];
        EXPECT_EQ(specified_device, c.device) << c.arguments[0];
        EXPECT_EQ(specified_dump_output_file, nullptr);
    }
}

} // namespace
