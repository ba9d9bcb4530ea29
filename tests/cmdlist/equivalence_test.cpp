// The program's preprocessing against the literal reference, on many generated
// command lists: same text, same messages, in every case.
#include <random>

#include "cmdlist/cmdlist_test_support.h"
#include "support/scratch_dir.h"

namespace {

void ExpectSameAsLiteral(const std::string &list)
{
    SCOPED_TRACE("list: " + ::testing::PrintToString(list));
    const Preprocessed literal = PreprocessLiterally(list), actual = Preprocess(list);
    ASSERT_EQ(std::tie(actual.messages, actual.text), std::tie(literal.messages, literal.text));
}

struct ListGenerator {
    std::mt19937 random;
    // How much of what: the weights shape the lists towards the hard cases.
    int directive_weight = 3, glue_weight = 2, malformed_weight = 1, comment_weight = 1;
    std::vector<const char *> include_names = {};

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    bool OneIn(int n) { return Below(n) == 0; }
    std::string Pick(const std::vector<const char *> &items) { return items[Below(int(items.size()))]; }

    // Short words, many of them alias names or halves of names, so that words
    // joined by a removed character meet aliases.
    std::string Word()
    {
        return Pick({"A", "B", "AB", "BA", "N", "x", "y", "xy", "Ax", "Q", "Q1", "1", "0x10", "AA", "NN", "=", "a=b",
                     "'A'", "ABA"});
    }
    std::string Name() { return Pick({"A", "B", "AB", "BA", "N", "x", "Q1", "AA", "y", "a:b", "NN"}); }
    // A value starts with neither white space nor "=".
    std::string Value()
    {
        std::string value = Pick({"A", "B", "AB", "N", "x", "1", ":", "Q", "y", "BA", "'"});
        for (int more = Below(4); more > 0; --more) {
            value += Pick({" ", ":", "\n", "", "  ", "="}) + Word();
        }
        return OneIn(3) ? value + Pick({" ", ":"}) : value;
    }
    std::string AliasDirective()
    {
        const std::string name = Name();
        // Values that start with a name, their own included, are the ones
        // that expand again where a removed character meets them.
        const std::string value = OneIn(3) ? (OneIn(2) ? name : Name()) + Pick({"", " ", ":", "x"}) + Value() : Value();
        // Appended piece by piece: GCC 12 at -O3 falsely reports -Wrestrict
        // on "literal" + std::string.
        std::string directive = "#";
        directive += Pick({"ALIAS", "alias", "Alias"});
        directive += Pick({" ", "\t", "\n"});
        directive += name;
        directive += Pick({" = ", "=", " =", "= ", " == ", "\n=\t", " junk = "});
        directive += value;
        directive += ';';
        return directive;
    }
    std::string CommentPart() { return Pick({"", "", " x ", "#ALIAS A=9;", "\n", "/*", ";", "*", "/"}); }

