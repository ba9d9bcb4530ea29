// The node's command line, its start-up and how it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <sys/wait.h>

#include "node_test_support.h"
#include "support/node_process.h"
#include "support/scratch_dir.h"

namespace {

using namespace node_test;

struct NodeRun {
    std::string out, err;
    int exit_status = -1; // -1 when it did not exit by itself
};

// The node run with each of these argument lists, all at once, to their end (killed after 10 s).
// posix_spawn, not fork: copying a sanitizer build's mappings costs more than the run.
std::vector<NodeRun> RunNodesToEnd(const std::vector<std::vector<std::string>> &runs)
{
    ScratchDir scratch;
    std::vector<pid_t> pids;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        std::vector<std::string> text{NodePath()};
        text.insert(text.end(), runs[i].begin(), runs[i].end());
        std::vector<char *> argv;
        for (std::string &word : text) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (const auto &[fd, name] : {std::pair{1, "out"}, std::pair{2, "err"}}) {
            const std::string path = scratch / (name + std::to_string(i));
            posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        pid_t pid = -1;
        pids.push_back(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 ? pid : -1);
        posix_spawn_file_actions_destroy(&actions);
    }
    std::vector<NodeRun> results(runs.size());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        int status = 0;
        pid_t done = 0;
        while (pids[i] > 0 && (done = waitpid(pids[i], &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (pids[i] > 0 && done != pids[i]) {
            kill(pids[i], SIGKILL);
            waitpid(pids[i], &status, 0);
        } else if (pids[i] > 0 && WIFEXITED(status)) {
            results[i].exit_status = WEXITSTATUS(status);
        }
        results[i].out = ReadWholeFile(scratch / ("out" + std::to_string(i)));
        results[i].err = ReadWholeFile(scratch / ("err" + std::to_string(i)));
    }
    return results;
}

// Waits (bounded) for the node to end by itself; its exit status, or -1.
int ExitStatusOf(NodeProcess &node)
{
    for (int i = 0; i < 1000 && node.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return node.Running() ? -1 : node.Stop();
}

// Help and version go to standard output with status 0; a bad option fails
// with one line on standard error naming it.  Which values a far-end setting
// takes is the settings' own test: one of them stands for all here.
TEST(NodeOptions, HelpVersionAndBadOptions)
{
    const struct {
        std::vector<std::string> args;
        std::string text; // what the output begins with, or what the error names
        bool ok = false;
    } kRows[] = {
        {{"--help"}, "Usage: spacewire_zark_node [OPTION]...", true},
        {{"--links=2", "--version"}, "spacewire_zark_node ", true},
        {{"--bogus"}, "'--bogus'"},
        {{"--links=0"}, "--links value '0'"},
        {{"--links=33"}, "--links value '33'"},
        {{"--links=2x"}, "--links value '2x'"},
        {{"--reply-fault-every=0"}, "--reply-fault-every value '0'"},
        {{"--far-end=both;key=20"}, "--far-end value"},
        {{"--packet-limit=0"}, "--packet-limit value '0'"},
        {{"--stall-limit=0"}, "--stall-limit value '0'"},
        {{"--trace="}, "--trace value ''"},
        {{"--key"}, "'--key' needs a value"},
        {{"--listen=nohostport"}, "--listen value 'nohostport'"},
        {{"--listen=:10030"}, "--listen value ':10030'"},
        {{"--listen=127.0.0.1:65536"}, "--listen value '127.0.0.1:65536'"},
        {{"--listen=127.0.0.1:"}, "--listen value '127.0.0.1:'"},
        {{"--listen=[::1:10030"}, "--listen value '[::1:10030'"},
        {{"--listen=127.0.0.1:65534", "--links=3"}, "links beyond port 65535"},
        {{"--once", "stray"}, "'stray'"},
    };
    std::vector<std::vector<std::string>> arg_lists;
    for (const auto &row : kRows) arg_lists.push_back(row.args);
    const std::vector<NodeRun> runs = RunNodesToEnd(arg_lists);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto &row = kRows[i];
        const NodeRun &run = runs[i];
        SCOPED_TRACE(row.args.back());
        EXPECT_TRUE(row.ok ? run.exit_status == 0 : run.exit_status > 0) << run.exit_status;
        EXPECT_TRUE(row.ok ? run.err.empty() : run.out.empty()) << run.out << run.err;
        const std::string &said = row.ok ? run.out : run.err;
        EXPECT_TRUE(row.ok ? said.rfind(row.text, 0) == 0 : said.find(row.text) != std::string::npos) << said;
        EXPECT_TRUE(row.ok || (std::ranges::count(said, '\n') == 1 && said.back() == '\n')) << said;
    }
}

// A memory map the node cannot use stops it, naming the map's first mistake.
TEST(NodeOptions, UnusableMemoryMapNamedWithItsMistake)
{
    ScratchDir scratch;
    scratch.Write("map.txt", "# instrument\nregion 00:00000000 10 read wrte\n");
    const std::string map = (scratch / "map.txt").string(), absent = (scratch / "absent.txt").string();
    const std::vector<NodeRun> runs = RunNodesToEnd({{"--memory-map=" + map}, {"--memory-map=" + absent}});
    EXPECT_EQ(runs[0].err, "spacewire_zark_node: invalid --memory-map value '" + map +
                               "': line 2: unknown rule \"wrte\" (--help lists the options)\n");
    EXPECT_EQ(runs[1].err, "spacewire_zark_node: invalid --memory-map value '" + absent +
                               "': cannot be read (--help lists the options)\n");
    EXPECT_TRUE(runs[0].exit_status == 2 && runs[1].exit_status == 2);
}

// 32 links on port 0: each a port and a link of its own, all served at once;
// SIGINT ends the node with status 0 while they are connected (SIGTERM ends
// every other test's node).
TEST(NodeOptions, PortZeroGivesEveryLinkAPortOfItsOwnAndInterruptEndsIt)
{
    ScratchDir scratch;
    NodeProcess node({}, scratch.path(), scratch / "node.log", 32);
    ASSERT_TRUE(node.started()) << scratch.Read("node.log");
    EXPECT_EQ(std::set<std::uint16_t>(node.ports().begin(), node.ports().end()).size(), 32u);
    std::vector<std::unique_ptr<RawClient>> clients;
    for (std::uint16_t port : node.ports()) clients.push_back(std::make_unique<RawClient>(port));
    for (std::size_t k = 0; k < clients.size(); ++k) {
        const Bytes packet{0xa0, static_cast<std::uint8_t>(k)};
        EXPECT_EQ(clients[k]->Exchange(packet), (Received{kEop, packet})) << "link " << k;
    }
    kill(node.pid(), SIGINT);
    EXPECT_EQ(ExitStatusOf(node), 0);
}

TEST(NodeOptions, OnceEndsWhenTheFirstConnectionEnds)
{
    ScratchDir scratch;
    NodeProcess node({"--once"}, scratch.path(), scratch / "node.log");
    ASSERT_TRUE(node.started());
    {
        RawClient first(node.ports()[0]);
        EXPECT_EQ(first.Exchange({0xa1}), (Received{kEop, {0xa1}}));
        RawClient refused(node.ports()[0]); // refusing a second client is not the end
        EXPECT_TRUE(refused.WaitClosed());
        EXPECT_EQ(first.Exchange({0xa2}), (Received{kEop, {0xa2}}));
        EXPECT_TRUE(node.Running());
    }
    EXPECT_EQ(ExitStatusOf(node), 0);
}

} // namespace
