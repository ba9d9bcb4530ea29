// What ALIAS directives do to the text behind them.
#include <gtest/gtest.h>

#include "cmdlist/cmdlist_test_support.h"
#include "support/scratch_dir.h"

namespace {

struct TextCase {
    std::string list;
    std::string expected;
};

void ExpectTexts(const std::vector<TextCase> &cases)
{
    for (const TextCase &c : cases) {
        const Preprocessed result = Preprocess(c.list);
        EXPECT_EQ(result.messages, "") << c.list;
        EXPECT_EQ(result.text, c.expected) << c.list;
    }
}

TEST(Aliases, ApplyToWholeWordsBehindTheirDirective)
{
    ExpectTexts({
        {"#ALIAS N = 5;\nn:N;", "n:5;"},
        {"x N\n#ALIAS N = 5;\ny N", "x N\ny 5"},
        {"#ALIAS L = 10;\nNN L LL L;", "NN 10 LL 10;"},
        {"#ALIAS ADDR = 4;\nAddress:ADDR;\n0xADDR ADDR2 'ADDR' ADDR\tADDR\r\n",
         "Address:4;\n0xADDR ADDR2 'ADDR' 4\t4\r\n"},
        {"#ALIAS COUNT = 3;\nn:COUNT", "n:3"},
        {"#ALIAS n = 1;\nN n", "N 1"},
        {"#ALIAS V = 1 2 ;\nd:V;", "d:1 2 ;"},
        {"#ALIAS P = 1\n2;\nP", "1\n2"},
        {"#ALIAS C = :x;\nC", ":x"},
        {"#ALIAS x y = 1;\nx y", "1 y"},
        {"#ALIAS x==1;\nx", "1"},
        {"#ALIAS x=y=z;\nx", "y=z"},
        {"#ALIAS a:b = 1;\na:b a b", "a:b a b"},
        {"#ALIAS x=1;", ""},
        {"abc #ALIAS x=1;", "abc "},
        {"abc\n#ALIAS x=1;\n", "abc\n"},
    });
}

TEST(Aliases, LaterDefinitionsAndValuesFollowTheTextOrder)
{
    ExpectTexts({
        {"#ALIAS N = 1;\n#ALIAS N = 2;\nN", "2"},
        {"#ALIAS N = 1;\nN\n#ALIAS N = 2;\nN", "1\n2"},
        {"#ALIAS A = 1;\n#ALIAS B = A;\nB", "1"},
        {"#ALIAS B = A;\n#ALIAS A = 1;\nB", "A"},
        {"#ALIAS A=1;\n#ALIAS B=A A;\n#ALIAS C=B:B;\nC", "1 1:1 1"},
        {"#ALIAS N = 1;\n#ALIAS N = N N;\nN", "1 1"},
        {"#ALIAS N = N x;\nN", "N x"},
        {"#ALIAS A=1;\n#ALIAS B=A;\n#ALIAS A=2;\nA B", "2 1"},
    });
}

// The character behind a directive's ";" goes with it; when another directive
// follows directly, the next character that remains goes instead.
TEST(Aliases, TakeTheCharacterBehindTheirDirective)
{
    ExpectTexts({
        {"#ALIAS N=5;xN", "5"},
        {"#ALIAS N=5;NN", "5"},
        {"#ALIAS N=5;;N", "5"},
        {"#ALIAS A=1;#ALIAS B=2;\nfoo B A", "oo 2 1"},
        {"#ALIAS A=1;#ALIAS B=xyz;\nB", "yz"},
        // Three directives in a row take "\n", ":" and "x".
        {"#ALIAS A=1;#ALIAS B=2;#ALIAS C=3;\n:x A", " 1"},
        {"#ALIAS A=1;#ALIAS B=2;#ALIAS C=3;\n::::x A", "::x 1"},
        // Two words joined across a directive meet an earlier alias.
        {"#ALIAS AB=9;\nA#ALIAS Z=0;\nB", "9"},
        {"#ALIAS Q1=ok;\nQ#ALIAS N=1;\nN", "ok"},
        // A value's first character goes to the directive before.
        {"#ALIAS B=zz;#ALIAS N=AB;\nN", "zz"},
        {"#ALIAS Z=0;#ALIAS A = A x;\nA", " x"},
        {"#ALIAS A=q;#ALIAS Z=0;#ALIAS A = A x;\nA y", "x y"},
    });
}

TEST(Aliases, WithLongValuesInsertTheWholeValue)
{
    const std::string value(5000, 'v');
    ExpectTexts({
        {"#ALIAS LONG = " + value + ";\nLONG:LONG LONG", value + ":" + value + " " + value},
        {"#ALIAS X = " + value + " end ;\nX", value + " end "},
    });
}

// A value is expanded only where it is used, so aliases that double each
// other up are harmless until a use would outgrow the limit.
TEST(Aliases, ThatWouldGrowBeyondTheLimitAreRefused)
{
    std::string list = "#ALIAS A0 = xxxxxxxxxx;\n";
    for (int i = 1; i <= 12; ++i) {
        const std::string used = "A" + std::to_string(i - 1);
        list += "#ALIAS A" + std::to_string(i) + " =";
        for (int k = 0; k < 10; ++k) {
            list += " " + used;
        }
        list += ";\n";
    }
    auto ten_times = [](const std::string &word) {
        std::string joined = word;
        for (int k = 1; k < 10; ++k) {
            joined += " " + word;
        }
        return joined;
    };
    const Preprocessed unused = Preprocess(list + "A2");
    EXPECT_EQ(unused.messages, "");
    EXPECT_EQ(unused.text, ten_times(ten_times("xxxxxxxxxx")));

    const Preprocessed used = Preprocess(list + "A12");
    EXPECT_FALSE(used.text.has_value());
    EXPECT_EQ(used.messages, "Error - the command list would be longer than 2147483646 characters.\n");
}

TEST(Aliases, WorkedExampleOfTheGrammarHolds)
{
    ScratchDir dir;
    InDirectory in_dir(dir.path());
    dir.Write("sub.txt", "w ADDR:V");
    const Preprocessed result = Preprocess("#ALIAS ADDR = 10;  /* base address */\n"
                                           "#ALIAS V = ADDR 2;\n"
                                           "r ADDR:V\n"
                                           "#INCLUDELIST sub.txt;\n"
                                           "end");
    EXPECT_EQ(result.messages, "");
    EXPECT_EQ(result.text, " \nr 10:10 2\nw 10:10 2\nend");
}

} // namespace
