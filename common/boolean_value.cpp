#include <array>
#include <string>

#include "common/white_space.h"
#include "common/data_value.h"
#include "common/match_arg.h"

namespace {

struct BooleanWord {
    const char *word;
    unsigned char value;
};

// Tried in this order; the first letters differ, so one letter is enough.
constexpr std::array<BooleanWord, 4> kBooleanWords{{
    {"false", 0},
    {"no", 0},
    {"true", 1},
    {"yes", 1},
}};

} // namespace

bool CreateBooleanFromString(std::string_view text, unsigned char &flag)
{
    std::size_t start = 0;
    while (start < text.size() && IsWhiteSpace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    const std::string_view rest = text.substr(start);
    // A NUL would cut the word short for the matcher: "y\0es" is not "y".
    if (rest.find('\0') != std::string_view::npos) {
        return false;
    }
    const std::string word(rest);
    for (const BooleanWord &entry : kBooleanWords) {
        if (MatchArg(word.c_str(), entry.word, '\0', 1) >= 0) {
            flag = entry.value;
            return true;
        }
    }
    return false;
}
