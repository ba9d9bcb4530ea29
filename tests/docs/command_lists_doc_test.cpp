// Runs every example of docs/command-lists.md and compares what the program
// prints with the output written under it, so that the reference cannot drift
// from the program.  The fenced blocks the test reads:
//
//   ```file NAME      a file the next example needs (an included list)
//   ```scs [sim=S]    a SpaceWire list, run with -m=scs, VANTOR_SIM=S if given
//   ```rcs [sim=S]    an RMAP list, run with -m=rcs
//   ```output         what the run prints after the banner (-o= -t=0.2 -d=0)
//   ```dump           optional: the preprocessed list (-du=dump.txt)
//
// ZARK_UPDATE_DOCS=1 rewrites the output and dump blocks from the runs; read
// every change before committing it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace {

const std::filesystem::path kDocument = std::filesystem::path(ZARK_SOURCE_DIR) / "docs" / "command-lists.md";

struct Block {
    std::string info;     // the words after the opening fence
    std::string text;     // its lines, each with its line feed
    std::size_t line = 0; // of the opening fence, from 1
    std::size_t begin = 0, end = 0; // the text's place in the document
};

std::vector<Block> FencedBlocks(const std::string &document)
{
    std::vector<Block> blocks;
    std::optional<Block> open;
    std::size_t line = 0;
    for (std::size_t at = 0; at < document.size(); ++line) {
        const std::size_t stop = document.find('\n', at);
        const std::size_t next = stop == std::string::npos ? document.size() : stop + 1;
        const std::string_view text(document.data() + at, next - at);
        if (text.starts_with("```")) {
            if (open) {
                open->end = at;
                open->text = document.substr(open->begin, at - open->begin);
                blocks.push_back(*open);
                open.reset();
            } else {
                open = Block{std::string(text.substr(3, text.find_last_not_of("\r\n") - 2)), "", line + 1, next, 0};
            }
        }
        at = next;
    }
    return blocks;
}

std::string WithoutTrailingLineFeeds(std::string text)
{
    text.erase(text.find_last_not_of('\n') + 1);
    return text;
}

TEST(CommandListReference, EveryExamplePrintsWhatTheReferenceShows)
{
    std::string document = ReadWholeFile(kDocument);
    const std::vector<Block> blocks = FencedBlocks(document);
    const char *update = std::getenv("ZARK_UPDATE_DOCS");
    const bool updating = update != nullptr && std::string(update) == "1";
    std::vector<std::pair<const Block *, std::string>> rewrites;
    std::vector<const Block *> files;
    int examples = 0;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const Block &list = blocks[k];
        std::istringstream words(list.info);
        std::string mode, setting;
        words >> mode >> setting;
        if (mode == "file") {
            files.push_back(&list);
            continue;
        }
        if (mode != "scs" && mode != "rcs") {
            continue;
        }
        ++examples;
        SCOPED_TRACE("example at line " + std::to_string(list.line) + " of " + kDocument.string());
        ASSERT_TRUE(k + 1 < blocks.size() && blocks[k + 1].info == "output") << "no output block follows";
        const Block &output = blocks[k + 1];
        const Block *dump = k + 2 < blocks.size() && blocks[k + 2].info == "dump" ? &blocks[k + 2] : nullptr;

        ScratchDir scratch;
        for (const Block *file : files) {
            scratch.Write(file->info.substr(file->info.find(' ') + 1), file->text);
        }
        files.clear();
        scratch.Write("list.txt", list.text);
        ProgramOptions options;
        options.cwd = scratch.path();
        options.args = {"-d=0", "-m=" + mode, "-c=list.txt", "-o=", "-t=0.2"};
        if (dump != nullptr) {
            options.args.push_back("-du=dump.txt");
        }
        if (setting.starts_with("sim=")) {
            options.vantor_sim = setting.substr(4);
        }
        const ProgramRun run = RunProgram(options);
        ASSERT_FALSE(run.timed_out);
        const std::string printed = AfterBanner(run.out);
        const std::string dumped = dump != nullptr && scratch.Exists("dump.txt") ? scratch.Read("dump.txt") : "";
        if (updating) {
            rewrites.emplace_back(&output, WithoutTrailingLineFeeds(printed) + "\n");
            if (dump != nullptr) {
                rewrites.emplace_back(dump, WithoutTrailingLineFeeds(dumped) + "\n");
            }
            continue;
        }
        EXPECT_EQ(WithoutTrailingLineFeeds(output.text), WithoutTrailingLineFeeds(printed));
        if (dump != nullptr) {
            EXPECT_EQ(WithoutTrailingLineFeeds(dump->text), WithoutTrailingLineFeeds(dumped)) << "the dump";
        }
    }
    // A reference whose examples the test no longer finds must not pass unseen.
    EXPECT_GE(examples, 20);
    for (auto it = rewrites.rbegin(); it != rewrites.rend(); ++it) {
        document.replace(it->first->begin, it->first->end - it->first->begin, it->second);
    }
    if (updating) {
        WriteWholeFile(kDocument, document);
    }
}

} // namespace
