// The second pass: aliases applied and their directives removed.
//
// ALIAS directives take effect from the last to the first, each on the text
// behind it as the later ones left it, and each takes the first character
// behind its ";" away (grammar in cmdlist/directives.h).  Done that way the
// work grows with the number of directives times the length of the text.
// This pass gets the same text in one forward sweep instead.
//
// Think of each directive as a stage that the text behind it flows through,
// the stages of later directives first.  A stage drops the first character
// that reaches it and replaces whole words equal to its name.  Once a stage
// has dropped its character and seen a separator go by, it only maps words;
// a run of such stages maps a word to the expansion of the latest alias of
// that name, which the alias table keeps ready.  So a word carries a level,
// the number of aliases that still apply to it, and is looked up once at the
// end.
//
// Only two kinds of stage need handling one at a time, each exactly once:
// one whose directive is followed directly by the next directive, so that it
// has not dropped its character yet, and one whose text ends in a word that
// the next directive cut off, so that the word joins whatever reaches it
// first.  These junctions wait on a stack; what flows down meets them from
// the newest to the oldest, and each resolves on the first word or separator
// it receives, after the aliases between it and the word's level have been
// applied to that word.
//
// Applying those aliases stays cheap: a word from the text is looked up by
// name, a word of a value already knows its alias, and a word that left a
// junction is compared only with the aliases between that junction and the
// next, a stretch no other word crosses.  A value whose first word names an
// alias again is followed with jump pointers, and characters joined onto a
// word are added in front without copying it.  So the whole pass takes time
// in proportion to the text plus what it produces; beyond that, a word that
// left a junction may once be compared with an alias name of its length.
#include <deque>
#include <vector>

#include "cmdlist/alias_directive.h"
#include "cmdlist/alias_table.h"
#include "cmdlist/command_text.h"
#include "cmdlist/directives.h"

namespace {

struct AliasDirectiveSpan {
    std::size_t hash;      // where the "#" stands
    std::size_t semicolon; // where the ";" stands
    AliasDefinition definition;
};

// Reads every directive of the text.  They take effect from the last to the
// first, so that is the order in which they are checked; the first failure
// found is the one reported.
std::optional<std::vector<AliasDirectiveSpan>> ReadAliasDirectives(std::string_view text)
{
    std::vector<std::size_t> hashes;
    for (std::size_t pos = text.find('#'); pos != std::string_view::npos; pos = text.find('#', pos + 1)) {
        hashes.push_back(pos);
    }
    std::vector<AliasDirectiveSpan> spans(hashes.size());
    for (std::size_t k = hashes.size(); k-- > 0;) {
        const std::size_t hash = hashes[k];
        const std::optional<std::string_view> name = GetDirective(text, hash + 1);
        if (!name) {
            return std::nullopt;
        }
        if (!IsAliasDirective(*name)) {
            std::printf("Error reading command list file in second pass, unrecognised directive %.*s\n",
                        static_cast<int>(name->size()), name->data());
            return std::nullopt;
        }
        const std::size_t name_end = hash + 1 + name->size();
        if (text[name_end] == ';') {
            std::puts("Error - missing argument for an ALIAS directive in the input file.");
            return std::nullopt;
        }
        const std::optional<std::string_view> argument = GetDirectiveArg(text, name_end);
        if (!argument) {
            return std::nullopt;
        }
        std::string_view shown;
        const std::optional<AliasDefinition> definition = ProcessAliasDirective(*argument, &shown);
        if (!definition) {
            std::printf("An error occurred when trying to process alias %.*s\n", static_cast<int>(shown.size()),
                        shown.data());
            return std::nullopt;
        }
        spans[k] = {hash, name_end + argument->size(), *definition};
    }
    return spans;
}

// What flows down through the stages.
struct Token {
    enum class Kind : unsigned char { Word, Separator, ValueRest } kind;
    // Word: the characters joined on in front of it at junctions, kept last
    // first (an index into AliasSweep::prefixes, -1 for none), then tail.
    // Separator: tail.
    int prefix = -1;
    std::string_view tail;
    int level = 0; // Word: aliases [0, level) still apply
    // Word: how its alias is found.  From the text: looked up by name.  From
    // a value: known, in match.  From a junction: only the aliases between
    // that junction and the next can apply, each compared in turn.
    enum class Origin : unsigned char { Text, Value, Junction } origin = Origin::Text;
    int match = -1;
    int alias = 0;          // ValueRest: the rest of this alias's value ...
    std::size_t offset = 0; // ... from here, with aliases [0, alias) to apply
};

Token Word(std::string_view text, int level)
{
    return {Token::Kind::Word, -1, text, level, Token::Origin::Text, -1, 0, 0};
}
Token Separator(std::string_view text)
{
    return {Token::Kind::Separator, -1, text, 0, Token::Origin::Text, -1, 0, 0};
}
Token ValueRest(int alias, std::size_t offset)
{
    return {Token::Kind::ValueRest, -1, {}, 0, Token::Origin::Text, -1, alias, offset};
}

// A stage that has not settled yet: the directive of alias level - 1, whose
// results carry that level.
struct Junction {
    int level;
    bool undropped;           // its character has not been dropped yet
    std::string_view pending; // else: the word cut off at its end
};

struct AliasSweep {
    const std::string &text;
    AliasTable table;
    std::vector<Junction> junctions; // oldest first
    std::deque<Token> flow;
    std::deque<std::string> prefixes; // see Token
    std::vector<int> rests;           // scratch of ReplaceFrontWord
    std::string out;
    bool too_long = false;

