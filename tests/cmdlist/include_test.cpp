// INCLUDELIST: file names, the include chain, nesting and its failures.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include "cmdlist/cmdlist_test_support.h"
#include "cmdlist/command_text.h"
#include "support/scratch_dir.h"

namespace {

class Includes : public ::testing::Test {
protected:
    ScratchDir dir;
    InDirectory in_dir{dir.path()};
};

TEST_F(Includes, SpliceTheFileInPlaceOfTheDirective)
{
    dir.Write("sub.txt", "s");
    dir.Write("blank.txt", " \n\t");
    dir.Write("my file.txt", "spaced");
    dir.Write("x.txt", "quoted");
    dir.Write("a\"b", "escaped");
    dir.Write("a\\b", "backslash");
    dir.Write("open.txt", "unclosed");
    dir.Write("commented.txt", "c/* gone */d");
    const struct {
        const char *list;
        const char *expected;
    } cases[] = {
        {"x\n#INCLUDELIST sub.txt;\ny", "x\ns\ny"},  {"#includelist sub.txt;", "s"},
        {"#INCLUDELIST\tsub.txt;;", "s;"},           {"#INCLUDELIST sub.txt;\n#INCLUDELIST sub.txt;\n", "s\ns\n"},
        {"[#INCLUDELIST blank.txt;]", "[ \n\t]"},    {"#INCLUDELIST \"my file.txt\";", "spaced"},
        {"#INCLUDELIST \"x.txt\" extra;", "quoted"}, {"#INCLUDELIST \"a\\\"b\";", "escaped"},
        {"#INCLUDELIST \"a\\b\";", "backslash"},     {"#INCLUDELIST a\\b;", "backslash"},
        {"#INCLUDELIST \"open.txt;", "unclosed"},    {"#INCLUDELIST\n  sub.txt;", "s"},
        {"#INCLUDELIST commented.txt;", "cd"},       {"/* #INCLUDELIST missing.txt; */ok", "ok"},
    };
    for (const auto &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_EQ(result.messages, "") << c.list;
        EXPECT_EQ(result.text, c.expected) << c.list;
    }
}

TEST_F(Includes, WithBadNamesAreRefused)
{
    dir.Write("sub.txt", "s");
    const struct {
        const char *list;
        const char *messages;
    } cases[] = {
        {"#INCLUDELIST sub.txt ;", "Error processing INCLUDELIST directive - unable to open specified file sub.txt \n"},
        {"#INCLUDELIST missing.txt;",
         "Error processing INCLUDELIST directive - unable to open specified file missing.txt\n"},
        {"#INCLUDELIST \"\";", "Error processing INCLUDELIST directive - unable to open specified file \n"},
        {"#INCLUDELIST \";", "Error reading argument of INCLUDELIST directive - missing argument?\n"},
        {"#INCLUDELIST  \t\n;", "Error reading argument of INCLUDELIST directive - missing argument?\n"},
        {"#INCLUDELIST SUB.TXT;", "Error processing INCLUDELIST directive - unable to open specified file SUB.TXT\n"},
    };
    for (const auto &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_FALSE(result.text.has_value()) << c.list;
        EXPECT_EQ(result.messages, c.messages) << c.list;
    }
}

TEST_F(Includes, OpenRelativeToTheCurrentDirectory)
{
    std::filesystem::create_directory(dir / "sub");
    dir.Write("sub/inner.txt", "#INCLUDELIST x.txt;");
    dir.Write("x.txt", "from the current directory");
    const Preprocessed result = Preprocess("#INCLUDELIST sub/inner.txt;");
    EXPECT_EQ(result.messages, "");
    EXPECT_EQ(result.text, "from the current directory");
}

TEST_F(Includes, ThatRecurThroughTheChainAreRefused)
{
    dir.Write("a.txt", "#INCLUDELIST b.txt;");
    dir.Write("b.txt", "#INCLUDELIST A.TXT;");
    dir.Write("self.txt", "#INCLUDELIST ./self.txt;");
    dir.Write("main.txt", "top #INCLUDELIST main.txt;");
    struct {
        const char *list;
        const char *messages;
    } cases[] = {
        {"#INCLUDELIST a.txt;", "Error processing INCLUDELIST directive - recursive include of file A.TXT\n"
                                "Error reading commands from included file b.txt\n"
                                "Error reading commands from included file a.txt\n"},
        // Names are compared as written: ./self.txt is a different name once.
        {"#INCLUDELIST self.txt;", "Error processing INCLUDELIST directive - recursive include of file ./self.txt\n"
                                   "Error reading commands from included file ./self.txt\n"
                                   "Error reading commands from included file self.txt\n"},
        // The first file is not on the chain: it is read once more.
        {"#INCLUDELIST main.txt;", "Error processing INCLUDELIST directive - recursive include of file main.txt\n"
                                   "Error reading commands from included file main.txt\n"},
    };
    for (const auto &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_FALSE(result.text.has_value()) << c.list;
        EXPECT_EQ(result.messages, c.messages) << c.list;
    }
}

TEST_F(Includes, UseTheChainTheyAreGiven)
{
    dir.Write("a.txt", "A");
    IncludeChain chain = {"outer.txt", "A.txt"};
    Preprocessed refused = Preprocess("#INCLUDELIST a.txt;", &chain, 2);
    EXPECT_EQ(refused.messages, "Error processing INCLUDELIST directive - recursive include of file a.txt\n");
    // Entries at and beyond the depth are not consulted, and are overwritten.
    chain = {"a.txt"};
    const Preprocessed accepted = Preprocess("#INCLUDELIST a.txt;", &chain, 0);
    EXPECT_EQ(accepted.text, "A");
    EXPECT_EQ(chain, IncludeChain{"a.txt"});

    const Preprocessed unchecked = Preprocess("#INCLUDELIST a.txt;", nullptr, 0);
    EXPECT_FALSE(unchecked.text.has_value());
    EXPECT_EQ(unchecked.messages,
              "Error processing INCLUDELIST directive - can't check for recursive include of file a.txt\n");
}

TEST_F(Includes, FailingDeepInsideReportEveryLevelOutwards)
{
    dir.Write("a.txt", "#INCLUDELIST b.txt;");
    dir.Write("b.txt", "x\n#INCLUDELIST c.txt;");
    const struct {
        const char *c_text;
        const char *own_messages;
    } cases[] = {
        {"#FOO;", "Error reading command list file in first pass, unrecognised directive FOO\n"},
        {"ok /* open", "A comment in the input file has not been terminated.\n"},
        {"#ALIAS x;", "Error processing alias directive - no equals character found\n"
                      "An error occurred when trying to process alias  x\n"},
        {"#INCLUDELIST none.txt;", "Error processing INCLUDELIST directive - unable to open specified file none.txt\n"},
    };
    for (const auto &c : cases) {
        dir.Write("c.txt", c.c_text);
        const Preprocessed result = Preprocess("#INCLUDELIST a.txt;");
        EXPECT_FALSE(result.text.has_value()) << c.c_text;
        EXPECT_EQ(result.messages, std::string(c.own_messages) + "Error reading commands from included file c.txt\n"
                                                                 "Error reading commands from included file b.txt\n"
                                                                 "Error reading commands from included file a.txt\n")
            << c.c_text;
    }
}

TEST_F(Includes, KeepTheirAliasesToThemselves)
{
    dir.Write("defines.txt", "#ALIAS N = inner;\nN");
    dir.Write("uses.txt", "N M");
    const struct {
        const char *list;
        const char *expected;
    } cases[] = {
        {"#INCLUDELIST defines.txt;\nN", "inner\nN"},
        // The line end behind the directive goes, the included text stays.
        {"#ALIAS N = outer;\n#INCLUDELIST uses.txt;\n", "outer M\n"},
        {"#ALIAS N = outer;\n\n#INCLUDELIST uses.txt;\n", "\nouter M\n"},
        {"#INCLUDELIST uses.txt;\n#ALIAS N = outer;\nN", "N M\nouter"},
        // An alias before the inclusion applies to an included file's text,
        // but not inside that file's own aliases' reach.
        {"#ALIAS N = outer;\n\n#INCLUDELIST defines.txt;", "\ninner"},
        // The removed character may join the included text to what follows.
        {"#ALIAS MX = joined;\n\n#INCLUDELIST uses.txt;X", "\nN joined"},
    };
    for (const auto &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_EQ(result.messages, "") << c.list;
        EXPECT_EQ(result.text, c.expected) << c.list;
    }
}

// Open descriptors numbered below limit, the listing's own not counted.
std::size_t OpenDescriptorsBelow(int limit)
{
    std::size_t count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        if (std::stoi(entry.path().filename().string()) < limit) {
            ++count;
        }
    }
    return count - 1;
}

