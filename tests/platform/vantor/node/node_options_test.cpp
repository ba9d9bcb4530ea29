// The node's command line, read in process, and what only a running node
// shows: a port per link sharing one memory, SIGINT, --once and its trace of
// time-codes.
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <thread>

#include "node_options.h"
#include "support/hand_rmap.h"
#include "support/node_process.h"
#include "support/ssdtp_wire.h"
#include "support/scratch_dir.h"

namespace {

using namespace ssdtp_wire;
using hand_rmap::Cat;
using vantor_node::ParseOutcome;

vantor_node::ParsedOptions Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "spacewire_zark_node");
    std::vector<char *> argv;
    for (std::string &arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return vantor_node::ParseNodeOptions(static_cast<int>(args.size()), argv.data());
}

// Waits (bounded) for the node to end by itself; its exit status, or -1.
int ExitStatusOf(NodeProcess &node)
{
    for (int i = 0; i < 1000 && node.Running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return node.Running() ? -1 : node.Stop();
}

// What the node's command line lets run, up to its limits, without binding a
// port; the refusals are golden cases (node/*), run as a user would run them.
TEST(NodeOptions, ReadUpToTheirLimits)
{
    const struct {
        std::vector<std::string> args;
        ParseOutcome outcome = ParseOutcome::Run;
        std::string said = "";
    } kRows[] = {
        {{"--version", "--bogus"}, ParseOutcome::Exit, "spacewire_zark_node " ZARK_VERSION "\n"},
        {{"--listen=127.0.0.1:65535"}},
        {{"--listen=[::1]:65534", "--links=2", "--once"}},
        {{"--listen=localhost:0", "--links=32", "--key=20", "--trace=t", "--capture=c"}},
    };
    for (const auto &row : kRows) {
        const vantor_node::ParsedOptions parsed = Parse(row.args);
        EXPECT_EQ(parsed.outcome, row.outcome) << row.args.back();
        EXPECT_EQ(parsed.message, row.said) << row.args.back();
    }
}

// 32 links on port 0: each a port and a link of its own, all served at once,
// the memory the node's; SIGINT ends the node with status 0 while they are
// connected (SIGTERM ends every other test's node).
TEST(NodeOptions, PortZeroGivesEveryLinkAPortOfItsOwnAndInterruptEndsIt)
{
    ScratchDir scratch;
    NodeProcess node({}, scratch.path(), scratch / "node.log", 32);
    ASSERT_TRUE(node.started()) << scratch.Read("node.log");
    EXPECT_EQ(std::set<std::uint16_t>(node.ports().begin(), node.ports().end()).size(), 32u);
    std::vector<std::unique_ptr<Link>> clients;
    for (std::uint16_t port : node.ports()) clients.push_back(std::make_unique<Link>(port));
    for (std::size_t k = 0; k < clients.size(); ++k) {
        const Bytes packet{0xa0, static_cast<std::uint8_t>(k)};
        EXPECT_EQ(clients[k]->Exchange(packet), (Received{kEop, packet})) << "link " << k;
    }
    const hand_rmap::CommandFields write{.instruction = hand_rmap::kWriteAcked, .address = 0x2000};
    const hand_rmap::CommandFields read{.address = 0x1ffe, .length = 4};
    EXPECT_EQ(clients[0]->Exchange(hand_rmap::WithData(write, {0x6a, 0x6b})),
              (Received{kEop, hand_rmap::WriteReply(write, 0)}));
    EXPECT_EQ(clients[31]->Exchange(hand_rmap::Header(read)),
              (Received{kEop, hand_rmap::ReadReply(read, 0, {0xfe, 0xff, 0x6a, 0x6b})}));
    kill(node.pid(), SIGINT);
    EXPECT_EQ(ExitStatusOf(node), 0);
}

// The trace is appended to; time-codes are traced, link-speed frames pass unseen.
TEST(NodeOptions, OnceEndsWhenTheFirstConnectionEnds)
{
    ScratchDir scratch;
    scratch.Write("trace", "kept\n");
    NodeProcess node({"--once", "--trace=trace"}, scratch.path(), scratch / "node.log");
    ASSERT_TRUE(node.started());
    {
        Link first(node.ports()[0]);
        ASSERT_TRUE(first.Send(Cat({TimeCode(0x3f), Frame(kLinkSpeed, {0x00, 0x10})})));
        EXPECT_EQ(first.Exchange({0xa1}), (Received{kEop, {0xa1}}));
        Link refused(node.ports()[0]); // refusing a second client is not the end
        EXPECT_TRUE(refused.WaitClosed());
        EXPECT_EQ(first.Exchange({0xa2}), (Received{kEop, {0xa2}}));
        EXPECT_TRUE(node.Running());
    }
    EXPECT_EQ(ExitStatusOf(node), 0);
    EXPECT_EQ(scratch.Read("trace"), "kept\nt 3f\n> a1 EOP\n< a1 EOP\n> a2 EOP\n< a2 EOP\n");
}

} // namespace
