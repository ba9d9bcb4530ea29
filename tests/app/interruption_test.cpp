// A stream run ended by a signal: what it keeps, what it says, and its exit
// status.  Files that cannot be written and the exit statuses of -strict are
// golden cases (tests/e2e/cases/outcome).
#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/pty_session.h"
#include "support/run_program.h"
#include "support/scratch_dir.h"

namespace {

std::string LastLine(const std::string &text)
{
    const std::size_t end = text.empty() ? 0 : text.size() - 1;
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1);
}

// Receives that wait out their time-out one after the other: a run that
// lasts about 0.3 s per receive.
constexpr int kSlowListCommands = 14;
std::string SlowList()
{
    std::string list = "S d:1 2;\n";
    for (int receive = 1; receive < kSlowListCommands; ++receive) {
        list += "R l:2;\n";
    }
    return list;
}

TEST(Interruption, SignalStopsTheRunAndKeepsWhatWasReceived)
{
    for (const int signal_number : {SIGTERM, SIGHUP}) {
        ScratchDir dir;
        dir.Write("list.txt", SlowList());
        ProgramOptions options{{"-d=0", "-m=scs", "-c=list.txt", "-o=out.txt", "-t=0.3", "-json=run.jsonl"}, "",
                               "far_end=loopback", dir.path(), 30};
        options.signal_number = signal_number;
        options.signal_after_seconds = 1.0;
        const ProgramRun run = RunProgram(options);
        EXPECT_EQ(run.exit_status, 128 + signal_number) << run.out;
        const std::string name = signal_number == SIGTERM ? "SIGTERM" : "SIGHUP";
        const std::string last = LastLine(run.out.substr(0, run.out.rfind("Summary: ")));
        EXPECT_EQ(last.rfind("The run was interrupted by " + name + " after ", 0), 0U) << run.out;
        EXPECT_TRUE(last.ends_with(" of " + std::to_string(kSlowListCommands) +
                                   " commands; the output so far is written.\n"))
            << last;
        // The loopback packet, then one line per receive that timed out before the signal.
        const std::string out = dir.Read("out.txt");
        EXPECT_EQ(out.rfind("/* Base = Hexadecimal */\n\nF 1 2 EOP\nT\n", 0), 0U) << out;
        const auto timed_out = std::count(out.begin(), out.end(), '\n') - 3;
        const int run_commands = std::stoi(last.substr(last.find(" after ") + 7));
        EXPECT_EQ(timed_out + 2, run_commands) << out;
        EXPECT_LT(run_commands, kSlowListCommands);
        // Every record whole, and the summary last, saying so.
        const std::string records = dir.Read("run.jsonl");
        EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), run_commands + 1) << records;
        EXPECT_NE(LastLine(records).find(",\"interrupted\":true,"), std::string::npos) << records;
        EXPECT_TRUE(records.ends_with("}\n")) << records;
    }
}

// On a terminal the run shows its progress and erases it before any other
// line (here the failed sends each receive reports as it waits), and a
// Ctrl-C ends the run with status 130.
TEST(Interruption, ProgressLineOnATerminalAndCtrlC)
{
    ScratchDir dir;
    std::string list;
    for (int pair = 0; pair < kSlowListCommands / 2; ++pair) {
        list += "S d:1;\nR l:2;\n";
    }
    dir.Write("list.txt", list);
    PtySession session(ProgramOptions{{"-d=0", "-m=scs", "-c=list.txt", "-o=out.txt", "-t=0.3"}, "",
                                      "far_end=loopback;send_status=3", dir.path(), 30});
    ASSERT_TRUE(session.WaitFor(" errors\033[K", 10)) << session.Output();
    ASSERT_TRUE(session.WaitFor("\r\033[KError sending command, 3", 10)) << session.Output();
    kill(session.pid(), SIGINT);
    EXPECT_EQ(session.WaitExit(10), 130);
    const std::string &shown = session.Output();
    EXPECT_EQ(shown.find("errors\033[KE"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\033[KThe run was interrupted by SIGINT after "), std::string::npos) << shown;
}

} // namespace
