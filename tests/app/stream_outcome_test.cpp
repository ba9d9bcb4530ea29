// What a stream run leaves behind when things go wrong: files that cannot be
// written, a refused list over an earlier run's results, the exit statuses of
// -strict, and a run ended by a signal.
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

const std::string kWriteThenRead = "w;\n"
                                   "DestinationAddress: FE; SourceAddress: 20;\n"
                                   "VerifyBeforeWrite: false; Acknowledge: true; IncrementTarget: true;\n"
                                   "DestinationKey: 0; TransactionIdentifier: 1;\n"
                                   "ReadWriteAddress: 700; ExtendedReadWriteAddress: 0;\n"
                                   "Data: 5a 5b;\n\n"
                                   "r;\nTransactionIdentifier: 2; DataLength: 2;\n";

ProgramRun RunIn(const ScratchDir &dir, std::vector<std::string> args, const std::string &sim = "",
               const std::string &input = "")
{
    args.insert(args.begin(), "-d=0");
    return RunProgram({args, input, sim, dir.path(), 30});
}

std::string LastLine(const std::string &text)
{
    const std::size_t end = text.empty() ? 0 : text.size() - 1;
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1);
}

TEST(StreamFiles, OneThatCannotBeWrittenIsNamedWithTheReason)
{
    ScratchDir dir;
    dir.Write("list.txt", kWriteThenRead);
    std::filesystem::create_directory(dir / "sub");
    dir.Write("plain", "");
    const struct {
        std::string option;
        std::string line;
        bool results_on_console;
    } cases[] = {
        {"-o=missing/out.txt",
         "Cannot open output file 'missing/out.txt': No such file or directory; the output goes to the console.\n",
         true},
        {"-o=sub", "Cannot open output file 'sub': Is a directory; the output goes to the console.\n", true},
        {"-o=/dev/full", "Error writing output file '/dev/full': No space left on device; it does not hold "
                         "everything.\n",
         false},
        {"-du=plain/dump.txt",
         "Cannot open dump file 'plain/dump.txt': Not a directory; the preprocessed command list is not written.\n",
         true},
    };
    for (const auto &c : cases) {
        const ProgramRun run = RunIn(dir, {"-m=rcs", "-c=list.txt", c.option, "-strict"});
        EXPECT_NE(run.out.find(c.line), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("Read response") != std::string::npos, c.results_on_console) << c.option;
        // Results lost in a file that could not be written are a failure.
        EXPECT_EQ(run.exit_status, c.results_on_console ? 0 : 1) << c.option;
    }
    if (geteuid() != 0) { // root writes read-only files all the same
        dir.Write("kept.txt", "earlier results\n");
        std::filesystem::permissions(dir / "kept.txt", std::filesystem::perms::owner_read);
        const ProgramRun run = RunIn(dir, {"-m=rcs", "-c=list.txt", "-o=kept.txt"});
        EXPECT_NE(run.out.find("Cannot open output file 'kept.txt': Permission denied;"), std::string::npos);
        EXPECT_EQ(dir.Read("kept.txt"), "earlier results\n");
    }
}

TEST(StreamFiles, DataFileThatCannotBeWrittenIsOneErrorOfItsCommand)
{
    ScratchDir dir;
    dir.Write("list.txt", kWriteThenRead + "Filename: missing/data.bin;\n\nr;\nTransactionIdentifier: 3;\n");
    const ProgramRun run = RunIn(dir, {"-m=rcs", "-c=list.txt", "-o=out.txt"});
    EXPECT_NE(run.out.find("Cannot write the data of command 1 to file 'missing/data.bin': No such file or "
                           "directory.\nThere were 1 errors encountered performing the command list\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.exit_status, 0);
}

// A list refused before anything is sent leaves the earlier output as it was;
// the dump is rewritten only once preprocessing has succeeded.
TEST(StreamFiles, RefusedListLeavesEarlierResultsAlone)
{
    const struct {
        const char *mode;
        std::string list;
        bool preprocessed;
    } cases[] = {
        {"-m=rcs", kWriteThenRead + "\nx;\n", true},
        {"-m=scs", "S d:1 2;\nR l:4;\nQ;\n", true},
        {"-m=rcs", "#INCLUDELIST missing.txt;\n" + kWriteThenRead, false},
        {"-m=scs", std::string("S d:1\0;", 7), false},
    };
    for (const auto &c : cases) {
        ScratchDir dir;
        dir.Write("list.txt", c.list);
        dir.Write("out.txt", "earlier results\n");
        dir.Write("dump.txt", "earlier dump\n");
        const ProgramRun run = RunIn(dir, {c.mode, "-c=list.txt", "-o=out.txt", "-du=dump.txt", "-strict"});
        EXPECT_EQ(run.exit_status, 2) << run.out;
        EXPECT_EQ(dir.Read("out.txt"), "earlier results\n") << c.list;
        EXPECT_EQ(dir.Read("dump.txt") == "earlier dump\n", !c.preprocessed) << c.list;
    }
}

TEST(ExitStatus, StrictTellsHowTheRunWent)
{
    ScratchDir dir;
    dir.Write("good.txt", kWriteThenRead);
    dir.Write("refused.txt", "x;\n");
    const struct {
        std::vector<std::string> args;
        std::string sim;
        std::string input;
        int status;
    } cases[] = {
        {{"-m=rcs", "-c=good.txt", "-o=out.txt"}, "", "", 0},
        {{"-m=rcs", "-c=good.txt", "-o=out.txt"}, "reply_fault=drop", "", 1},
        {{"-m=scs", "-c=good.txt"}, "", "", 2},
        {{"-m=rcs", "-c=refused.txt"}, "", "", 2},
        {{"-m=rcs", "-c=good.txt", "-o=out.txt", "-du=./out.txt"}, "", "", 2}, // one file for both
        {{"-m=rcs", "-c=good.txt", "-du=good.txt"}, "", "", 2},                // the list itself
        {{"-m=rcs", "-c=good.txt"}, "devices=", "", 3},
        {{"-m=rcs", "-c=good.txt", "-t=500ms"}, "", "", 3}, // an option value that is not wholly a number
        {{}, "", "", 3},                           // input ends at the mode question
        {{"-m=rcs"}, "", "missing.txt\n", 3},      // ... and at the list question
    };
    for (const auto &c : cases) {
        std::vector<std::string> strict = c.args;
        strict.push_back("-strict");
        EXPECT_EQ(RunIn(dir, strict, c.sim, c.input).exit_status, c.status) << c.sim << c.input;
        EXPECT_EQ(RunIn(dir, c.args, c.sim, c.input).exit_status, 0) << c.sim << c.input;
    }
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
        ProgramOptions options{{"-d=0", "-m=scs", "-c=list.txt", "-o=out.txt", "-t=0.3"}, "", "far_end=loopback",
                               dir.path(), 30};
        options.signal_number = signal_number;
        options.signal_after_seconds = 1.0;
        const ProgramRun run = RunProgram(options);
        EXPECT_EQ(run.exit_status, 128 + signal_number) << run.out;
        const std::string name = signal_number == SIGTERM ? "SIGTERM" : "SIGHUP";
        const std::string last = LastLine(run.out);
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
