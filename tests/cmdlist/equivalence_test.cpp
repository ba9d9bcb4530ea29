// The program's preprocessing against the literal reference, on many generated
// command lists: same text, same messages, in every case.
#include <gtest/gtest.h>

#include <random>

#include "cmdlist/cmdlist_test_support.h"
#include "support/scratch_dir.h"

namespace {

// Shows control characters, so that a failing case can be read and replayed.
std::string Escaped(const std::string &text)
{
    std::string shown;
    for (char c : text) {
        switch (c) {
        case '\n':
            shown += "\\n";
            break;
        case '\t':
            shown += "\\t";
            break;
        case '\r':
            shown += "\\r";
            break;
        case '"':
            shown += "\\\"";
            break;
        case '\\':
            shown += "\\\\";
            break;
        default:
            shown.push_back(c);
        }
    }
    return shown;
}

struct ListGenerator {
    std::mt19937 random;
    // How much of what: the weights shape the lists towards the hard cases.
    int directive_weight = 3;
    int glue_weight = 2;
    int malformed_weight = 1;
    int comment_weight = 1;
    std::vector<std::string> include_names;

    explicit ListGenerator(unsigned seed) : random(seed) {}

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }
    bool OneIn(int n) { return Below(n) == 0; }
    template <typename T>
    const T &Pick(const std::vector<T> &items)
    {
        return items[Below(static_cast<int>(items.size()))];
    }

    // Short words, many of them alias names or halves of names, so that words
    // joined by a removed character meet aliases.
    std::string WordText()
    {
        static const std::vector<std::string> words = {"A",  "B", "AB",   "BA", "N",  "x", "y",   "xy",  "Ax", "Q",
                                                       "Q1", "1", "0x10", "AA", "NN", "=", "a=b", "'A'", "ABA"};
        return Pick(words);
    }
    std::string Name()
    {
        static const std::vector<std::string> names = {"A", "B", "AB", "BA", "N", "x", "Q1", "AA", "y", "a:b", "NN"};
        return Pick(names);
    }
    std::string SeparatorText()
    {
        static const std::vector<std::string> separators = {" ", "\n", ":", ";", "\t", "\r\n", "  ", ""};
        return Pick(separators);
    }
    std::string Value()
    {
        std::string value;
        // A value starts with neither white space nor "=".
        static const std::vector<std::string> starts = {"A", "B", "AB", "N", "x", "1", ":", "Q", "y", "BA", "'"};
        value += Pick(starts);
        const int more = Below(4);
        for (int i = 0; i < more; ++i) {
            static const std::vector<std::string> glue = {" ", ":", "\n", "", "  ", "="};
            value += Pick(glue);
            value += WordText();
        }
        if (OneIn(3)) {
            value += OneIn(2) ? " " : ":";
        }
        return value;
    }
    std::string AliasDirective()
    {
        static const std::vector<std::string> keywords = {"ALIAS", "alias", "Alias"};
        static const std::vector<std::string> before_equals = {" = ", "=", " =", "= ", " == ", "\n=\t", " junk = "};
        const std::string name = Name();
        std::string value = Value();
        // Values that start with a name, their own included, are the ones
        // that expand again where a removed character meets them.
        if (OneIn(3)) {
            value = (OneIn(2) ? name : Name()) + Pick(std::vector<std::string>{"", " ", ":", "x"}) + value;
        }
        return "#" + Pick(keywords) + Pick(std::vector<std::string>{" ", "\t", "\n"}) + name + Pick(before_equals) +
               value + ";";
    }
    std::string Malformed(bool at_end)
    {
        static const std::vector<std::string> broken = {
            "# ALIAS x=1;", "#ALIAS;",      "#ALIAS =5;",   "#ALIAS x;",   "#ALIAS x=;", "#FOO x;",
            "#;",           "#ALIAS   ;",   "#ALIAS x = ;", "#ALIAS x y;", "#ALIAS = ;", "#ALIAS x = a#ALIAS y=1;",
            "#ALIASX x=1;", "#ALIAS x=\n;", "#\n",          "#ALIAS x==;"};
        if (at_end && OneIn(3)) {
            return Pick(std::vector<std::string>{"#ALIAS x=1", "#ALIAS", "#", "#ALIAS x"});
        }
        return Pick(broken);
    }
    std::string Comment()
    {
        std::string comment = "/*";
        const int parts = Below(3);
        for (int i = 0; i < parts; ++i) {
            comment += Pick(std::vector<std::string>{" x ", "#ALIAS A=9;", "\n", "/*", ";", "*", "/"});
        }
        return comment + "*/";
    }
    std::string Include() { return "#INCLUDELIST " + Pick(include_names) + ";"; }

