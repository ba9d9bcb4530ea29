// The far end through the node, where no program run over TCP looks (the
// golden cases run over TCP show what it answers): its memory belongs to the
// node, on every link and across connections; time-codes are traced and
// link-speed frames pass unseen.
#include <gtest/gtest.h>

#include "support/hand_rmap.h"
#include "support/node_process.h"
#include "support/ssdtp_wire.h"
#include "support/scratch_dir.h"

namespace {

using namespace ssdtp_wire;
using namespace hand_rmap;

std::string Hex(const Bytes &bytes)
{
    std::string text;
    char hex[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, " %02x", byte);
        text += hex;
    }
    return text;
}

TEST(NodeFarEnd, MemoryIsTheNodesOnEveryLinkAndConnectionAndTheTraceShowsIt)
{
    ScratchDir scratch;
    scratch.Write("trace", "kept\n"); // appended to
    NodeProcess node({"--key=20", "--trace=" + (scratch / "trace").string()}, scratch.path(), scratch / "node.log", 2);
    ASSERT_TRUE(node.started()) << scratch.Read("node.log");
    const CommandFields write{.instruction = kWriteAcked, .key = 0x20, .address = 0x2000};
    const CommandFields read{.key = 0x20, .address = 0x1ffe, .length = 4};
    const Bytes command = WithData(write, {0x6a, 0x6b}), ack = WriteReply(write, 0);
    const Bytes written = ReadReply(read, 0, {0xfe, 0xff, 0x6a, 0x6b}), loop{0xaa, 0x01};
    std::string trace = "kept\nt 3f\n>" + Hex(command) + " EOP\n<" + Hex(ack) + " EOP\n>" + Hex(loop) + " EEP\n<" +
                        Hex(loop) + " EEP\n";
    {
        Link writer(node.ports()[0]);
        ASSERT_TRUE(writer.Send(Cat({TimeCode(0x3f), Frame(kLinkSpeed, {0x00, 0x10})})));
        EXPECT_EQ(writer.Exchange(command), (Received{kEop, ack}));
        EXPECT_EQ(writer.Exchange(loop, kEep), (Received{kEep, loop}));
    }
    for (int round = 0; round < 2; ++round) {
        for (std::uint16_t port : node.ports()) {
            Link reader(port);
            ASSERT_NE(WaitForLogLine(scratch / "node.log", {"connected " + reader.local()}), "");
            EXPECT_EQ(reader.Exchange(Header(read)), (Received{kEop, written})) << port;
            trace += ">" + Hex(Header(read)) + " EOP\n<" + Hex(written) + " EOP\n";
            reader.Close();
            ASSERT_NE(WaitForLogLine(scratch / "node.log", {reader.local() + " disconnected"}), "");
        }
    }
    EXPECT_EQ(node.Stop(), 0) << scratch.Read("node.log");
    EXPECT_EQ(scratch.Read("trace"), trace);
}

} // namespace
