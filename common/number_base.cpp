#include "common/number_base.h"

#include <array>
#include <cctype>

namespace {

struct BaseKeyword {
    std::string_view text;
    NumberBase base;
};

constexpr std::array<BaseKeyword, 12> kBaseKeywords{{
    {"2", 2}, {"i", 2}, {"0b", 2},
    {"8", 8}, {"o", 8}, {"0o", 8},
    {"10", 10}, {"n", 10}, {"0d", 10},
    {"16", 16}, {"h", 16}, {"0x", 16},
}};

bool EqualIgnoringCase(std::string_view text, std::string_view keyword)
{
    if (text.size() != keyword.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(keyword[i]);
        if (std::tolower(a) != std::tolower(b)) {
            return false;
        }
    }
    return true;
}

constexpr char kDigits[] = "0123456789abcdef";

} // namespace

NumberBase GetBase(std::string_view text)
{
    for (const BaseKeyword &keyword : kBaseKeywords) {
        if (EqualIgnoringCase(text, keyword.text)) {
            return keyword.base;
        }
    }
    return -1;
}

char *itoa(std::uint32_t value, char *buffer, int base)
{
    // A base outside 2..16 would divide by zero or run off the digit set;
    // fall back to decimal rather than write garbage.
    if (base < 2 || base > 16) {
        base = 10;
    }
    const auto divisor = static_cast<std::uint32_t>(base);
    char reversed[32];
    int count = 0;
    do {
        reversed[count++] = kDigits[value % divisor];
        value /= divisor;
    } while (value != 0);
    for (int i = 0; i < count; ++i) {
        buffer[i] = reversed[count - 1 - i];
    }
    buffer[count] = '\0';
    return buffer;
}

std::string ToBaseText(std::uint32_t value, int base)
{
    char buffer[34];
    return itoa(value, buffer, base);
}