    std::string List(int tokens)
    {
        std::string list;
        for (int i = 0; i < tokens; ++i) {
            int roll = Below(6 + directive_weight + glue_weight + malformed_weight + comment_weight +
                             (include_names.empty() ? 0 : 1));
            if ((roll -= 6) < 0) {
                list += Word() + Pick({" ", "\n", ":", ";", "\t", "\r\n", "  ", ""});
            } else if ((roll -= directive_weight) < 0) {
                // What follows a directive decides what its removal takes.
                list += AliasDirective() + Pick({"\n", "", "x", "xy", " ", ":", "A", "AB\n", "B", "\nA", "\nN ",
                                                 "xN", " Q1:"});
            } else if ((roll -= glue_weight) < 0) {
                list += AliasDirective();
            } else if ((roll -= malformed_weight) < 0) {
                list += !OneIn(4) ? "" : Pick({"# ALIAS x=1;", "#ALIAS;", "#ALIAS =5;", "#ALIAS x;", "#ALIAS x=;",
                                               "#FOO x;", "#;", "#ALIAS   ;", "#ALIAS x = ;", "#ALIAS x y;",
                                               "#ALIAS = ;", "#ALIAS x = a#ALIAS y=1;", "#ALIASX x=1;",
                                               "#ALIAS x=\n;", "#\n", "#ALIAS x==;"});
            } else if ((roll -= comment_weight) < 0) {
                list += "/*" + CommentPart() + CommentPart() + "*/";
            } else {
                list += "#INCLUDELIST " + Pick(include_names) + ";";
            }
        }
        if (malformed_weight > 0 && OneIn(120)) {
            list += Pick({"#ALIAS x=1", "#ALIAS", "#", "#ALIAS x"}); // cut off by the end of the file
        }
        return comment_weight > 0 && OneIn(60) ? list + "/* open" : list;
    }
};

TEST(GeneratedLists, MatchTheLiteralProcess)
{
    const struct {
        unsigned seed;
        int directive, glue, malformed, comment, lists, min_tokens, more_tokens; // the weights first
        bool includes;
    } runs[] = {
        {20240601, 3, 2, 1, 1, 4000, 1, 30, false}, // a bit of everything
        {77, 6, 8, 0, 0, 4000, 1, 40, false},       // directives glued to each other and to words
        {4242, 5, 3, 0, 1, 300, 200, 400, false},   // many aliases, redefinitions, values using each other
        // Included files with aliases, comments, errors of their own and
        // includes of each other (so also recursion), rewritten every 40 lists.
        {9001, 3, 2, 1, 1, 2400, 1, 20, true},
    };
    ScratchDir dir;
    InDirectory in_dir(dir.path());
    for (const auto &run : runs) {
        ListGenerator generator{std::mt19937(run.seed), run.directive, run.glue, run.malformed, run.comment};
        for (int i = 0; i < run.lists && !HasFatalFailure(); ++i) {
            if (run.includes && i % 40 == 0) { // two.txt includes nothing, one.txt anything
                generator.include_names = {};
                dir.Write("two.txt", generator.List(1 + generator.Below(15)));
                generator.include_names = {"one.txt", "two.txt", "ONE.TXT", "missing.txt", "\"two.txt\""};
                dir.Write("one.txt", generator.List(1 + generator.Below(15)));
            }
            ExpectSameAsLiteral(generator.List(run.min_tokens + generator.Below(run.more_tokens)));
        }
    }
}

// Chains of aliases whose values start with the alias before them, some
// going on behind that first word, defined in glued runs and used where
// removed characters cut words: values expanded at a junction word by word.
TEST(GeneratedLists, AliasChainsAtJunctionsMatchTheLiteralProcess)
{
    ListGenerator generator{std::mt19937(31337)};
    for (int i = 0; i < 3000 && !HasFatalFailure(); ++i) {
        std::string list;
        const int aliases = 1 + generator.Below(12);
        // Half the lists chain every alias to the one before, mostly glued,
        // so that a word names the end of a deep chain.
        const bool chained = i % 2 == 0;
        for (int k = 0; k < aliases; ++k) {
            const int name = chained ? k : generator.Below(aliases), used = chained ? k - 1 : generator.Below(aliases);
            // Appended piece by piece, for GCC 12's -Wrestrict (above).
            list += "#ALIAS C";
            list += std::to_string(name);
            list += '=';
            if (generator.Below(5)) {
                list += 'C';
                list += std::to_string(used);
            } else {
                list += 'z';
            }
            list += generator.Pick({"", "", " t", ":u v", "w", " ", "\n"});
            list += ';';
            list += chained && generator.Below(4) ? "" : generator.Pick({"", "", "", "q", "qr", "\n", "C", "q C"});
        }
        for (int uses = generator.Below(8); uses > 0; --uses) {
            list += 'C';
            list += std::to_string(generator.Below(aliases));
            list += generator.Below(3) ? ' ' : ':';
        }
        ExpectSameAsLiteral(list);
    }
}

} // namespace
