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

TEST(ReadFromKeyboard, NothingAtOnceAtEndOfInput)
{
    FeedStdin("");
    EXPECT_EQ(ReadFromKeyboard(), std::nullopt);
}

TEST(ReadWord, OneWordThenTheRestOfItsLineIsDropped)
{
    FeedStdin("\n\n  first word here\n\tsecond\nthird");
    EXPECT_EQ(ReadWord(), std::string("first"));
    EXPECT_EQ(ReadWord(), std::string("second"));
    EXPECT_EQ(ReadWord(), std::string("third"));
    EXPECT_EQ(ReadWord(), std::nullopt);
}

TEST(ReadWord, WhiteSpaceOnlyIsEndOfInput)
{
    FeedStdin("  \n \t\n");
    EXPECT_EQ(ReadWord(), std::nullopt);
}

TEST(DiscardPendingInput, KeepsScriptedInput)
{
    FeedStdin("kept\n");
    DiscardPendingInput();
    EXPECT_EQ(ReadFromKeyboard(), std::string("kept"));
}

} // namespace
