// Reading a command-list file: comments removed, INCLUDELIST and ALIAS
// directives resolved.  The grammar is documented in cmdlist/directives.h.
#ifndef ZARK_CMDLIST_READ_COMMANDS_H
#define ZARK_CMDLIST_READ_COMMANDS_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Names of the files being included around the file being read, outermost
// first; entry d is the file included at depth d.
using IncludeChain = std::vector<std::string>;

// Reads file from its current position to its end (it is not closed) and
// returns the preprocessed text, or nothing after printing why.  depth is 0
// for the top-level file.
std::optional<std::string> ReadCommands(std::FILE *file, IncludeChain *chain, int depth);

#endif
