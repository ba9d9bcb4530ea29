// Directive names and arguments: what is accepted, and every refusal with its
// messages.
#include <gtest/gtest.h>

#include "cmdlist/cmdlist_test_support.h"

namespace {

struct RefusalCase {
    std::string list;
    std::string messages; // "" where the list fails without a word
};

void ExpectRefusals(const std::vector<RefusalCase> &cases)
{
    for (const RefusalCase &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_FALSE(result.text.has_value()) << c.list;
        EXPECT_EQ(result.messages, c.messages) << c.list;
    }
}

TEST(DirectiveNames, MalformedOrUnknownAreRefused)
{
    const std::string hundred(100, 'N');
    ExpectRefusals({
        {"#FOO x;", "Error reading command list file in first pass, unrecognised directive FOO\n"},
        {"a\n#FOO;\nb", "Error reading command list file in first pass, unrecognised directive FOO\n"},
        {"#ALIASES x=1;", "Error reading command list file in first pass, unrecognised directive ALIASES\n"},
        {"#" + hundred + "X x;",
         "Error reading directive, expected space or semi-colon before maximum directive length reached: " + hundred +
             "\n"},
        {"#" + hundred + ";",
         "Error reading command list file in first pass, unrecognised directive " + hundred + "\n"},
        {"#" + hundred, "Error reading directive, expected semi-colon before end of input: " + hundred + "\n"},
        {"x #", "Error reading directive, expected semi-colon before end of input: \n"},
        {"#ALIAS", "Error reading directive, expected semi-colon before end of input: ALIAS\n"},
        // A "#" followed by white space or ";" fails without a word.
        {"# ALIAS x=1;", ""},
        {"#;", ""},
        {"#\nx", ""},
        {"#\tALIAS x=1;", ""},
    });
}

TEST(DirectiveArguments, MissingOrUnterminatedAreRefused)
{
    ExpectRefusals({
        {"#ALIAS;", "Error - missing argument for an ALIAS directive in the input file.\n"},
        {"#alias;\nx", "Error - missing argument for an ALIAS directive in the input file.\n"},
        {"#INCLUDELIST;", "Error - missing argument for an INCLUDELIST directive in the input file.\n"},
        {"#ALIAS x=1", "Error reading directive argument, expected semi-colon before end of input:  x=1\n"},
        {"#ALIAS x=\n1\n", "Error reading directive argument, expected semi-colon before end of input:  x=\n1\n\n"},
        {"#INCLUDELIST a.txt", "Error reading directive argument, expected semi-colon before end of input:  a.txt\n"},
    });
}

TEST(AliasArguments, MalformedAreRefusedWithTheNameShown)
{
    ExpectRefusals({
        {"#ALIAS =5;", "Error processing alias directive - no alias before =\n"
                       "An error occurred when trying to process alias  =5\n"},
        {"#ALIAS x;", "Error processing alias directive - no equals character found\n"
                      "An error occurred when trying to process alias  x\n"},
        {"#ALIAS x y;", "Error processing alias directive - no equals character found\n"
                        "An error occurred when trying to process alias  x\n"},
        {"#ALIAS x=;", "Error processing alias directive - no alias value found\n"
                       "An error occurred when trying to process alias  x\n"},
        {"#ALIAS  x = = ;", "Error processing alias directive - no alias value found\n"
                            "An error occurred when trying to process alias   x\n"},
        {"#ALIAS   ;", "Error processing alias directive - no alias found\n"
                       "An error occurred when trying to process alias    \n"},
        {"#ALIAS\n= x;", "Error processing alias directive - no alias before =\n"
                         "An error occurred when trying to process alias \n= x\n"},
        // Another directive inside the argument would make the removal take
        // text behind the directive; it is refused instead.
        {"#ALIAS x = a#ALIAS y=1;\nfoo bar",
         "Error processing alias directive - another directive begins before its semi-colon\n"
         "An error occurred when trying to process alias  x = a#ALIAS y=1\n"},
    });
}

// Directives take effect from the last to the first, so of several faulty
// ones the last is reported; the first pass's faults come before any of them.
TEST(DirectiveFaults, AreReportedInTheOrderTheyAreMet)
{
    ExpectRefusals({
        {"#ALIAS x;\n#ALIAS =5;\n", "Error processing alias directive - no alias before =\n"
                                    "An error occurred when trying to process alias  =5\n"},
        {"#ALIAS =5;\n#ALIAS a=1;\n#ALIAS x;", "Error processing alias directive - no equals character found\n"
                                               "An error occurred when trying to process alias  x\n"},
        {"#ALIAS x;\n#FOO;", "Error reading command list file in first pass, unrecognised directive FOO\n"},
        {"#ALIAS =5;\n#ALIAS", "Error reading directive, expected semi-colon before end of input: ALIAS\n"},
        {"#ALIAS x=1;\n#ALIAS y=2",
         "Error reading directive argument, expected semi-colon before end of input:  y=2\n"},
    });
}

TEST(DirectiveNames, AreMatchedWithoutRegardToCase)
{
    for (const char *list : {"#ALIAS N=5;\nN", "#alias N=5;\nN", "#AlIaS\tN=5;\nN"}) {
        const Preprocessed result = Preprocess(list);
        EXPECT_EQ(result.text, "5") << list;
        EXPECT_EQ(result.messages, "") << list;
    }
}

} // namespace
