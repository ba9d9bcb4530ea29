// Reading the file itself (read boundaries, bytes that are not text, read
// errors) and the length limit: what a golden list of a few lines cannot show.
#include "cmdlist/cmdlist_test_support.h"
#include "cmdlist/command_text.h"
#include "support/scratch_dir.h"

namespace {

// Markers are recognised wherever the reads happen to split the file.
TEST(CommandFile, CommentMarkersAreFoundAcrossReadBoundaries)
{
    const Case patterns[] = {{"/* c */.", "."}, {"/*/ c */.", "."}, {"/* a **/.", "."}, {"//* c */.", "/."},
                             {"/ *", "/ *"}, {"*/", "*/"}, {"/", "/"},
                             {"/*/", {}, "A comment in the input file has not been terminated.\n"}};
    std::vector<Case> cases;
    for (std::size_t offset = kCommandReadBlock - 3; offset <= kCommandReadBlock + 1; ++offset) {
        const std::string before(offset, 'x');
        for (const Case &pattern : patterns) {
            cases.push_back({before + pattern.list, pattern.text ? before + *pattern.text : pattern.text,
                             pattern.messages});
        }
    }
    ExpectCases(cases);
}

TEST(CommandFile, WithANulByteIsRefusedRatherThanCutShort)
{
    const std::string nul(1, '\0'), message = "Error - the command list file holds a NUL byte (at byte ";
    ExpectCases({{"ab" + nul + "cd", {}, message + "2); command lists must be text.\n"},
                 {"/* " + nul + " */", {}, message + "3); command lists must be text.\n"},
                 {std::string(kCommandReadBlock + 5, 'x') + nul, {}, message + "65541); command lists must be text.\n"}});
}

TEST(CommandFile, IsReadFromWhereItStandsAndRefusedWhenUnreadable)
{
    IncludeChain chain;
    const OpenFile file = FileHolding("skipped\nA B");
    std::fseek(file.get(), 8, SEEK_SET);
    EXPECT_EQ(ReadCapturing(file.get(), &chain).text, "A B");
    ScratchDir dir;
    const OpenFile directory(std::fopen(dir.path().c_str(), "r"), std::fclose);
    EXPECT_EQ(ReadCapturing(directory.get(), &chain).messages, "Error - couldn't read the command list file.\n");
}

// The limit is lowered to reach it with small inputs, except where aliases
// multiply each other up: a value is expanded only where it is used, so they
// are harmless until a use would outgrow the real limit.
TEST(LengthLimit, IsKeptWhereverTheTextGrows)
{
    ScratchDir dir;
    InDirectory in_dir(dir.path());
    dir.Write("t", std::string(30, 't'));
    dir.Write("n", "#INCLUDELIST t;#INCLUDELIST t;");
    const std::string forty(40, 'x'), too_long = "Error - the command list would be longer than 40 characters.\n";
    command_text_limit = 40;
    ExpectCases({{forty + "/*" + std::string(100, 'c') + "*/", forty},
                 {forty + "y", {}, too_long},
                 // Three uses of 12 characters, three colons and one more.
                 {"#ALIAS T=012345678901;\nT:T:T:x", "012345678901:012345678901:012345678901:x"},
                 {"#ALIAS T=012345678901;\nT:T:T:xy", {}, too_long},
                 {"#INCLUDELIST t;#INCLUDELIST t;", {}, too_long},
                 {"#INCLUDELIST n;", {}, too_long + "Error reading commands from included file n\n"}});
    command_text_limit = kMaxCommandTextLength;

    std::string list = "#ALIAS A0 = x;\n";
    for (int i = 1; i <= 16; ++i) {
        const std::string used = " A" + std::to_string(i - 1);
        list += "#ALIAS A" + std::to_string(i) + " =" + used + used + used + used + ";\n";
    }
    ExpectCases({{list + "A1:A2", "x x x x:x x x x x x x x x x x x x x x x"},
                 {list + "A16", {}, "Error - the command list would be longer than 2147483646 characters.\n"}});
}

} // namespace
