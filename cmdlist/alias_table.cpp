#include "cmdlist/alias_table.h"

#include <algorithm>

#include "cmdlist/command_text.h"

namespace {

std::size_t CappedSum(std::size_t a, std::size_t b)
{
    const std::size_t cap = command_text_limit + 1;
    return std::min(cap, std::min(a, cap) + std::min(b, cap));
}

std::size_t PieceLength(const AliasTable &table, const AliasPiece &piece)
{
    return piece.alias < 0 ? piece.text.size() : table.aliases[piece.alias].length;
}

} // namespace

int IsAlias(const AliasTable &table, std::string_view word, int first, int last)
{
    const auto found = table.by_name.find(word);
    if (found == table.by_name.end()) {
        return -1;
    }
    const std::vector<int> &indices = found->second;
    int latest;
    if (indices.back() < last) {
        latest = indices.back();
    } else {
        const auto after = std::lower_bound(indices.begin(), indices.end(), last);
        if (after == indices.begin()) {
            return -1;
        }
        latest = *(after - 1);
    }
    return latest >= first ? latest : -1;
}

void DefineAlias(AliasTable &table, std::string_view name, std::string_view value)
{
    const int index = static_cast<int>(table.aliases.size());
    Alias alias{name, value, {}, 0};
    std::size_t own_text = 0; // start of the value text not yet in a piece
    std::size_t i = 0;
    while (i < value.size()) {
        if (IsWordSeparator(value[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < value.size() && !IsWordSeparator(value[end])) {
            ++end;
        }
        const int earlier = IsAlias(table, value.substr(i, end - i), 0, index);
        if (earlier >= 0) {
            if (own_text < i) {
                alias.expansion.push_back({own_text, -1, value.substr(own_text, i - own_text), false, -1});
                alias.length = CappedSum(alias.length, i - own_text);
            }
            const Alias &used = table.aliases[earlier];
            AliasPiece piece{i, earlier, {}, true, earlier};
            if (used.expansion.size() == 1) {
                piece = used.expansion.front();
                piece.offset = i;
                piece.whole_word = true;
                piece.matched = earlier;
            }
            alias.expansion.push_back(piece);
            alias.length = CappedSum(alias.length, used.length);
            own_text = end;
        }
        i = end;
    }
    if (own_text < value.size()) {
        alias.expansion.push_back({own_text, -1, value.substr(own_text), false, -1});
        alias.length = CappedSum(alias.length, value.size() - own_text);
    }

    while (alias.first_word_end < value.size() && !IsWordSeparator(value[alias.first_word_end])) {
        ++alias.first_word_end;
    }
    const AliasPiece &first = alias.expansion.front();
    alias.first_word_alias = first.whole_word && first.offset == 0 ? first.matched : -1;
    const bool has_rest = alias.first_word_end < value.size();
    if (alias.first_word_alias < 0) {
        alias.jump = index;
        alias.nearest_rest = has_rest ? index : -1;
    } else {
        const Alias &parent = table.aliases[alias.first_word_alias];
        const Alias &parent_jump = table.aliases[parent.jump];
        const Alias &parent_jump_jump = table.aliases[parent_jump.jump];
        alias.depth = parent.depth + 1;
        alias.jump = parent.depth - parent_jump.depth == parent_jump.depth - parent_jump_jump.depth
                         ? parent_jump.jump
                         : alias.first_word_alias;
        alias.nearest_rest = has_rest ? index : parent.nearest_rest;
    }
    table.by_name[name].push_back(index);
    table.aliases.push_back(std::move(alias));
}

int AliasOfValueWord(const AliasTable &table, int alias, std::size_t offset)
{
    const std::vector<AliasPiece> &pieces = table.aliases[alias].expansion;
    const auto after = std::upper_bound(pieces.begin(), pieces.end(), offset,
                                        [](std::size_t o, const AliasPiece &piece) { return o < piece.offset; });
    const AliasPiece &piece = *(after - 1);
    return piece.whole_word && piece.offset == offset ? piece.matched : -1;
}

int LastFirstWordAliasFrom(const AliasTable &table, int alias, int first)
{
    for (;;) {
        const Alias &at = table.aliases[alias];
        if (at.first_word_alias < first) {
            return alias;
        }
        alias = at.jump >= first && at.jump != alias ? at.jump : at.first_word_alias;
    }
}

bool ReplaceAlias(const AliasTable &table, int alias, std::size_t offset, std::string &out)
{
    const std::vector<AliasPiece> &pieces = table.aliases[alias].expansion;
    // The piece holding the offset: the last one that begins at or before it.
    auto first = std::upper_bound(pieces.begin(), pieces.end(), offset,
                                  [](std::size_t o, const AliasPiece &piece) { return o < piece.offset; });
    --first;
    const std::size_t skipped = first->whole_word ? 0 : offset - first->offset;

    std::size_t length = table.aliases[alias].length;
    if (offset > 0) {
        length = skipped > 0 ? first->text.size() - skipped : PieceLength(table, *first);
        for (auto piece = first + 1; piece != pieces.end(); ++piece) {
            length = CappedSum(length, PieceLength(table, *piece));
        }
    }
    if (CappedSum(out.size(), length) > command_text_limit) {
        return false;
    }

    struct Pending {
        const AliasPiece *next;
        const AliasPiece *end;
    };
    std::vector<Pending> stack;
    const AliasPiece *start = &*first;
    if (skipped > 0) {
        out.append(start->text.substr(skipped));
        ++start;
    }
    stack.push_back({start, pieces.data() + pieces.size()});
    while (!stack.empty()) {
        Pending &top = stack.back();
        if (top.next == top.end) {
            stack.pop_back();
            continue;
        }
        const AliasPiece &piece = *top.next++;
        if (piece.alias < 0) {
            out.append(piece.text);
        } else {
            const std::vector<AliasPiece> &inner = table.aliases[piece.alias].expansion;
            stack.push_back({inner.data(), inner.data() + inner.size()});
        }
    }
    return true;
}
