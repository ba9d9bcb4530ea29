// Running the command-list reader on a text, with what it prints captured.
#ifndef ZARK_TESTS_CMDLIST_CMDLIST_TEST_SUPPORT_H
#define ZARK_TESTS_CMDLIST_CMDLIST_TEST_SUPPORT_H

#include <filesystem>
#include <functional>
#include <string>

#include "cmdlist/literal_reference.h"
#include "cmdlist/read_commands.h"

// Runs body with standard output going to a temporary file; returns what was
// written.
std::string CaptureStdout(const std::function<void()> &body);

// ReadCommands on a temporary file holding content.
Preprocessed Preprocess(const std::string &content, IncludeChain *chain, int depth = 0);
inline Preprocessed Preprocess(const std::string &content)
{
    IncludeChain chain;
    return Preprocess(content, &chain, 0);
}

// The literal reference on the same content.
Preprocessed PreprocessLiterally(const std::string &content);

// Makes dir the current directory for as long as it lives.
class InDirectory {
public:
    explicit InDirectory(const std::filesystem::path &dir);
    ~InDirectory();
    InDirectory(const InDirectory &) = delete;
    InDirectory &operator=(const InDirectory &) = delete;

private:
    std::filesystem::path saved_;
};

#endif
