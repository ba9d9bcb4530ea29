// Worked lists, held against the program and the literal reference: every
// message, and INCLUDELIST with real files (names, the include chain, nesting
// and its failures).
#include <sys/resource.h>

#include "cmdlist/cmdlist_test_support.h"
#include "support/scratch_dir.h"

namespace {

const std::string kUnknown = "Error reading command list file in first pass, unrecognised directive ";
const std::string kAliasFailed = "An error occurred when trying to process alias ";
const std::string kNoEquals = "Error processing alias directive - no equals character found\n";
const std::string kUnterminated = "A comment in the input file has not been terminated.\n";
const std::string kCannotOpen = "Error processing INCLUDELIST directive - unable to open specified file ";
const std::string kRecursive = "Error processing INCLUDELIST directive - recursive include of file ";
const std::string kFailedIn = "Error reading commands from included file ";

// Every message that needs no file, the word rule and a value longer than
// the first buffer.  The caller's message shows an alias's argument up to the
// end of the alias name.  Directives take effect from the last to the first,
// so of several faulty ones the last is reported.
TEST(WorkedLists, WithoutFiles)
{
    const std::string hundred(100, 'N'), value(5000, 'v');
    ExpectCases({
        {"N #AlIaS N = 4;\nAddress:N;\n0xN N2 'N' N\tN\r\n", "N Address:4;\n0xN N2 'N' 4\t4\r\n"},
        {"#ALIAS LONG = " + value + " ;\nLONG:LONG", value + " :" + value + " "},
        {"x /*/", {}, kUnterminated},
        {"#FOO x;", {}, kUnknown + "FOO\n"},
        {"#" + hundred + "X;", {},
         "Error reading directive, expected space or semi-colon before maximum directive length reached: " + hundred +
             "\n"},
        {"#" + hundred + ";", {}, kUnknown + hundred + "\n"},
        {"#ALIAS", {}, "Error reading directive, expected semi-colon before end of input: ALIAS\n"},
        {"x #", {}, "Error reading directive, expected semi-colon before end of input: \n"},
        {"# ALIAS x=1;", {}, ""}, // white space or ";" behind the "#": no word
        {"#;", {}, ""},
        {"#ALIAS;", {}, "Error - missing argument for an ALIAS directive in the input file.\n"},
        {"#INCLUDELIST;", {}, "Error - missing argument for an INCLUDELIST directive in the input file.\n"},
        {"#ALIAS x=\n1", {}, "Error reading directive argument, expected semi-colon before end of input:  x=\n1\n"},
        {"#ALIAS =5;", {}, "Error processing alias directive - no alias before =\n" + kAliasFailed + " =5\n"},
        {"#ALIAS x y;", {}, kNoEquals + kAliasFailed + " x\n"},
        {"#ALIAS  x = = ;", {}, "Error processing alias directive - no alias value found\n" + kAliasFailed + "  x\n"},
        {"#ALIAS   ;", {}, "Error processing alias directive - no alias found\n" + kAliasFailed + "   \n"},
        {"#ALIAS x = a#ALIAS y=1;\nfoo", {},
         "Error processing alias directive - another directive begins before its semi-colon\n" + kAliasFailed +
             " x = a#ALIAS y=1\n"},
        {"#ALIAS x;\n#ALIAS =5;\n", {}, "Error processing alias directive - no alias before =\n" + kAliasFailed + " =5\n"},
    });
}

class Includes : public ::testing::Test {
protected:
    ScratchDir dir;
    InDirectory in_dir{dir.path()};
    void SetUp() override
    {
        for (const auto &[name, content] : std::vector<std::pair<std::string, std::string>>{
                 {"sub", "s"}, {"my file", "spaced"}, {"x", "quoted"}, {"a\"b", "escaped"}, {"a\\b", "backslash"},
                 {"a", "#INCLUDELIST b;"}, {"b", "#INCLUDELIST A;"}, {"self", "#INCLUDELIST ./self;"},
                 {"main", "top #INCLUDELIST main;"}, {"worked", "w ADDR:V"}, {"open", "ok /* open"},
                 {"faulty", "#ALIAS x;"}, {"via1", "x\n#INCLUDELIST open;"}, {"via2", "#INCLUDELIST faulty;"}}) {
            dir.Write(name, content);
        }
        std::filesystem::create_directory(dir / "in");
        dir.Write("in/inner", "#INCLUDELIST x;");
    }
};

TEST_F(Includes, SpliceTheFileOrReportWhyNot)
{
    ExpectCases({
        {"x\n#INCLUDELIST sub;\ny", "x\ns\ny"},
        {"#includelist sub;#INCLUDELIST\tsub;;", "ss;"},
        {"#INCLUDELIST \"my file\";#INCLUDELIST \"x\" extra;", "spacedquoted"},
        {"#INCLUDELIST \"a\\\"b\";#INCLUDELIST \"a\\b\";#INCLUDELIST a\\b;", "escapedbackslashbackslash"},
        // Names are relative to the current directory, not to the includer.
        {"#INCLUDELIST in/inner;", "quoted"},
        // The includer's aliases apply to the included text.
        {"#ALIAS ADDR = 10;  /* base address */\n#ALIAS V = ADDR 2;\nr ADDR:V\n#INCLUDELIST worked;\nend",
         " \nr 10:10 2\nw 10:10 2\nend"},
        {"#INCLUDELIST sub ;", {}, kCannotOpen + "sub \n"},
        {"#INCLUDELIST \"\";", {}, kCannotOpen + "\n"},
        {"#INCLUDELIST \";", {}, "Error reading argument of INCLUDELIST directive - missing argument?\n"},
        {"#INCLUDELIST  \t\n;", {}, "Error reading argument of INCLUDELIST directive - missing argument?\n"},
        // Failures report every level outwards, one line each.
        {"#INCLUDELIST a;", {}, kRecursive + "A\n" + kFailedIn + "b\n" + kFailedIn + "a\n"},
        // Names are compared as written: ./self is a different name once.
        {"#INCLUDELIST self;", {}, kRecursive + "./self\n" + kFailedIn + "./self\n" + kFailedIn + "self\n"},
        // The first file is not on the chain: it is read once more.
        {"#INCLUDELIST main;", {}, kRecursive + "main\n" + kFailedIn + "main\n"},
        {"#INCLUDELIST via1;", {}, kUnterminated + kFailedIn + "open\n" + kFailedIn + "via1\n"},
        {"#INCLUDELIST via2;", {}, kNoEquals + kAliasFailed + " x\n" + kFailedIn + "faulty\n" + kFailedIn + "via2\n"},
    });
}

TEST_F(Includes, UseTheChainTheyAreGiven)
{
    const std::string list = "#INCLUDELIST sub;";
    IncludeChain chain = {"outer", "SUB"};
    EXPECT_EQ(ReadCapturing(FileHolding(list).get(), &chain, 2).messages, kRecursive + "sub\n");
    // Entries at and beyond the depth are not consulted, and are overwritten.
    EXPECT_EQ(ReadCapturing(FileHolding(list).get(), &chain, 1).text, "s");
    EXPECT_EQ(chain, (IncludeChain{"outer", "sub"}));
    EXPECT_EQ(ReadCapturing(FileHolding(list).get(), nullptr).messages,
              "Error processing INCLUDELIST directive - can't check for recursive include of file sub\n");
}

// Every level keeps its file open while deeper ones are read, so a chain as
// deep as the open-file limit fails there, reported at each level.
TEST_F(Includes, AsDeepAsTheOpenFileLimitFailAtTheLimit)
{
    const int files = 150, limit = 64;
    for (int i = 1; i <= files; ++i) {
        dir.Write("f" + std::to_string(i), i < files ? "#INCLUDELIST f" + std::to_string(i + 1) + ";" : "end");
    }
    EXPECT_EQ(Preprocess("#INCLUDELIST f1;").text, "end");

    const OpenFile top = FileHolding("#INCLUDELIST f1;");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlimit lowered{limit, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    CaptureStdout capture;
    int failing = limit + 2; // one past the free descriptors; the listing's own is counted below
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        failing -= std::stoi(entry.path().filename().string()) < limit ? 1 : 0;
    }
    IncludeChain chain;
    const bool read = ReadCommands(top.get(), &chain, 0).has_value();
    const std::string messages = capture.Take();
    setrlimit(RLIMIT_NOFILE, &saved);

    std::string expected = kCannotOpen + "f" + std::to_string(failing) + "\n";
    for (int level = failing - 1; level >= 1; --level) {
        expected += kFailedIn + "f" + std::to_string(level) + "\n";
    }
    EXPECT_FALSE(read);
    EXPECT_EQ(messages, expected);
}

} // namespace
