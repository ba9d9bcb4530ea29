// A slow, literal rendering of command-list preprocessing, step by step as the
// program's behaviour is defined: whole-text buffers, a first pass that copies
// character by character, a second pass that collects the text backwards and
// applies each alias directive to everything behind it by moving the rest of
// the buffer.  It is the oracle the program's linear implementation is
// compared with; it prints nothing, collecting its messages instead.
#ifndef ZARK_TESTS_CMDLIST_LITERAL_REFERENCE_H
#define ZARK_TESTS_CMDLIST_LITERAL_REFERENCE_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct Preprocessed {
    std::optional<std::string> text;
    std::string messages;
};

// Reads file to its end, as ReadCommands does.  Included files are opened
// relative to the current directory.
Preprocessed LiteralReadCommands(std::FILE *file, std::vector<std::string> *chain, int depth);

#endif
