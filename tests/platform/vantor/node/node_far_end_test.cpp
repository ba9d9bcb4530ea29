// The far end as a client sees it through the node: the RMAP target, its
// memory, the loopback, the far-end choices, reply faults and the trace.
#include <gtest/gtest.h>

#include "node_test_support.h"
#include "support/hand_rmap.h"
#include "support/node_process.h"
#include "support/scratch_dir.h"

namespace {

using namespace node_test;
using hand_rmap::CommandFields;

// The target's address and key, and a memory that is the node's: written on
// link 0, read on both links, and still there for new connections.
TEST(NodeFarEnd, TargetKeyAndMemoryAreTheNodesOnEveryLinkAndConnection)
{
    ScratchDir scratch;
    NodeProcess node({"--target=40", "--key=20"}, scratch.path(), scratch / "node.log", 2);
    ASSERT_TRUE(node.started()) << scratch.Read("node.log");
    const CommandFields wrong_key{.target = 0x40, .instruction = hand_rmap::kWriteAcked, .address = 0x2000};
    CommandFields right_key = wrong_key;
    right_key.key = 0x20;
    const CommandFields read{.target = 0x40, .key = 0x20, .address = 0x1ffe, .length = 4};
    const Bytes to_fe = hand_rmap::Header({.key = 0x20, .address = 0x2000, .length = 2}); // not the target's
    const Received written{kEop, hand_rmap::ReadReply(read, 0, {0xfe, 0xff, 0x6a, 0x6b})};
    {
        RawClient writer(node.ports()[0]);
        EXPECT_EQ(writer.Exchange(to_fe), (Received{kEop, to_fe}));
        EXPECT_EQ(writer.Exchange(hand_rmap::WithData(wrong_key, {0x5a, 0x5b})),
                  (Received{kEop, hand_rmap::WriteReply(wrong_key, 3)}));
        EXPECT_EQ(writer.Exchange(hand_rmap::Header(read)),
                  (Received{kEop, hand_rmap::ReadReply(read, 0, {0xfe, 0xff, 0x00, 0x01})}));
        EXPECT_EQ(writer.Exchange(hand_rmap::WithData(right_key, {0x6a, 0x6b})),
                  (Received{kEop, hand_rmap::WriteReply(right_key, 0)}));
        EXPECT_EQ(writer.Exchange(hand_rmap::Header(read)), written);
    }
    for (int round = 0; round < 2; ++round) {
        for (std::uint16_t port : node.ports()) {
            RawClient reader(port);
            ASSERT_NE(WaitForLogLine(scratch / "node.log", {"connected " + reader.local()}), "");
            EXPECT_EQ(reader.Exchange(hand_rmap::Header(read)), written) << port;
            reader.Close();
            ASSERT_NE(WaitForLogLine(scratch / "node.log", {reader.local() + " disconnected"}), "");
        }
    }
    EXPECT_EQ(node.Stop(), 0) << scratch.Read("node.log");
}

// Who answers a command (c) and two other packets (o1, o2, sent with EEP), as
// the far-end choice and the reply faults decide, seen on the socket and in
// the trace.  Time-codes are traced, link-speed frames pass unseen.
TEST(NodeFarEnd, FarEndAndReplyFaultChooseWhoAnswersAndTheTraceShowsIt)
{
    const CommandFields read{.address = 0x10, .length = 2};
    const Bytes c = hand_rmap::Header(read), r = hand_rmap::ReadReply(read, 0, {0x10, 0x11});
    const Bytes o1{0xaa, 0x01}, o2{0xaa, 0x02}, sent[4] = {c, o1, c, o2};
    const auto line = [](char sign, const Bytes &bytes, std::uint8_t flag) {
        std::string text(1, sign);
        char hex[4];
        for (std::uint8_t byte : bytes) {
            std::snprintf(hex, sizeof hex, " %02x", byte);
            text += hex;
        }
        return text + (flag == kEop ? " EOP" : " EEP");
    };
    const struct {
        std::vector<std::string> options;
        std::optional<Bytes> answers[4]; // to each packet sent
    } kRows[] = {
        // The far-end choices themselves are the in-process adapter's to test.
        {{"--far-end=target"}, {r, {}, r, {}}},
        {{"--reply-fault=drop", "--reply-fault-every=2"}, {r, o1, {}, o2}},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.options.front());
        ScratchDir scratch;
        scratch.Write("trace", "kept\n"); // appended to
        std::vector<std::string> options = row.options;
        options.push_back("--trace=" + (scratch / "trace").string());
        NodeProcess node(options, scratch.path(), scratch / "node.log");
        ASSERT_TRUE(node.started());
        RawClient client(node.ports()[0]);
        Bytes stream = hand_rmap::Cat({TimeCode(0x3f), Frame(kLinkSpeed, {0x00, 0x10})});
        std::string trace = "kept\nt 3f\n";
        std::vector<Received> answers, expected;
        for (int k = 0; k < 4; ++k) {
            const std::uint8_t flag = k % 2 == 0 ? kEop : kEep;
            stream = hand_rmap::Cat({stream, Frame(flag, sent[k])});
            trace += line('>', sent[k], flag) + "\n";
            if (row.answers[k]) {
                expected.push_back({flag, *row.answers[k]});
                trace += line('<', *row.answers[k], flag) + "\n";
            }
        }
        ASSERT_TRUE(client.Send(stream));
        // Stopped once the last packet is in, so that the trace and the socket hold all there is.
        ASSERT_NE(WaitForLogLine(scratch / "trace", {line('>', o2, kEep)}), "");
        ASSERT_EQ(node.Stop(), 0);
        for (std::optional<Received> frame; answers.size() < 4 && (frame = client.Read());) answers.push_back(*frame);
        EXPECT_EQ(answers, expected);
        EXPECT_EQ(scratch.Read("trace"), trace);
    }
}

} // namespace
