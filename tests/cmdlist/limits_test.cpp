// Texts that would not fit the 32-bit counts are refused, never wrapped.  The
// limit is lowered here so that it can be reached with small inputs.
#include <gtest/gtest.h>

#include "cmdlist/cmdlist_test_support.h"
#include "cmdlist/command_text.h"

namespace {

class LoweredLimit : public ::testing::Test {
protected:
    void SetUp() override { command_text_limit = 40; }
    void TearDown() override { command_text_limit = kMaxCommandTextLength; }
};

TEST_F(LoweredLimit, CountsTheTextWithoutItsComments)
{
    const std::string forty(40, 'x');
    EXPECT_EQ(Preprocess(forty).text, forty);
    EXPECT_EQ(Preprocess(forty + "/*" + std::string(100, 'c') + "*/").text, forty);

    const Preprocessed refused = Preprocess(forty + "y");
    EXPECT_FALSE(refused.text.has_value());
    EXPECT_EQ(refused.messages, "Error - the command list would be longer than 40 characters.\n");
}

TEST_F(LoweredLimit, AppliesToWhatAliasesProduce)
{
    // Three uses of 12 characters, three colons and one more: exactly 40.
    const Preprocessed fits = Preprocess("#ALIAS T=012345678901;\nT:T:T:x");
    EXPECT_EQ(fits.messages, "");
    EXPECT_EQ(fits.text, "012345678901:012345678901:012345678901:x");

    const Preprocessed refused = Preprocess("#ALIAS T=012345678901;\nT:T:T:xy");
    EXPECT_FALSE(refused.text.has_value());
    EXPECT_EQ(refused.messages, "Error - the command list would be longer than 40 characters.\n");
}

} // namespace