    std::string List(int tokens)
    {
        std::string list;
        for (int i = 0; i < tokens; ++i) {
            const int total = 6 + directive_weight + glue_weight + malformed_weight + comment_weight +
                              (include_names.empty() ? 0 : 1);
            int roll = Below(total);
            if ((roll -= 6) < 0) {
                list += WordText();
                list += SeparatorText();
            } else if ((roll -= directive_weight) < 0) {
                list += AliasDirective();
                // What follows a directive decides what its removal takes.
                list += Pick(std::vector<std::string>{"\n", "", "x", "xy", " ", ":", "A", "AB\n", "B", "\nA", "\nN ",
                                                      "xN", " Q1:"});
            } else if ((roll -= glue_weight) < 0) {
                list += AliasDirective();
            } else if ((roll -= malformed_weight) < 0) {
                if (OneIn(4)) {
                    list += Malformed(false);
                }
            } else if ((roll -= comment_weight) < 0) {
                list += Comment();
            } else {
                list += Include();
            }
        }
        if (malformed_weight > 0 && OneIn(40)) {
            list += Malformed(true);
        }
        if (comment_weight > 0 && OneIn(60)) {
            list += "/* open";
        }
        return list;
    }
};

void ExpectSameAsLiteral(const std::string &list)
{
    const Preprocessed literal = PreprocessLiterally(list);
    const Preprocessed actual = Preprocess(list);
    ASSERT_EQ(actual.messages, literal.messages) << "list: \"" << Escaped(list) << "\"";
    ASSERT_EQ(actual.text.has_value(), literal.text.has_value()) << "list: \"" << Escaped(list) << "\"";
    if (literal.text) {
        ASSERT_EQ(Escaped(*actual.text), Escaped(*literal.text)) << "list: \"" << Escaped(list) << "\"";
    }
}

TEST(GeneratedLists, MixedListsMatchTheLiteralProcess)
{
    ListGenerator generator(20240601);
    for (int i = 0; i < 4000; ++i) {
        ExpectSameAsLiteral(generator.List(1 + generator.Below(30)));
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Directives glued to each other and to words: the junctions where a removed
// character joins words across directives.
TEST(GeneratedLists, GluedDirectivesMatchTheLiteralProcess)
{
    ListGenerator generator(77);
    generator.directive_weight = 6;
    generator.glue_weight = 8;
    generator.malformed_weight = 0;
    generator.comment_weight = 0;
    for (int i = 0; i < 4000; ++i) {
        ExpectSameAsLiteral(generator.List(1 + generator.Below(40)));
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Long lists with many aliases, redefinitions and values that use each other.
TEST(GeneratedLists, LongListsMatchTheLiteralProcess)
{
    ListGenerator generator(4242);
    generator.directive_weight = 5;
    generator.glue_weight = 3;
    generator.malformed_weight = 0;
    generator.comment_weight = 1;
    for (int i = 0; i < 300; ++i) {
        ExpectSameAsLiteral(generator.List(200 + generator.Below(400)));
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Chains of aliases whose values start with the alias before them, some
// going on behind that first word, defined in glued runs and used where
// removed characters cut words: values expanded at a junction word by word.
TEST(GeneratedLists, AliasChainsAtJunctionsMatchTheLiteralProcess)
{
    std::mt19937 random(31337);
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    for (int i = 0; i < 3000; ++i) {
        std::string list;
        const int aliases = 1 + below(12);
        // Half the lists chain every alias to the one before, mostly glued,
        // so that a word names the end of a deep chain.
        const bool chained = i % 2 == 0;
        for (int k = 0; k < aliases; ++k) {
            const std::string name = "C" + std::to_string(chained ? k : below(aliases));
            const std::string earlier = "C" + std::to_string(chained ? k - 1 : below(aliases));
            static const std::vector<std::string> tails = {"", "", " t", ":u v", "w", " ", "\n"};
            list += "#ALIAS " + name + "=" + (below(5) ? earlier : "z") + tails[below(static_cast<int>(tails.size()))] +
                    ";";
            static const std::vector<std::string> between = {"", "", "", "q", "qr", "\n", "C", "q C"};
            list += chained && below(4) ? "" : between[below(static_cast<int>(between.size()))];
        }
        const int uses = below(8);
        for (int k = 0; k < uses; ++k) {
            list += "C" + std::to_string(below(aliases)) + (below(3) ? " " : ":");
        }
        ExpectSameAsLiteral(list);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Included files with aliases, comments, errors of their own and includes of
// each other (so also recursion), against the same files read literally.
TEST(GeneratedLists, ListsWithIncludesMatchTheLiteralProcess)
{
    ListGenerator generator(9001);
    generator.include_names = {"one.txt", "two.txt", "ONE.TXT", "missing.txt", "\"two.txt\""};
    for (int round = 0; round < 60; ++round) {
        ScratchDir dir;
        InDirectory in_dir(dir.path());
        // Files that include nothing, then files that may include anything.
        ListGenerator plain(round);
        dir.Write("two.txt", plain.List(1 + plain.Below(15)));
        dir.Write("one.txt", generator.List(1 + generator.Below(15)));
        for (int i = 0; i < 40; ++i) {
            ExpectSameAsLiteral(generator.List(1 + generator.Below(20)));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

} // namespace
