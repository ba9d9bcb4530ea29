// The aliases of one command-list text and what each stands for.
//
// An alias's value is stored with the aliases defined before it already
// applied, as pieces: stretches of its own text and references to earlier
// aliases.  A reference never points at an alias of a single piece (that
// piece is copied instead), so writing an expansion out costs no more than
// its length, however deeply aliases use each other, and a value is never
// copied out until it is used.
#ifndef ZARK_CMDLIST_ALIAS_TABLE_H
#define ZARK_CMDLIST_ALIAS_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/white_space.h"

// Space, tab, CR, LF, ":" and ";": what separates the words aliases match.
inline bool IsWordSeparator(char c)
{
    return IsWhiteSpace(c) || c == ':' || c == ';';
}

struct AliasPiece {
    std::size_t offset;    // where in the value the piece begins
    int alias;             // >= 0: that alias's expansion stands here; -1: text
    std::string_view text; // when alias is -1
    bool whole_word;       // stands for one word of the value, not for its own text
    int matched;           // whole_word: the alias that word names
};

struct Alias {
    std::string_view name;
    std::string_view value;
    std::size_t first_piece; // its expansion: pieces [first_piece, end_piece) of the table
    std::size_t end_piece;
    std::size_t length; // of the expansion, capped just above command_text_limit

    // The value's first word, when it names an earlier alias, leads to that
    // alias: a tree, walked with skew-binary jump pointers in logarithmic
    // steps.  nearest_rest is the first alias on the walk from this one
    // (itself included) whose value goes on behind its first word.
    std::size_t first_word_end = 0;
    int first_word_alias = -1;
    int jump = 0;
    int depth = 0;
    int nearest_rest = -1;
};

// Aliases in text order; names and values point into the text they came from.
struct AliasTable {
    std::vector<Alias> aliases;
    std::vector<AliasPiece> pieces;
    // The aliases of each name: the latest, and those before it ascending
    // (most names are defined once and need no list).
    struct Definitions {
        int latest;
        std::vector<int> earlier;
    };
    std::unordered_map<std::string_view, Definitions> by_name;
};

// The latest alias among aliases [first, last) named word, or -1.
int IsAlias(const AliasTable &table, std::string_view word, int first, int last);

// Adds the alias, expanding its value with the aliases already defined.
void DefineAlias(AliasTable &table, std::string_view name, std::string_view value);

// The alias that the word starting at offset of the alias's value names
// among the aliases before it, or -1.
int AliasOfValueWord(const AliasTable &table, int alias, std::size_t offset);

// The last alias on the first-word walk from alias (itself included) whose
// index is at least first; alias itself must be.
int LastFirstWordAliasFrom(const AliasTable &table, int alias, int first);

// Appends the expansion of the alias, from the place that stands for the
// given offset of its value (the start or a word boundary), to out.  False,
// with out unchanged, when out would grow beyond command_text_limit.
bool ReplaceAlias(const AliasTable &table, int alias, std::size_t offset, std::string &out);

#endif
