// Which arguments name which option, and what each option's value does, the
// start-up goldens show (tests/e2e/cases/startup/args_*).  Every caller of
// MatchArg only asks whether the text matches; the offset it returns, and
// the separators and minimum no caller passes, are checked here.
#include <gtest/gtest.h>

#include "common/match_arg.h"

namespace {

TEST(MatchArg, OffsetIsJustBehindTheSeparator)
{
    EXPECT_EQ(MatchArg("-dev=3", "-device", '=', 2), 5);
    EXPECT_EQ(MatchArg("-DEVICE=", "-device", '=', 2), 8);
    EXPECT_EQ(MatchArg("  \t-d=3", "-device", '=', 2), 3); // counted after the white space
    EXPECT_EQ(MatchArg("-h", "-help", '\0', 2), 3);
    EXPECT_EQ(MatchArg("", "-help", '\0', 0), 1);
    EXPECT_EQ(MatchArg("ab:cd", "abc", ':', 2), 3);
}

} // namespace
