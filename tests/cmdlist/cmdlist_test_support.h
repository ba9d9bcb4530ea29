// Running the command-list reader on a text, with what it prints.
#ifndef ZARK_TESTS_CMDLIST_CMDLIST_TEST_SUPPORT_H
#define ZARK_TESTS_CMDLIST_CMDLIST_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "cmdlist/read_commands.h"
#include "support/capture_stdout.h"
#include "support/scratch_dir.h"

using OpenFile = std::unique_ptr<std::FILE, int (*)(std::FILE *)>;

struct Preprocessed {
    std::optional<std::string> text; // nothing: the list was refused
    std::string messages;
};

// A temporary file holding content, positioned at its start.
inline OpenFile FileHolding(const std::string &content)
{
    OpenFile file(std::tmpfile(), std::fclose);
    std::fwrite(content.data(), 1, content.size(), file.get());
    std::rewind(file.get());
    return file;
}

inline Preprocessed ReadCapturing(std::FILE *file, IncludeChain *chain, int depth = 0)
{
    CaptureStdout capture;
    return {ReadCommands(file, chain, depth), capture.Take()}; // braces evaluate left to right
}

inline Preprocessed Preprocess(const std::string &content)
{
    IncludeChain chain;
    return ReadCapturing(FileHolding(content).get(), &chain);
}

// A hand-worked list and what preprocessing makes of it.
struct Case {
    std::string list;
    std::optional<std::string> text; // nothing: the list is refused
    std::string messages = "";
};

inline void ExpectCases(const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE("list: " + ::testing::PrintToString(c.list.substr(0, 200)));
        const Preprocessed program = Preprocess(c.list);
        EXPECT_EQ(std::tie(program.text, program.messages), std::tie(c.text, c.messages));
    }
}


#endif