// Every level keeps its file open while deeper ones are read, so a chain as
// deep as the open-file limit fails there, reported at each level.
TEST_F(Includes, AsDeepAsTheOpenFileLimitFailAtTheLimit)
{
    const int files = 150;
    for (int i = 1; i <= files; ++i) {
        dir.Write("f" + std::to_string(i) + ".txt",
                  i < files ? "#INCLUDELIST f" + std::to_string(i + 1) + ".txt;" : std::string("end"));
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);

    std::FILE *top = std::tmpfile();
    std::fputs("#INCLUDELIST f1.txt;", top);
    std::rewind(top);
    IncludeChain chain;
    std::optional<std::string> text;
    std::size_t free_descriptors = 0;
    const std::string messages = CaptureStdout([&] {
        free_descriptors = 64 - OpenDescriptorsBelow(64);
        text = ReadCommands(top, &chain, 0);
    });
    std::fclose(top);
    setrlimit(RLIMIT_NOFILE, &saved);

    const std::size_t failing = free_descriptors + 1;
    ASSERT_LT(failing, static_cast<std::size_t>(files));
    std::string expected =
        "Error processing INCLUDELIST directive - unable to open specified file f" + std::to_string(failing) + ".txt\n";
    for (std::size_t level = failing - 1; level >= 1; --level) {
        expected += "Error reading commands from included file f" + std::to_string(level) + ".txt\n";
    }
    EXPECT_FALSE(text.has_value());
    EXPECT_EQ(messages, expected);

    // Within the limit the same chain reads through.
    std::FILE *again = std::tmpfile();
    std::fputs("#INCLUDELIST f1.txt;", again);
    std::rewind(again);
    const std::string quiet = CaptureStdout([&] { text = ReadCommands(again, &chain, 0); });
    std::fclose(again);
    EXPECT_EQ(quiet, "");
    EXPECT_EQ(text, "end");
}

TEST_F(Includes, ThatWouldOutgrowTheLimitAreRefused)
{
    dir.Write("t", std::string(100, 't'));
    dir.Write("n", "#INCLUDELIST t;#INCLUDELIST t;");
    const std::size_t saved = command_text_limit;
    command_text_limit = 150;
    const Preprocessed fits = Preprocess("#INCLUDELIST t;");
    const Preprocessed too_long = Preprocess("#INCLUDELIST t;#INCLUDELIST t;");
    const Preprocessed nested = Preprocess("#INCLUDELIST n;");
    command_text_limit = saved;

    EXPECT_EQ(fits.text, std::string(100, 't'));
    EXPECT_FALSE(too_long.text.has_value());
    EXPECT_EQ(too_long.messages, "Error - the command list would be longer than 150 characters.\n");
    EXPECT_EQ(nested.messages, "Error - the command list would be longer than 150 characters.\n"
                               "Error reading commands from included file n\n");
}

} // namespace
