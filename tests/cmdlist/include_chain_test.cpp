// INCLUDELIST where no golden run reaches: nesting as deep as the open files
// allow.  Every message, and including real files by every form of name, are
// golden cases (tests/e2e/cases/cmdlist).
#include <sys/resource.h>

#include "cmdlist/cmdlist_test_support.h"
#include "support/scratch_dir.h"

namespace {

const std::string kCannotOpen = "Error processing INCLUDELIST directive - unable to open specified file ";
const std::string kFailedIn = "Error reading commands from included file ";

class Includes : public ::testing::Test {
protected:
    ScratchDir dir;
    InDirectory in_dir{dir.path()};
};

// Every level keeps its file open while deeper ones are read, so a chain as
// deep as the open-file limit fails there, reported at each level; files
// side by side never come near it.
TEST_F(Includes, AsDeepAsTheOpenFileLimitFailAtTheLimit)
{
    const int files = 150, limit = 64;
    for (int i = 1; i <= files; ++i) {
        dir.Write("f" + std::to_string(i), i < files ? "#INCLUDELIST f" + std::to_string(i + 1) + ";" : "end");
    }
    EXPECT_EQ(Preprocess("#INCLUDELIST f1;").text, "end");

    const OpenFile top = FileHolding("#INCLUDELIST f1;");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlimit lowered{limit, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    CaptureStdout capture;
    int failing = limit + 2; // one past the free descriptors; the listing's own is counted below
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        failing -= std::stoi(entry.path().filename().string()) < limit ? 1 : 0;
    }
    IncludeChain chain;
    const bool read = ReadCommands(top.get(), &chain, 0).has_value();
    const std::string messages = capture.Take();
    // Files side by side are each closed before the next is opened.
    std::string side_by_side, ends;
    for (int i = 0; i < 1000; ++i) {
        side_by_side += "#INCLUDELIST f" + std::to_string(files) + ";";
        ends += "end";
    }
    const std::optional<std::string> many = Preprocess(side_by_side).text;
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(many, ends);

    std::string expected = kCannotOpen + "f" + std::to_string(failing) + "\n";
    for (int level = failing - 1; level >= 1; --level) {
        expected += kFailedIn + "f" + std::to_string(level) + "\n";
    }
    EXPECT_FALSE(read);
    EXPECT_EQ(messages, expected);
}

} // namespace
