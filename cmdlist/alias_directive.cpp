#include "cmdlist/alias_directive.h"

#include <cstdio>

#include "common/white_space.h"

std::optional<AliasDefinition> ProcessAliasDirective(std::string_view argument, std::string_view *shown)
{
    *shown = argument;
    // A "#" here is a directive that starts inside this one: taking it as part
    // of the value would swallow text behind the directive.
    if (argument.find('#') != std::string_view::npos) {
        std::puts("Error processing alias directive - another directive begins before its semi-colon");
        return std::nullopt;
    }
    constexpr std::size_t none = std::string_view::npos;
    std::size_t name_begin = none;
    std::size_t name_end = none;
    bool equals = false;
    for (std::size_t i = 0; i < argument.size(); ++i) {
        const char c = argument[i];
        const bool name_open = name_begin != none && name_end == none;
        if (IsWhiteSpace(c)) {
            if (name_open) {
                name_end = i;
            }
        } else if (c == '=') {
            if (equals) {
                continue;
            }
            if (name_begin == none) {
                std::puts("Error processing alias directive - no alias before =");
                return std::nullopt;
            }
            if (name_open) {
                name_end = i;
            }
            equals = true;
        } else if (name_begin == none) {
            name_begin = i;
        } else if (equals) {
            return AliasDefinition{argument.substr(name_begin, name_end - name_begin), argument.substr(i)};
        }
    }
    if (name_begin == none) {
        std::puts("Error processing alias directive - no alias found");
        return std::nullopt;
    }
    *shown = argument.substr(0, name_end == none ? argument.size() : name_end);
    if (!equals) {
        std::puts("Error processing alias directive - no equals character found");
    } else {
        std::puts("Error processing alias directive - no alias value found");
    }
    return std::nullopt;
}