    void Emit(std::string_view piece)
    {
        if (too_long || out.size() + piece.size() > command_text_limit) {
            too_long = true;
            return;
        }
        out.append(piece);
    }

    void EmitExpansion(int alias, std::size_t offset)
    {
        if (too_long || !ReplaceAlias(table, alias, offset, out)) {
            too_long = true;
        }
    }

    void EmitWord(std::string_view word, int level)
    {
        const int alias = IsAlias(table, word, 0, level);
        if (alias < 0) {
            Emit(word);
        } else {
            EmitExpansion(alias, 0);
        }
    }

    std::size_t WordLength(const Token &word) const
    {
        return (word.prefix < 0 ? 0 : prefixes[word.prefix].size()) + word.tail.size();
    }

    std::string WordText(const Token &word) const
    {
        std::string whole;
        if (word.prefix >= 0) {
            whole.assign(prefixes[word.prefix].rbegin(), prefixes[word.prefix].rend());
        }
        whole += word.tail;
        return whole;
    }

    bool WordIs(const Token &word, std::string_view name) const
    {
        if (WordLength(word) != name.size()) {
            return false;
        }
        std::size_t i = 0;
        if (word.prefix >= 0) {
            const std::string &prefix = prefixes[word.prefix];
            for (auto c = prefix.rbegin(); c != prefix.rend(); ++c, ++i) {
                if (*c != name[i]) {
                    return false;
                }
            }
        }
        return name.substr(i) == word.tail;
    }

    void EmitToken(const Token &token)
    {
        switch (token.kind) {
        case Token::Kind::Word:
            if (token.origin == Token::Origin::Value) {
                if (token.match >= 0) {
                    EmitExpansion(token.match, 0);
                } else {
                    Emit(token.tail);
                }
            } else if (token.prefix >= 0) {
                EmitWord(WordText(token), token.level);
            } else {
                EmitWord(token.tail, token.level);
            }
            break;
        case Token::Kind::Separator:
            Emit(token.tail);
            break;
        case Token::Kind::ValueRest:
            EmitExpansion(token.alias, token.offset);
            break;
        }
    }

    // The latest alias among [level, word.level) that the word names, or -1.
    int AliasOfWord(const Token &word, int level) const
    {
        switch (word.origin) {
        case Token::Origin::Value:
            return word.match >= level ? word.match : -1;
        case Token::Origin::Junction:
            for (int alias = word.level - 1; alias >= level; --alias) {
                if (WordIs(word, table.aliases[alias].name)) {
                    return alias;
                }
            }
            return -1;
        case Token::Origin::Text:
            break;
        }
        return IsAlias(table, word.tail, level, word.level);
    }

    // Splits a value rest at the front of the flow into its first word or
    // separator and what follows.
    void SplitValueRest()
    {
        const int alias = flow.front().alias;
        const std::size_t offset = flow.front().offset;
        const std::string_view value = table.aliases[alias].value;
        flow.pop_front();
        std::size_t end = offset + 1;
        if (!IsWordSeparator(value[offset])) {
            while (end < value.size() && !IsWordSeparator(value[end])) {
                ++end;
            }
        }
        if (end < value.size()) {
            flow.push_front(ValueRest(alias, end));
        }
        const std::string_view first = value.substr(offset, end - offset);
        if (IsWordSeparator(first[0])) {
            flow.push_front(Separator(first));
        } else {
            Token word = Word(first, alias);
            word.origin = Token::Origin::Value;
            word.match = AliasOfValueWord(table, alias, offset);
            flow.push_front(word);
        }
    }

    // The front word names alias, which is at least level: it becomes that
    // alias's value, whose first word may name another alias at least level,
    // and so on.  The rests of the values stay behind it in the flow.
    void ReplaceFrontWord(int alias, int level)
    {
        flow.pop_front();
        rests.clear();
        int at = alias;
        for (;;) {
            const int rest = table.aliases[at].nearest_rest;
            if (rest >= level) {
                const int next = table.aliases[rest].first_word_alias;
                if (next < level) {
                    at = rest;
                    break;
                }
                rests.push_back(rest);
                at = next;
            } else {
                at = LastFirstWordAliasFrom(table, at, level);
                break;
            }
        }
        for (int rest : rests) {
            flow.push_front(ValueRest(rest, table.aliases[rest].first_word_end));
        }
        flow.push_front(ValueRest(at, 0));
    }

