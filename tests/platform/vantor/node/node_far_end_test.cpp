// The far end as a well-behaved client sees it through the node: the device
// library's bridge devices for RMAP and loopback, a raw client for the far-end
// choices and the trace.
#include <gtest/gtest.h>

#include <optional>

#include "node_test_support.h"
#include "support/hand_rmap.h"
#include "support/node_process.h"
#include "support/scratch_dir.h"
#include "vantor_sim_control.h"

namespace {

using node_test::Bytes;
using Arrivals = std::vector<std::pair<Bytes, int>>; // packets with their endings
using hand_rmap::CommandFields;

class NodeFarEnd : public testing::Test {
protected:
    void Start(const std::vector<std::string> &options, int links = 1)
    {
        node_.emplace(options, scratch_.path(), scratch_ / "node.log", links);
        ASSERT_TRUE(node_->started()) << scratch_.Read("node.log");
        Connect();
    }
    // Every device a bridge to the link of its number, opened and registered.
    void Connect()
    {
        std::string devices;
        for (std::size_t k = 0; k < node_->ports().size(); ++k) {
            devices += (k == 0 ? "" : ",") + std::to_string(k) + ":0@127.0.0.1:" + std::to_string(node_->ports()[k]);
        }
        ASSERT_TRUE(vantor_sim::ApplySettings("devices=" + devices));
        devices_.assign(node_->ports().size(), nullptr);
        for (std::size_t k = 0; k < devices_.size(); ++k) {
            const int n = static_cast<int>(k);
            ASSERT_TRUE(Vantor_Open(&devices_[k], n) && Vantor_RegisterReceiveOnAllPorts(devices_[k]) &&
                        Vantor_SetTimeout(devices_[k], 5.0));
        }
    }
    void TearDown() override
    {
        vantor_sim::ApplySettings("");
        if (node_) { // stopped cleanly: in a sanitizer build, no finding in the node either
            EXPECT_EQ(node_->Stop(), 0) << scratch_.Read("node.log");
        }
    }

    // Sends the packets on device k, then reads count packets one at a time.
    Arrivals Exchange(std::vector<Bytes> packets, std::size_t count, std::size_t k = 0)
    {
        for (Bytes &packet : packets) {
            TransferId id = nullptr;
            EXPECT_EQ(Vantor_SendPacket(devices_[k], packet.data(), static_cast<unsigned>(packet.size()), 1, &id),
                      VANTOR_TRANSFER_SUCCESS);
            Vantor_FreeSend(devices_[k], id);
        }
        Arrivals arrivals;
        while (arrivals.size() < count) {
            Bytes buffer(65536);
            PacketProperties properties{};
            TransferId id = nullptr;
            Vantor_ReadPackets(devices_[k], buffer.data(), static_cast<unsigned>(buffer.size()), 1, 0, &properties,
                               &id);
            const TransferStatus status = Vantor_WaitOnReadCompleting(devices_[k], id, 1);
            Vantor_FreeRead(devices_[k], id);
            if (status != VANTOR_TRANSFER_SUCCESS) {
                ADD_FAILURE() << "read " << arrivals.size() << " ended with status " << status;
                break;
            }
            buffer.resize(properties.len);
            arrivals.emplace_back(std::move(buffer), properties.eop);
        }
        return arrivals;
    }
    static std::pair<Bytes, int> Eop(Bytes bytes) { return {std::move(bytes), VANTOR_EOP_EOP}; }

