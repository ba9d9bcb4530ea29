// What the data values, number texts and boolean words do with input the
// program never hands them: the golden cases (values_* and display_*) show
// the rest through what the program sends and prints.
#include <cstdint>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/data_value.h"
#include "common/number_base.h"
#include "support/scratch_dir.h"

namespace {

using namespace std::string_literals;

// Every caller passes 2, 8, 10 or 16; anything else must not divide by zero
// or run off the digits.
TEST(Itoa, BaseOutsideTwoToSixteenFallsBackToDecimal)
{
    for (const int base : {0, 1, 17, -16}) {
        char buffer[34];
        EXPECT_STREQ(itoa(1234, buffer, base), "1234") << base;
        EXPECT_EQ(ToBaseText(1234, base), "1234") << base;
    }
}

// A FIFO without a writer is refused at once rather than waited on; no golden
// case can hold a FIFO.
TEST(CreateData, FifoIsRefusedWithoutWaiting)
{
    ScratchDir scratch;
    const std::string pipe = (scratch / "pipe").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(CreateDataFromString("-" + pipe, false));
}

// Command lists holding a NUL are refused before any word is read.
TEST(CreateBooleanFromString, NulEndsNoWord)
{
    unsigned char flag = 7;
    EXPECT_FALSE(CreateBooleanFromString("y\0"s, flag));
    EXPECT_FALSE(CreateBooleanFromString("n\0o"s, flag));
    EXPECT_EQ(flag, 7);
}

} // namespace
