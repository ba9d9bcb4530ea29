// The node's command line, read in process, and what only a running node
// shows: its exit status, a port per link sharing one memory, SIGINT, --once
// and its trace of time-codes.
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

// Each refusal is one line naming the option and value; a far-end setting's
// values are the settings' own to test, one of them stands for all here.
TEST(NodeOptions, ReadUpToTheirLimitsOrRefusedWithTheReason)
{
    ScratchDir scratch;
    scratch.Write("map.txt", "# instrument\nregion 00:00000000 10 read wrte\n");
    const std::string map = (scratch / "map.txt").string(), absent = (scratch / "absent.txt").string();
    const struct {
        std::vector<std::string> args;
        std::string said; // for a refusal, the reason
        ParseOutcome outcome = ParseOutcome::Fail;
    } kRows[] = {
        {{"--links=2", "--help"}, "Usage: spacewire_zark_node [OPTION]...\n", ParseOutcome::Exit},
        {{"--version", "--bogus"}, "spacewire_zark_node " ZARK_VERSION "\n", ParseOutcome::Exit},
        {{"--listen=127.0.0.1:65535"}, "", ParseOutcome::Run},
        {{"--listen=[::1]:65534", "--links=2", "--once"}, "", ParseOutcome::Run},
        {{"--listen=localhost:0", "--links=32", "--key=20", "--trace=t", "--capture=c"}, "", ParseOutcome::Run},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--links=0"}, "invalid --links value '0'"},
        {{"--links=33"}, "invalid --links value '33'"},
        {{"--links=2x"}, "invalid --links value '2x'"},
        {{"--reply-fault-every=0"}, "invalid --reply-fault-every value '0'"},
        {{"--far-end=both;key=20"}, "invalid --far-end value 'both;key=20'"},
        {{"--packet-limit=0"}, "invalid --packet-limit value '0'"},
        {{"--stall-limit=0"}, "invalid --stall-limit value '0'"},
        {{"--trace="}, "invalid --trace value ''"},
        {{"--capture="}, "invalid --capture value ''"},
        {{"--key"}, "option '--key' needs a value"},
        {{"--listen=nohostport"}, "invalid --listen value 'nohostport'"},
        {{"--listen=:10030"}, "invalid --listen value ':10030'"},
        {{"--listen=127.0.0.1:65536"}, "invalid --listen value '127.0.0.1:65536'"},
        {{"--listen=[::1:10030"}, "invalid --listen value '[::1:10030'"},
        {{"--listen=127.0.0.1:65534", "--links=3"}, "links beyond port 65535"},
        {{"--once", "stray"}, "unexpected argument 'stray'"},
        {{"--memory-map=" + map}, "invalid --memory-map value '" + map + "': line 2: unknown rule \"wrte\""},
        {{"--memory-map=" + absent}, "invalid --memory-map value '" + absent + "': cannot be read"},
    };
    for (const auto &row : kRows) {
        const vantor_node::ParsedOptions parsed = Parse(row.args);
        EXPECT_EQ(parsed.outcome, row.outcome) << row.args.back();
        if (row.outcome == ParseOutcome::Fail) {
            EXPECT_EQ(parsed.message, "spacewire_zark_node: " + row.said + " (--help lists the options)\n");
        } else {
            EXPECT_TRUE(parsed.message.starts_with(row.said)) << row.args.back();
        }
    }
}

// A refused command line ends the process at once with status 2, saying why on standard error.
TEST(NodeOptions, RefusalEndsTheNodeWithStatusTwo)
{
    ScratchDir scratch;
    NodeProcess node({"--bogus"}, scratch.path(), scratch / "node.log");
    EXPECT_FALSE(node.started());
    EXPECT_EQ(node.Stop(), 2);
    EXPECT_EQ(scratch.Read("node.log"), "spacewire_zark_node: unknown option '--bogus' (--help lists the options)\n");
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
