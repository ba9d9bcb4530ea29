// The literal reference of command-list preprocessing (literal_reference.cpp),
// shared by the tests and the preprocessing fuzz target.
#ifndef ZARK_TESTS_CMDLIST_LITERAL_REFERENCE_H
#define ZARK_TESTS_CMDLIST_LITERAL_REFERENCE_H

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using OpenFile = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

struct Preprocessed {
    std::optional<std::string> text; // nothing: the list was refused
    std::string messages;
};

// Reads file to its end as ReadCommands does, opening included files relative
// to the current directory, and collects what it would print.
Preprocessed LiteralReadCommands(std::FILE *file, std::vector<std::string> *chain, int depth);

#endif
