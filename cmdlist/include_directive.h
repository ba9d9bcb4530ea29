// The INCLUDELIST directive: which file it names, whether including it would
// repeat a file already being included, and opening it.  Splicing its text in
// is the first pass's business (cmdlist/first_pass.cpp).
#ifndef ZARK_CMDLIST_INCLUDE_DIRECTIVE_H
#define ZARK_CMDLIST_INCLUDE_DIRECTIVE_H

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "cmdlist/read_commands.h"

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// The names on the include chain in front of the file being read, folded to
// lower case, with how often each occurs: the recursion check in one lookup.
using IncludeNamesInUse = std::unordered_map<std::string, int>;

std::string FoldCase(std::string_view name);

// The file name an argument names: leading white space skipped, then either
// the rest (trailing white space kept) or a double-quoted name in which \"
// stands for a quote.  Nothing when the argument holds no name.
std::optional<std::string> GetIncludeFileName(std::string_view argument);

struct IncludedFile {
    OwnedFile file;
    std::string name; // as written in the directive
};

// Takes the file name from the argument, refuses it when it is in use on the
// chain, records it as chain entry [depth] and opens it.  Nothing after a
// message on any failure.
std::optional<IncludedFile> ProcessIncludeDirective(std::string_view argument, IncludeChain *chain, int depth,
                                                    const IncludeNamesInUse &in_use);

#endif
