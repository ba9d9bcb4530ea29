// The argument of an ALIAS directive (grammar in cmdlist/directives.h).
#ifndef ZARK_CMDLIST_ALIAS_DIRECTIVE_H
#define ZARK_CMDLIST_ALIAS_DIRECTIVE_H

#include <optional>
#include <string_view>

struct AliasDefinition {
    std::string_view name;
    std::string_view value;
};

// Parses the argument as GetDirectiveArg read it (starting with the character
// that ended the name ALIAS).  On failure prints why and returns nothing;
// *shown is then the part of the argument the caller's own message quotes:
// up to the end of the alias name once one was found, else all of it.
std::optional<AliasDefinition> ProcessAliasDirective(std::string_view argument, std::string_view *shown);

#endif
