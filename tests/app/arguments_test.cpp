#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/arguments.h"
#include "app/settings.h"
#include "common/match_arg.h"
#include "support/capture_stdout.h"

namespace {

struct MatchCase {
    const char *text;
    const char *keyword;
    char separator;
    int minimum;
    int expected;
};

TEST(MatchArg, PrefixesSeparatorsAndMinimumLength)
{
    const MatchCase cases[] = {
        {"-d=3", "-device", '=', 2, 3},
        {"-dev=3", "-device", '=', 2, 5},
        {"-Device=3", "-device", '=', 2, 8},
        {"-DEVICE=", "-device", '=', 2, 8},
        {"  \t-d=3", "-device", '=', 2, 3},      // leading white space skipped, offset counted after it
        {"-devices=3", "-device", '=', 2, -1},   // name longer than the keyword
        {"-devicex=3", "-device", '=', 2, -1},
        {"-x=3", "-device", '=', 2, -1},
        {"-device", "-device", '=', 2, -1},      // no separator
        {"=5", "-device", '=', 2, 1},            // empty name is a prefix of every keyword
        {"-=5", "-device", '=', 2, 2},
        {"=", "-device", '=', 2, -1},            // rest shorter than the minimum
        {"-", "-help", '\0', 2, -1},
        {"-h", "-help", '\0', 2, 3},
        {"-HE", "-help", '\0', 2, 4},
        {"-help", "-help", '\0', 2, 6},
        {"-helpme", "-help", '\0', 2, -1},
        {"-h=1", "-help", '\0', 2, -1},
        {"", "-help", '\0', 0, 1},               // with no minimum the empty text matches
        {"Da", "Data", '\0', 2, 3},
        {"D", "Data", '\0', 2, -1},
        {"Data", "Da", '\0', 3, -1},             // keyword shorter than the minimum
        {"DestinationK", "DestinationKey", '\0', 12, 13},
        {"Destinatio", "DestinationKey", '\0', 12, -1},
        {"ab:cd", "abc", ':', 2, 3},
    };
    for (const MatchCase &c : cases) {
        EXPECT_EQ(MatchArg(c.text, c.keyword, c.separator, c.minimum), c.expected)
            << "text '" << c.text << "' keyword '" << c.keyword << "'";
    }
}

class ProcessArgumentsTest : public testing::Test {
protected:
    void SetUp() override
    {
        default_base = 16;
        receive_buffer_size = 4096;
        specified_device = -1;
        timeout = -1.0;
        specified_mode = nullptr;
        specified_input_file = nullptr;
        specified_output_file = nullptr;
        specified_dump_output_file = nullptr;
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

TEST_F(ProcessArgumentsTest, EveryOptionSetsItsSetting)
{
    EXPECT_EQ(Run({"-d=3", "-m=rcs", "-c=list.txt", "-o=out.txt", "-t=0.5", "-r=100", "-du=dump.txt"}), "");
    EXPECT_EQ(specified_device, 3);
    EXPECT_STREQ(specified_mode, "rcs");
    EXPECT_STREQ(specified_input_file, "list.txt");
    EXPECT_STREQ(specified_output_file, "out.txt");
    EXPECT_DOUBLE_EQ(timeout, 0.5);
    EXPECT_EQ(receive_buffer_size, 100);
    EXPECT_STREQ(specified_dump_output_file, "dump.txt");
}

TEST_F(ProcessArgumentsTest, ValuesPointIntoTheArguments)
{
    Run({"-output=a=b"});
    EXPECT_STREQ(specified_output_file, "a=b"); // only the first "=" separates
    EXPECT_EQ(specified_output_file, storage_[1].c_str() + 8);
}

TEST_F(ProcessArgumentsTest, RefusedValuesLeaveSettingsUnchanged)
{
    EXPECT_EQ(Run({"-device=-1", "-timeout=0", "-timeout=-1", "-timeout=abc", "-receive_buf=0",
                   "-receive_buf=abc", "-receive_buf=-5"}),
              "Error reading device number from command line arguments\n"
              "Error reading timeout from command line arguments\n"
              "Error reading timeout from command line arguments\n"
              "Error reading timeout from command line arguments\n"
              "Error reading buffer size from command line arguments\n"
              "Error reading buffer size from command line arguments\n"
              "Error reading buffer size from command line arguments\n");
    EXPECT_EQ(specified_device, -1);
    EXPECT_DOUBLE_EQ(timeout, -1.0);
    EXPECT_EQ(receive_buffer_size, 4096);
}

TEST_F(ProcessArgumentsTest, InvalidArgumentsAreReportedAndSkipped)
{
    EXPECT_EQ(Run({"-", "x", "-device", "3", "-helpme", "-h=1", "-d=2"}),
              "Invalid command line argument error: '-'\n"
              "Invalid command line argument error: 'x'\n"
              "Invalid command line argument error: '-device'\n"
              "Invalid command line argument error: '3'\n"
              "Invalid command line argument error: '-helpme'\n"
              "Invalid command line argument error: '-h=1'\n");
    EXPECT_EQ(specified_device, 2);
}

TEST_F(ProcessArgumentsTest, NumbersReadAsTheirLeadingDigits)
{
    Run({"-device=2x"});
    EXPECT_EQ(specified_device, 2);
    Run({"-device=abc"});
    EXPECT_EQ(specified_device, 0);
    Run({"-t=1e-3"});
    EXPECT_DOUBLE_EQ(timeout, 0.001);
}

TEST_F(ProcessArgumentsTest, DeviceNumberKeepsItsLow32Bits)
{
    Run({"-device=4294967299"}); // 2^32 + 3
    EXPECT_EQ(specified_device, 3);
    EXPECT_EQ(Run({"-device=4294967295"}), "Error reading device number from command line arguments\n");
    EXPECT_EQ(specified_device, 3);
    EXPECT_EQ(ReadInt("2147483648"), INT32_MIN);
}

TEST_F(ProcessArgumentsTest, LaterArgumentWinsAndEmptyNameMeansDevice)
{
    Run({"-d=1", "-DEVICE=5", "-o=a", "-o=b"});
    EXPECT_EQ(specified_device, 5);
    EXPECT_STREQ(specified_output_file, "b");
    Run({"=7"});
    EXPECT_EQ(specified_device, 7);
    Run({"-=8"});
    EXPECT_EQ(specified_device, 8);
}

TEST_F(ProcessArgumentsTest, ShortestFormsFollowTheOrderOfOptions)
{
    Run({"-d=out.txt"}); // -d is -device, not -dump_cmdlist
    EXPECT_EQ(specified_dump_output_file, nullptr);
    EXPECT_EQ(specified_device, 0);
    Run({"-du=dump.txt", "-o= "});
    EXPECT_STREQ(specified_dump_output_file, "dump.txt");
    EXPECT_STREQ(specified_output_file, " ");
}

} // namespace
