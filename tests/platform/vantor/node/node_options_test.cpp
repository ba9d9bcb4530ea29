// The node's command line, its start-up and how it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <set>
#include <thread>

#include "node_test_support.h"
#include "support/node_process.h"
#include "support/scratch_dir.h"

namespace {

using namespace node_test;

// Waits (bounded) for the node to end by itself; its exit status, or -1.
int ExitStatusOf(NodeProcess &node)
{
    for (int i = 0; i < 1000 && node.Running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return node.Running() ? -1 : node.Stop();
}

TEST(NodeOptions, HelpAndVersionPrintOnStandardOutputAndExitZero)
{
    const struct {
        std::vector<std::string> args;
        std::string begins;
    } kRows[] = {
        {{"--help"}, "Usage: spacewire_zark_node [OPTION]..."},
        {{"--links=2", "--version"}, "spacewire_zark_node "},
    };
    const std::vector<NodeRun> runs = RunNodesToEnd({kRows[0].args, kRows[1].args});
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(runs[i].exit_status, 0) << kRows[i].args.back();
        EXPECT_EQ(runs[i].out.rfind(kRows[i].begins, 0), 0u) << runs[i].out;
        EXPECT_EQ(runs[i].err, "") << kRows[i].args.back();
    }
    EXPECT_EQ(std::ranges::count(runs[1].out, '\n'), 1);
}

TEST(NodeOptions, BadOptionFailsWithOneLineNamingIt)
{
    const struct {
        std::vector<std::string> args;
        std::string named;
    } kRows[] = {
        {{"--bogus"}, "'--bogus'"},
        {{"--links=0"}, "--links value '0'"},
        {{"--links=33"}, "--links value '33'"},
        {{"--links=2x"}, "--links value '2x'"},
        {{"--target=10"}, "--target value '10'"},
        {{"--reply-fault=bogus"}, "--reply-fault value 'bogus'"},
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
    for (const auto &row : kRows) {
        arg_lists.push_back(row.args);
    }
    const std::vector<NodeRun> runs = RunNodesToEnd(arg_lists);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto &row = kRows[i];
        const NodeRun &run = runs[i];
        const std::string &given = row.args.back();
        EXPECT_GT(run.exit_status, 0) << given;
        EXPECT_EQ(run.out, "") << given;
        EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
        EXPECT_EQ(run.err.back(), '\n') << run.err;
        EXPECT_NE(run.err.find(row.named), std::string::npos) << run.err;
    }
}

TEST(NodeOptions, PortZeroGivesEveryLinkAPortOfItsOwn)
{
    ScratchDir scratch;
    NodeProcess node({}, scratch.path(), scratch / "node.log", 32);
    ASSERT_TRUE(node.started()) << scratch.Read("node.log");
    const std::set<std::uint16_t> distinct(node.ports().begin(), node.ports().end());
    EXPECT_EQ(distinct.size(), 32u);
    // Each is a link of its own: all are served at once.
    std::vector<std::unique_ptr<RawClient>> clients;
    for (std::uint16_t port : node.ports()) {
        clients.push_back(std::make_unique<RawClient>(port));
    }
    for (std::size_t k = 0; k < clients.size(); ++k) {
        const Bytes packet{0xa0, static_cast<std::uint8_t>(k)};
        EXPECT_EQ(clients[k]->Exchange(packet), (Received{kEop, packet})) << "link " << k;
    }
    EXPECT_EQ(node.Stop(), 0);
}

TEST(NodeOptions, TermAndInterruptEndTheNodeWithStatusZero)
{
    for (int signal : {SIGTERM, SIGINT}) {
        ScratchDir scratch;
        NodeProcess node({}, scratch.path(), scratch / "node.log");
        ASSERT_TRUE(node.started());
        RawClient idle(node.ports()[0]); // a connection open does not keep it alive
        ASSERT_FALSE(WaitForLogLine(scratch / "node.log", {"connected " + idle.peer()}).empty());
        kill(node.pid(), signal);
        EXPECT_EQ(ExitStatusOf(node), 0) << signal;
    }
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
