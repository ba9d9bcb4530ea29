#include "cmdlist/read_commands.h"

#include "cmdlist/command_text.h"
#include "cmdlist/directives.h"

bool ProcessDirectives(std::string &text, IncludeChain *chain, int depth)
{
    std::optional<std::string> first = ProcessDirectivesFirstPass(text, chain, depth);
    if (!first) {
        return false;
    }
    std::optional<std::string> second = ProcessDirectivesSecondPass(*first);
    if (!second) {
        return false;
    }
    text = std::move(*second);
    return true;
}

std::optional<std::string> ReadCommands(std::FILE *file, IncludeChain *chain, int depth)
{
    std::optional<std::string> text = ReadCommandText(file);
    if (!text || !ProcessDirectives(*text, chain, depth)) {
        return std::nullopt;
    }
    return text;
}
