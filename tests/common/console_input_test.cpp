#include <gtest/gtest.h>

#include <string>

#include "common/console_input.h"
#include "support/capture_stdout.h"

namespace {

TEST(ReadFromKeyboard, LinesOfAnyLengthWithoutTheirLineFeed)
{
    const std::string long_line(10000, 'a');
    FeedStdin(long_line + "\n\nsecond\r\nabc");
    EXPECT_EQ(ReadFromKeyboard(), long_line);
    EXPECT_EQ(ReadFromKeyboard(), std::string()); // an empty line is not end of input
    EXPECT_EQ(ReadFromKeyboard(), std::string("second\r"));
    EXPECT_EQ(ReadFromKeyboard(), std::string("abc")); // partial last line
    EXPECT_EQ(ReadFromKeyboard(), std::nullopt);
}

} // namespace
