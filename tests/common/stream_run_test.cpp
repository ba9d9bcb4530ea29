#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/stream_run.h"
#include "support/scratch_dir.h"

namespace {

// Bytes left in the stream's buffer reach the file while the run goes on,
// so that someone following the file sees them.
TEST(StreamRun, OutputReachesTheFileWithinASecondOrSo)
{
    ScratchDir dir;
    std::FILE *output = std::fopen((dir / "out.txt").c_str(), "w");
    ASSERT_NE(output, nullptr);
    StreamRunBegin(output);
    std::fputs("first reply\n", output);
    struct stat info {};
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (stat((dir / "out.txt").c_str(), &info) == 0 && info.st_size == 0 &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(info.st_size, 12);
    StreamRunEnd();
    std::fclose(output);
}

// The first signal is only noted; the handlers in place before the run come
// back after it.  A second signal during the run ends the program at once.
TEST(StreamRun, SignalsAreNotedOnceThenTheyEndTheProgram)
{
    std::signal(SIGHUP, SIG_IGN);
    StreamRunBegin(nullptr);
    EXPECT_FALSE(StreamRunInterrupted());
    std::raise(SIGHUP);
    EXPECT_EQ(StreamRunSignal(), SIGHUP);
    StreamRunEnd();
    EXPECT_EQ(StreamRunSignal(), SIGHUP);
    struct sigaction restored {};
    sigaction(SIGHUP, nullptr, &restored);
    EXPECT_EQ(restored.sa_handler, SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        StreamRunBegin(nullptr);
        std::raise(SIGINT);
        std::raise(SIGINT);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
}

} // namespace
