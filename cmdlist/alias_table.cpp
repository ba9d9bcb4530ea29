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
    const AliasTable::Definitions &definitions = found->second;
    int latest = definitions.latest;
    if (latest >= last) {
        const std::vector<int> &earlier = definitions.earlier;
        const auto after = std::lower_bound(earlier.begin(), earlier.end(), last);
        if (after == earlier.begin()) {
            return -1;
        }
        latest = *(after - 1);
    }
    return latest >= first ? latest : -1;
}

void DefineAlias(AliasTable &table, std::string_view name, std::string_view value)
{
    const int index = static_cast<int>(table.aliases.size());
    Alias alias{name, value, table.pieces.size(), 0, 0};
    std::vector<AliasPiece> &pieces = table.pieces;
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
                pieces.push_back({own_text, -1, value.substr(own_text, i - own_text), false, -1});
                alias.length = CappedSum(alias.length, i - own_text);
            }
            const Alias &used = table.aliases[earlier];
            AliasPiece piece{i, earlier, {}, true, earlier};
            if (used.end_piece - used.first_piece == 1) {
                piece = pieces[used.first_piece];
                piece.offset = i;
                piece.whole_word = true;
                piece.matched = earlier;
            }
            pieces.push_back(piece);
            alias.length = CappedSum(alias.length, used.length);
            own_text = end;
        }
        i = end;
    }
    if (own_text < value.size()) {
        pieces.push_back({own_text, -1, value.substr(own_text), false, -1});
        alias.length = CappedSum(alias.length, value.size() - own_text);
    }

    while (alias.first_word_end < value.size() && !IsWordSeparator(value[alias.first_word_end])) {
        ++alias.first_word_end;
    }
    alias.end_piece = pieces.size();
    const AliasPiece &first = pieces[alias.first_piece];
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
    const auto [entry, added] = table.by_name.try_emplace(name, AliasTable::Definitions{index, {}});
    if (!added) {
        entry->second.earlier.push_back(entry->second.latest);
        entry->second.latest = index;
    }
    table.aliases.push_back(std::move(alias));
}

int AliasOfValueWord(const AliasTable &table, int alias, std::size_t offset)
{
    const Alias &at = table.aliases[alias];
    const auto begin = table.pieces.begin() + static_cast<std::ptrdiff_t>(at.first_piece);
    const auto end = table.pieces.begin() + static_cast<std::ptrdiff_t>(at.end_piece);
    const auto after =
        std::upper_bound(begin, end, offset, [](std::size_t o, const AliasPiece &piece) { return o < piece.offset; });
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
    const Alias &replaced = table.aliases[alias];
    const AliasPiece *const begin = table.pieces.data() + replaced.first_piece;
    const AliasPiece *const end = table.pieces.data() + replaced.end_piece;
    // The piece holding the offset: the last one that begins at or before it.
    const AliasPiece *first =
        std::upper_bound(begin, end, offset, [](std::size_t o, const AliasPiece &piece) { return o < piece.offset; });
    --first;
    const std::size_t skipped = first->whole_word ? 0 : offset - first->offset;

    std::size_t length = replaced.length;
    if (offset > 0) {
        length = skipped > 0 ? first->text.size() - skipped : PieceLength(table, *first);
        for (const AliasPiece *piece = first + 1; piece != end; ++piece) {
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
    const AliasPiece *next = first;
    if (skipped > 0) {
        out.append(first->text.substr(skipped));
        ++next;
    }
    Pending top{next, end};
    for (;;) {
        if (top.next == top.end) {
            if (stack.empty()) {
                return true;
            }
            top = stack.back();
            stack.pop_back();
            continue;
        }
        const AliasPiece &piece = *top.next++;
        if (piece.alias < 0) {
            out.append(piece.text);
        } else {
            stack.push_back(top);
            const Alias &inner = table.aliases[piece.alias];
            top = {table.pieces.data() + inner.first_piece, table.pieces.data() + inner.end_piece};
        }
    }
}
