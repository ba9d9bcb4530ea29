// JSON Lines records: text escaped whatever bytes it holds, and times in UTC
// with microseconds.  The records of real runs, their nesting and values, are
// golden cases (tests/e2e/cases/json), with their clock times left out.
#include <gtest/gtest.h>

#include "common/json_line.h"

namespace {

std::string OneText(std::string_view value)
{
    JsonLine line;
    line.Begin();
    line.Text("t", value);
    line.End();
    return line.text();
}

TEST(JsonLine, TextEscapedWhateverItsBytes)
{
    EXPECT_EQ(OneText("a\"b\\c/"), R"({"t":"a\"b\\c/"})");
    EXPECT_EQ(OneText(std::string("\x00\x01\n\x1f\x7f", 5)), R"({"t":"\u0000\u0001\u000a\u001f)"
                                                             "\x7f"
                                                             R"("})");
    // Well-formed UTF-8 stays as it is: 2, 3 and 4 bytes.
    EXPECT_EQ(OneText("\xc3\xa9\xe2\x82\xac\xf0\x9f\x9b\xb0"), "{\"t\":\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x9b\xb0\"}");
    // Lone continuation, cut sequence, overlong, surrogate, beyond U+10FFFF, invalid lead.
    EXPECT_EQ(OneText("\x80"), R"({"t":"\u0080"})");
    EXPECT_EQ(OneText("\xe2\x82"), R"({"t":"\u00e2\u0082"})");
    EXPECT_EQ(OneText("\xc0\xaf"), R"({"t":"\u00c0\u00af"})");
    EXPECT_EQ(OneText("\xe0\x80\xaf"), R"({"t":"\u00e0\u0080\u00af"})");
    EXPECT_EQ(OneText("\xed\xa0\x80"), R"({"t":"\u00ed\u00a0\u0080"})");
    EXPECT_EQ(OneText("\xf4\x90\x80\x80"), R"({"t":"\u00f4\u0090\u0080\u0080"})");
    EXPECT_EQ(OneText("\xf5\x80"), R"({"t":"\u00f5\u0080"})");
}

TEST(JsonLine, TimesInUtcWithMicroseconds)
{
    JsonLine line;
    line.Begin();
    line.Time("at", 0);
    line.Time("later", 1796588068645843);
    line.End();
    EXPECT_EQ(line.text(), R"({"at":"1970-01-01T00:00:00.000000Z","later":"2026-12-06T20:14:28.645843Z"})");
    // Dates are formatted once a second and reused: times from seconds in
    // turn, and two seconds apart, each keep their own.
    line.Begin();
    for (const std::int64_t second : {1796588068, 1796588069, 1796588068, 1796588070, 1796588069}) {
        line.Time("t", second * 1000000 + 7);
    }
    line.End();
    EXPECT_EQ(line.text(), R"({"t":"2026-12-06T20:14:28.000007Z","t":"2026-12-06T20:14:29.000007Z",)"
                           R"("t":"2026-12-06T20:14:28.000007Z","t":"2026-12-06T20:14:30.000007Z",)"
                           R"("t":"2026-12-06T20:14:29.000007Z"})");
}

} // namespace