    ScratchDir scratch_;
    std::optional<NodeProcess> node_;
    std::vector<DeviceHandle> devices_;
};

CommandFields Write(std::uint32_t address, std::uint8_t key = 0)
{
    return CommandFields{.instruction = hand_rmap::kWriteAcked, .key = key, .address = address};
}
CommandFields Read(std::uint32_t address, std::uint32_t length, std::uint8_t target = 0xfe, std::uint8_t key = 0)
{
    return CommandFields{.target = target, .key = key, .address = address, .length = length};
}

TEST_F(NodeFarEnd, MemoryWrittenIsReadBackOnEveryLinkAndAfterReconnecting)
{
    Start({}, 2);
    const CommandFields write = Write(0x1000);
    const CommandFields read = Read(0x0ffe, 8);
    const Bytes expected = hand_rmap::ReadReply(read, 0, {0xfe, 0xff, 0x11, 0x22, 0x33, 0x44, 0x04, 0x05});
    EXPECT_EQ(Exchange({hand_rmap::WithData(write, {0x11, 0x22, 0x33, 0x44}), hand_rmap::Header(read)}, 2),
              (Arrivals{Eop(hand_rmap::WriteReply(write, 0)), Eop(expected)}));
    EXPECT_EQ(Exchange({hand_rmap::Header(read)}, 1, 1), Arrivals{Eop(expected)});
    // The memory is the node's: new connections on both links still see it.
    vantor_sim::ApplySettings("");
    for (const std::string link : {"link 0: ", "link 1: "}) {
        ASSERT_NE(node_test::WaitForLogLine(scratch_ / "node.log", {link, " disconnected"}), "");
    }
    Connect();
    for (std::size_t k : {0u, 1u}) {
        EXPECT_EQ(Exchange({hand_rmap::Header(read)}, 1, k), Arrivals{Eop(expected)}) << k;
    }
}

TEST_F(NodeFarEnd, LoopbackReturnsEveryOtherPacketWithItsEnding)
{
    Start({});
    const Bytes packet{0xaa, 0xbb, 0xcc};
    EXPECT_EQ(Exchange({packet}, 1), Arrivals{Eop(packet)});
    ASSERT_TRUE(Vantor_EnableSendEEPs(devices_[0], 1));
    EXPECT_EQ(Exchange({packet}, 1), (Arrivals{{packet, VANTOR_EOP_EEP}}));
}

TEST_F(NodeFarEnd, TargetAndKeyOptionsChooseWhatTheTargetAnswers)
{
    Start({"--target=40", "--key=20"});
    const CommandFields wrong_key = {.target = 0x40, .instruction = hand_rmap::kWriteAcked, .address = 0x2000};
    CommandFields right_key = wrong_key;
    right_key.key = 0x20;
    const CommandFields read = Read(0x2000, 2, 0x40, 0x20);
    const Bytes to_fe = hand_rmap::Header(Read(0x2000, 2, 0xfe, 0x20)); // not the target's: looped back
    EXPECT_EQ(Exchange({to_fe, hand_rmap::WithData(wrong_key, {0x5a, 0x5b}), hand_rmap::Header(read),
                        hand_rmap::WithData(right_key, {0x6a, 0x6b}), hand_rmap::Header(read)},
                       5),
              (Arrivals{Eop(to_fe), Eop(hand_rmap::WriteReply(wrong_key, 3)),
                        Eop(hand_rmap::ReadReply(read, 0, {0x00, 0x01})), Eop(hand_rmap::WriteReply(right_key, 0)),
                        Eop(hand_rmap::ReadReply(read, 0, {0x6a, 0x6b}))}));
}

TEST_F(NodeFarEnd, DropFaultLosesEverySecondReplyButNoLoopback)
{
    Start({"--reply-fault=drop", "--reply-fault-every=2"});
    std::vector<Bytes> sent;
    Arrivals expected;
    for (std::uint16_t t = 1; t <= 5; ++t) {
        const CommandFields read{.transaction = t, .address = 0x30, .length = 1};
        sent.push_back(hand_rmap::Header(read));
        sent.push_back({0xa0, static_cast<std::uint8_t>(t)});
        if (t % 2 == 1) {
            expected.push_back(Eop(hand_rmap::ReadReply(read, 0, {0x30})));
        }
        expected.push_back(Eop(sent.back()));
    }
    EXPECT_EQ(Exchange(sent, expected.size()), expected);
}

// What answers, seen on the socket and in the trace.  Time-codes are traced,
// link-speed frames pass unseen.
TEST(NodeFarEndChoice, FarEndOptionChoosesWhoAnswersAndTheTraceShowsIt)
{
    const CommandFields read{.address = 0x10, .length = 2};
    const Bytes command = hand_rmap::Header(read), reply = hand_rmap::ReadReply(read, 0, {0x10, 0x11});
    const Bytes other{0xaa, 0x01};
    const auto line = [](char sign, const Bytes &bytes) {
        std::string text(1, sign);
        char hex[4];
        for (std::uint8_t byte : bytes) {
            std::snprintf(hex, sizeof hex, " %02x", byte);
            text += hex;
        }
        return text + " EOP\n";
    };
    const struct {
        std::string far_end;
        std::optional<Bytes> to_command, to_other;
    } kRows[] = {
        {"both", reply, other},
        {"target", reply, std::nullopt},
        {"loopback", command, other},
        {"silent", std::nullopt, std::nullopt},
    };
    for (const auto &row : kRows) {
        ScratchDir scratch;
        scratch.Write("trace", "kept\n"); // appended to
        NodeProcess node({"--far-end=" + row.far_end, "--trace=" + (scratch / "trace").string()}, scratch.path(),
                         scratch / "node.log");
        ASSERT_TRUE(node.started());
        node_test::RawClient client(node.ports()[0]);
        ASSERT_TRUE(client.Send(hand_rmap::Cat({node_test::Frame(0x30, {0x3f, 0x00}), node_test::Frame(0x38, {0x00, 0x10}),
                                                node_test::Frame(node_test::kEop, command),
                                                node_test::Frame(node_test::kEop, other)})));
        // Stopped once the last packet is in, so that the trace and the socket hold all there is.
        const std::string last = line('>', other);
        ASSERT_NE(node_test::WaitForLogLine(scratch / "trace", {last.substr(0, last.size() - 1)}), "") << row.far_end;
        ASSERT_EQ(node.Stop(), 0);
        std::vector<node_test::Received> answers, expected;
        for (std::optional<node_test::Received> frame; answers.size() < 4 && (frame = client.Read());) {
            answers.push_back(*frame);
        }
        std::string trace = "kept\nt 3f\n" + line('>', command);
        for (const auto &[sent, answer] : {std::pair{command, row.to_command}, std::pair{other, row.to_other}}) {
            trace += sent == other ? line('>', other) : "";
            if (answer) {
                expected.push_back({node_test::kEop, *answer});
                trace += line('<', *answer);
            }
        }
        EXPECT_EQ(answers, expected) << row.far_end;
        EXPECT_EQ(scratch.Read("trace"), trace) << row.far_end;
    }
}

} // namespace
