#include <cstdio>

#include "cmdlist/directives.h"
#include "common/white_space.h"

namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view keyword)
{
    if (text.size() != keyword.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char a = static_cast<unsigned char>(text[i]);
        const unsigned char b = static_cast<unsigned char>(keyword[i]);
        const unsigned char lower_a = (a >= 'A' && a <= 'Z') ? a - 'A' + 'a' : a;
        const unsigned char lower_b = (b >= 'A' && b <= 'Z') ? b - 'A' + 'a' : b;
        if (lower_a != lower_b) {
            return false;
        }
    }
    return true;
}

bool EndsName(char c)
{
    return IsWhiteSpace(c) || c == ';';
}

void PrintView(const char *format, std::string_view text)
{
    std::printf(format, static_cast<int>(text.size()), text.data());
}

} // namespace

bool IsIncludeDirective(std::string_view name)
{
    return EqualsIgnoringCase(name, "INCLUDELIST");
}

bool IsAliasDirective(std::string_view name)
{
    return EqualsIgnoringCase(name, "ALIAS");
}

std::optional<std::string_view> GetDirective(std::string_view text, std::size_t pos)
{
    if (pos < text.size() && EndsName(text[pos])) {
        return std::nullopt;
    }
    std::size_t end = pos;
    while (end < text.size() && !EndsName(text[end]) && end - pos < kMaxDirectiveName) {
        ++end;
    }
    const std::string_view name = text.substr(std::min(pos, text.size()), end - std::min(pos, text.size()));
    if (end >= text.size()) {
        PrintView("Error reading directive, expected semi-colon before end of input: %.*s\n", name);
        return std::nullopt;
    }
    if (!EndsName(text[end])) {
        PrintView("Error reading directive, expected space or semi-colon before maximum directive "
                  "length reached: %.*s\n",
                  name);
        return std::nullopt;
    }
    return name;
}

std::optional<std::string_view> GetDirectiveArg(std::string_view text, std::size_t pos)
{
    if (pos < text.size() && text[pos] == ';') {
        return std::nullopt;
    }
    const std::size_t start = std::min(pos, text.size());
    const std::size_t semicolon = text.find(';', start);
    if (semicolon == std::string_view::npos) {
        PrintView("Error reading directive argument, expected semi-colon before end of input: %.*s\n",
                  text.substr(start));
        return std::nullopt;
    }
    return text.substr(start, semicolon - start);
}