    // Applies the aliases from level on to the front of the flow until it is
    // a separator or a word with exactly that level.
    void Settle(int level)
    {
        for (;;) {
            Token &front = flow.front();
            if (front.kind == Token::Kind::Separator) {
                return;
            }
            if (front.kind == Token::Kind::ValueRest) {
                SplitValueRest();
                continue;
            }
            if (front.level == level) {
                return;
            }
            const int alias = AliasOfWord(front, level);
            if (alias < 0) {
                front.level = level;
                front.origin = Token::Origin::Junction;
                return;
            }
            ReplaceFrontWord(alias, level);
        }
    }

    // Lets the flow down through the junctions, each resolving on what
    // reaches it first, and writes out what gets through.  At the end of the
    // text a junction still holding a cut-off word lets it go on by itself.
    void Pour(bool at_end)
    {
        while (!junctions.empty()) {
            const Junction junction = junctions.back();
            if (flow.empty()) {
                if (!at_end) {
                    return;
                }
                junctions.pop_back();
                if (!junction.undropped) {
                    Token word = Word(junction.pending, junction.level);
                    word.origin = Token::Origin::Junction;
                    flow.push_back(word);
                }
                continue;
            }
            junctions.pop_back();
            Settle(junction.level);
            Token &front = flow.front();
            if (junction.undropped) {
                if (front.kind == Token::Kind::Word && WordLength(front) > 1) {
                    front.origin = Token::Origin::Junction;
                    if (front.prefix >= 0 && !prefixes[front.prefix].empty()) {
                        prefixes[front.prefix].pop_back();
                    } else {
                        front.tail.remove_prefix(1);
                    }
                } else {
                    flow.pop_front();
                }
            } else if (front.kind == Token::Kind::Word) {
                front.origin = Token::Origin::Junction;
                if (front.prefix < 0) {
                    front.prefix = static_cast<int>(prefixes.size());
                    prefixes.emplace_back();
                }
                prefixes[front.prefix].append(junction.pending.rbegin(), junction.pending.rend());
            } else {
                Token word = Word(junction.pending, junction.level);
                word.origin = Token::Origin::Junction;
                flow.push_front(word);
            }
        }
        for (const Token &token : flow) {
            EmitToken(token);
        }
        flow.clear();
        prefixes.clear();
    }

    // A word of the text (possibly empty) and the separator behind it.
    void Deliver(std::string_view word, int level, std::string_view separator)
    {
        if (junctions.empty()) {
            if (!word.empty()) {
                EmitWord(word, level);
            }
            Emit(separator);
            return;
        }
        if (!word.empty()) {
            flow.push_back(Word(word, level));
        }
        flow.push_back(Separator(separator));
        Pour(false);
    }

    void Run(const std::vector<AliasDirectiveSpan> &spans)
    {
        const std::string_view all = text;
        Emit(all.substr(0, spans.front().hash));
        bool undropped = false;
        std::size_t word_start = 0;
        std::size_t segment_end = 0;
        int level = 0;
        for (std::size_t k = 0; k < spans.size() && !too_long; ++k) {
            // The stage of the directive before settles here or waits.
            if (k > 0 && undropped) {
                junctions.push_back({level, true, {}});
            } else if (k > 0 && word_start < segment_end) {
                junctions.push_back({level, false, all.substr(word_start, segment_end - word_start)});
            }
            DefineAlias(table, spans[k].definition.name, spans[k].definition.value);
            level = static_cast<int>(k) + 1;
            std::size_t pos = spans[k].semicolon + 1;
            segment_end = k + 1 < spans.size() ? spans[k + 1].hash : all.size();
            undropped = pos >= segment_end;
            if (!undropped) {
                ++pos; // the character behind the ";" goes with the directive
            }
            word_start = pos;
            for (; pos < segment_end; ++pos) {
                if (IsWordSeparator(all[pos])) {
                    Deliver(all.substr(word_start, pos - word_start), level, all.substr(pos, 1));
                    word_start = pos + 1;
                }
            }
        }
        if (!undropped && word_start < segment_end) {
            flow.push_back(Word(all.substr(word_start, segment_end - word_start), level));
        }
        Pour(true);
    }
};

} // namespace

std::optional<std::string> ProcessDirectivesSecondPass(const std::string &text)
{
    const std::optional<std::vector<AliasDirectiveSpan>> spans = ReadAliasDirectives(text);
    if (!spans) {
        return std::nullopt;
    }
    if (spans->empty()) {
        return text;
    }
    AliasSweep sweep{text, {}, {}, {}, {}, {}, {}, false};
    sweep.out.reserve(text.size());
    sweep.Run(*spans);
    if (sweep.too_long) {
        PrintCommandTextTooLong();
        return std::nullopt;
    }
    return std::move(sweep.out);
}
