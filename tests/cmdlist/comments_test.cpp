// Reading a command-list file: comments, block boundaries, bytes that are not
// text.
#include <gtest/gtest.h>

#include "cmdlist/cmdlist_test_support.h"
#include "cmdlist/command_text.h"
#include "support/scratch_dir.h"

namespace {

struct TextCase {
    const char *list;
    const char *expected;
};

TEST(Comments, AreRemovedWithTheirMarkers)
{
    const TextCase cases[] = {
        {"a/* x */b", "ab"},
        {"a /* x */ b", "a  b"},
        {"a/* one\ntwo\nthree */b", "ab"},
        {"a\n/* own line */\nb", "a\n\nb"},
        {"/* a /* b */ c */", " c */"},
        {"/*/ x */y", "y"},
        {"*/x", "*/x"},
        {"//*x*/y", "/y"},
        {"/**/", ""},
        {"/***/z", "z"},
        {"/* **/z", "z"},
        {"/*a*//*b*/c", "c"},
        {"a/", "a/"},
        {"a//b", "a//b"},
        {"a/ *b", "a/ *b"},
        {"\"x/*quoted*/y\"", "\"xy\""},
        {"/* #ALIAS A=1; */A", "A"},
        {"/* #FOO */x", "x"},
        {"", ""},
    };
    for (const TextCase &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        ASSERT_TRUE(result.text.has_value()) << c.list;
        EXPECT_EQ(*result.text, c.expected) << c.list;
        EXPECT_EQ(result.messages, "") << c.list;
    }
}

TEST(Comments, LeftOpenRejectTheList)
{
    for (const char *list : {"/* open", "x /*/", "/*", "a/* b *", "/* a */ /* b", "/**"}) {
        const Preprocessed result = Preprocess(list);
        EXPECT_FALSE(result.text.has_value()) << list;
        EXPECT_EQ(result.messages, "A comment in the input file has not been terminated.\n") << list;
    }
}

// Markers are found wherever the reads happen to split the file: around every
// boundary of 100-byte blocks and of the blocks actually read.
TEST(Comments, AreFoundAtEveryPositionOfTheReadBlocks)
{
    std::vector<std::size_t> offsets;
    for (std::size_t offset = 0; offset < 310; ++offset) {
        offsets.push_back(offset);
    }
    for (std::size_t offset = kCommandReadBlock - 4; offset < kCommandReadBlock + 4; ++offset) {
        offsets.push_back(offset);
    }
    const TextCase patterns[] = {
        {"/* c */", ""},   {"/*/ c */", ""}, {"/**/", ""}, {"/* a **/", ""},
        {"//* c */", "/"}, {"/ *", "/ *"},   {"*/", "*/"},
    };
    for (std::size_t offset : offsets) {
        const std::string before(offset, 'x');
        for (const TextCase &pattern : patterns) {
            const Preprocessed result = Preprocess(before + pattern.list + "tail");
            ASSERT_TRUE(result.text.has_value()) << offset << " " << pattern.list;
            ASSERT_EQ(*result.text, before + pattern.expected + "tail") << offset << " " << pattern.list;
        }
        // A comment open at the very end, its marker at every position.
        const Preprocessed open = Preprocess(before + "/*/");
        ASSERT_FALSE(open.text.has_value()) << offset;
        // A "/" as the last byte of the file is text.
        const Preprocessed slash = Preprocess(before + "/");
        ASSERT_EQ(slash.text, before + "/") << offset;
    }
}

TEST(CommandFile, EndsAtTheEndOfTheFileFromWhereItStands)
{
    std::FILE *file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("skipped\nA B", file);
    std::fseek(file, 8, SEEK_SET);
    IncludeChain chain;
    std::optional<std::string> text;
    const std::string messages = CaptureStdout([&] { text = ReadCommands(file, &chain, 0); });
    EXPECT_EQ(text, "A B");
    EXPECT_EQ(messages, "");
    std::fclose(file);
}

TEST(CommandFile, WithANulByteIsRefusedRatherThanCutShort)
{
    struct NulCase {
        std::string list;
        const char *message;
    };
    const NulCase cases[] = {
        {std::string("ab\0cd", 5),
         "Error - the command list file holds a NUL byte (at byte 2); command lists must be text.\n"},
        {std::string("\0", 1),
         "Error - the command list file holds a NUL byte (at byte 0); command lists must be text.\n"},
        {std::string("/* \0 */", 7),
         "Error - the command list file holds a NUL byte (at byte 3); command lists must be text.\n"},
        {std::string(kCommandReadBlock + 5, 'x') + std::string("\0", 1),
         "Error - the command list file holds a NUL byte (at byte 65541); command lists must be text.\n"},
    };
    for (const NulCase &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_FALSE(result.text.has_value());
        EXPECT_EQ(result.messages, c.message);
    }
}

TEST(CommandFile, ThatCannotBeReadIsRefused)
{
    ScratchDir dir;
    std::FILE *directory = std::fopen(dir.path().c_str(), "r");
    ASSERT_NE(directory, nullptr);
    IncludeChain chain;
    std::optional<std::string> text;
    const std::string messages = CaptureStdout([&] { text = ReadCommands(directory, &chain, 0); });
    EXPECT_FALSE(text.has_value());
    EXPECT_EQ(messages, "Error - couldn't read the command list file.\n");
    std::fclose(directory);
}

} // namespace
