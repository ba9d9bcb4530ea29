// Interactive RMAP transactions against the simulated adapter: the packets
// built from the fields, CRCs overwritten on purpose, replies awaited or not.
// Expected packets and CRCs were worked out by hand from the packet format.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/settings.h"
#include "device/vantor_api.h"
#include "interactive/interactive_rmap.h"
#include "interactive/rmap_field_store.h"
#include "interactive/rmap_transaction.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class RmapTransaction : public testing::Test {
protected:
    void SetUp() override
    {
        default_base = 16;
        receive_buffer_size = 4096;
        rmap_fields = RmapFieldStore{};
        ASSERT_TRUE(vantor_sim::ApplySettings("far_end=silent"));
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        // Without a terminal no key can end a wait; the time-out does.
        Vantor_SetTimeout(device_, 0.05);
    }
    void TearDown() override
    {
        default_base = 16;
        rmap_fields = RmapFieldStore{};
    }

    // Runs one transaction with the typed lines; returns what it printed.
    std::string Run(int command, const std::string &typed)
    {
        FeedStdin(typed);
        CaptureStdout capture;
        const bool input_open = IR_RequestCommand(command, device_);
        std::string out = capture.Take();
        EXPECT_TRUE(input_open) << out;
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u) << "every send and read is released";
        EXPECT_FALSE(vantor_sim::GetDeviceState(0).registered) << "registration is undone";
        return out;
    }

    static std::vector<Bytes> Sent()
    {
        std::vector<Bytes> packets;
        for (const auto &sent : vantor_sim::TakeSentPackets()) {
            packets.push_back(sent.packet.bytes);
        }
        return packets;
    }

    DeviceHandle device_ = nullptr;
};


TEST_F(RmapTransaction, WriteWithPathsAndFlags)
{
    const std::string out =
        Run(RMAP_COMMAND_WRITE, "1 fe\nt\ny\nyes\n0\n1 2 3 67\n7\n0\n2000\na b c\n\n\n");
    EXPECT_EQ(out,
              "Destination Address: Verify Data: Acknowledge: Increment Address: Destination Key: "
              "Source Address: Transaction Identifier: Extended Read/Write Address: Read/Write Address: "
              "Data: Header CRC (8c): Data CRC (70): "
              "Command successfully sent, waiting for reply. Press any key to stop.\n"
              "Error reading reply: The transfer timed out.\n");
    // Path byte 01 in front; instruction 7d: write, verify, reply, increment,
    // one word of reply address (00 01 02 03).
    const Bytes expected{0x01, 0xfe, 0x01, 0x7d, 0x00, 0x00, 0x01, 0x02, 0x03, 0x67, 0x00, 0x07, 0x00,
                         0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x03, 0x8c, 0x0a, 0x0b, 0x0c, 0x70};
    EXPECT_EQ(Sent(), std::vector<Bytes>{expected});
}

TEST_F(RmapTransaction, ReadUsesTheLowBitsOfWideFields)
{
    // Key 120 and extended address 312 are cut to their low bytes 20 and 12;
    // the identifier ffff stays; the address and length go whole.
    const std::string out = Run(RMAP_COMMAND_READ, "fe\nno\n100\n67\nffff\n112\n3456789a\n10\n\n");
    EXPECT_EQ(out,
              "Destination Address: Increment Address: Destination Key: Source Address: "
              "Transaction Identifier: Extended Read/Write Address: Read/Write Address: Data length: "
              "Header CRC (83): "
              "Command successfully sent, waiting for reply. Press any key to stop.\n"
              "Error reading reply: The transfer timed out.\n");
    const Bytes expected{0xfe, 0x01, 0x48, 0x00, 0x67, 0xff, 0xff, 0x12, 0x34, 0x56,
                         0x78, 0x9a, 0x00, 0x00, 0x10, 0x83};
    EXPECT_EQ(Sent(), std::vector<Bytes>{expected});
    EXPECT_EQ(rmap_fields.destination_key, 0x100u) << "the store keeps the full value";
}


TEST_F(RmapTransaction, FixedIdentifierStillAdvances)
{
    Run(RMAP_COMMAND_READ, "fe\nno\n0\n67\n9x\n0\n0\n4\n\n");
    const std::string second = Run(RMAP_COMMAND_READ, "\n\n\n\n\n\n\n\n");
    EXPECT_NE(second.find("Transaction Identifier (FIXED): a\n"), std::string::npos) << second;
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1][6], 0x0a);
}

TEST_F(RmapTransaction, CrcsTypedWrongAreSentAsTypedAndComputedOnesOfferedAgain)
{
    Run(RMAP_COMMAND_WRITE, "fe\nn\nn\ny\n0\n67\n1\n0\n0\n1 2\n0\n1ff\n");
    const std::string again = Run(RMAP_COMMAND_WRITE, "\n\n\n\n\n\n\n\n\n\n\n\n");
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    // Header CRC and data CRC bytes as typed (1ff sends its low byte ff).
    ASSERT_EQ(sent[0].size(), 19u);
    EXPECT_EQ(sent[0][15], 0x00);
    EXPECT_EQ(sent[0][18], 0xff);
    // The second command carries identifier 2 and the CRCs computed afresh.
    const Bytes header{0xfe, 0x01, 0x64, 0x00, 0x67, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02};
    ASSERT_EQ(sent[1].size(), 19u);
    EXPECT_EQ(Bytes(sent[1].begin(), sent[1].begin() + 15), header);
    EXPECT_EQ(sent[1][15], 0x93);
    EXPECT_EQ(sent[1][18], 0x8e);
    EXPECT_NE(again.find("Header CRC (93): "), std::string::npos) << again;
    EXPECT_NE(again.find("Data CRC (8e): "), std::string::npos) << again;
}




TEST_F(RmapTransaction, ReadModifyWriteOfFourBytesTakesTheWholeMask)
{
    Run(RMAP_COMMAND_READ_MODIFY_WRITE, "fe\n0\n67\n1\n0\n0\n1 2 3 4\n11223344\n\n\n");
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].size(), 25u);
    EXPECT_EQ(sent[0][14], 0x08);
    EXPECT_EQ(Bytes(sent[0].begin() + 16, sent[0].begin() + 24),
              (Bytes{0x01, 0x02, 0x03, 0x04, 0x44, 0x33, 0x22, 0x11}));
}




} // namespace
