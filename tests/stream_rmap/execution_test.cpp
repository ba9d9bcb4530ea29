// The two sweeps and the release, in process against the simulated adapter.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kAcknowledgedWrite = "w;\nDestinationAddress: FE; SourceAddress: 20; VerifyBeforeWrite: no;\n"
                                       "Acknowledge: yes; IncrementTarget: yes; Key: 0; TransactionIdentifier: 1;\n"
                                       "Address: 100; ExtendedReadWriteAddress: 0; Data: 11 22;\n";

class ExecutionTest : public testing::Test {
protected:
    void SetUp() override
    {
        default_base = 16;
        ASSERT_TRUE(vantor_sim::ApplySettings(""));
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        Vantor_RegisterReceiveOnAllPorts(device_);
    }
    void TearDown() override
    {
        Vantor_UnregisterReceiveOnAllPorts(device_);
        default_base = 16;
    }

    RmapCommandPtr Prepare(const std::string &text)
    {
        CaptureStdout capture;
        int output_base = -1;
        RmapCommandPtr chain = CR_ProcessCommands(text, &output_base);
        EXPECT_TRUE(chain);
        EXPECT_TRUE(CR_DealWithLoopCommands(chain.get()));
        capture.Take();
        return chain;
    }

    // Both sweeps; what they printed on standard output.
    std::string Run(RmapCommand *chain, int &errors)
    {
        CaptureStdout capture;
        CR_ExecuteCommands(device_, chain, nullptr, errors);
        CR_WaitOnResponses(device_, chain, nullptr, errors);
        return capture.Take();
    }

    DeviceHandle device_ = nullptr;
};

TEST_F(ExecutionTest, EveryTransferIsReleasedOnceLoopBodiesIncluded)
{
    // Two acknowledged writes three times over, then a write without
    // acknowledge: 7 sends and 6 reply reads.
    RmapCommandPtr chain = Prepare("l;\nNumberToRepeat: 2; TimesToRepeat: 3;\n\n" + kAcknowledgedWrite +
                                   "\nr;\nLength: 2;\n\nw;\nAcknowledge: no; Data: 1;\n");
    ASSERT_EQ(vantor_sim::LiveTransferCount(), 0u);
    int errors = 0;
    {
        CaptureStdout capture;
        CR_ExecuteCommands(device_, chain.get(), nullptr, errors);
        capture.Take();
    }
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 7u + 6u);
    {
        CaptureStdout capture;
        CR_WaitOnResponses(device_, chain.get(), nullptr, errors);
        capture.Take();
    }
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 7u); // the reads are released as they are awaited
    CR_ReleaseCommands(device_, std::move(chain));
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_EQ(vantor_sim::TakeSentPackets().size(), 7u);
}

TEST_F(ExecutionTest, ACommandThatCannotBeBuiltIsNotSentAndCountsOnce)
{
    // A reply path of 13 bytes cannot be built; the read after it can.
    RmapCommandPtr chain = Prepare(kAcknowledgedWrite.substr(0, 2) +
                                   "\nDestinationAddress: FE; SourceAddress: 1 2 3 4 5 6 7 8 9 a b c d 20;\n" +
                                   kAcknowledgedWrite.substr(kAcknowledgedWrite.find("VerifyBeforeWrite")) +
                                   "\nr;\nSourceAddress: 20; Length: 1;\n");
    int errors = 0;
    const std::string out = Run(chain.get(), errors);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "Error building RMAP packet for command 0.\n");
    EXPECT_EQ(out.find("Error receiving"), std::string::npos);
    EXPECT_NE(out.find("Read response"), std::string::npos);
    const auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].packet.bytes[2], 0x4C); // the read's instruction
    CR_ReleaseCommands(device_, std::move(chain));
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
}

TEST_F(ExecutionTest, ALongerReplyPathThan255BytesIsRefusedNotCut)
{
    // 257 bytes would reach the library as a count of 1.
    std::string source = "SourceAddress:";
    for (int i = 0; i < 256; ++i) {
        source += " 0";
    }
    source += " 20;\n";
    RmapCommandPtr chain = Prepare("r;\nDestinationAddress: FE; " + source +
                                   "IncrementTarget: yes; Key: 0; TransactionIdentifier: 1; Address: 0;\n"
                                   "ExtendedReadWriteAddress: 0; Length: 1;\n");
    int errors = 0;
    EXPECT_EQ(Run(chain.get(), errors), "Error building RMAP packet for command 0.\n");
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(vantor_sim::TakeSentPackets().empty());
    CR_ReleaseCommands(device_, std::move(chain));
}

TEST_F(ExecutionTest, RepetitionsSendTheCrcsTheUserWrote)
{
    RmapCommandPtr chain = Prepare("l;\nNumberToRepeat: 1; TimesToRepeat: 3;\n\n" +
                                   kAcknowledgedWrite.substr(0, kAcknowledgedWrite.size() - 1) + " DataCRC: 5;\n");
    int errors = 0;
    const std::string out = Run(chain.get(), errors);
    EXPECT_EQ(errors, 0);
    const auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 3u);
    for (const auto &packet : sent) {
        // fe 01 6c 00 20 00 01 00 00 00 01 00 00 00 02 hcrc 11 22 dcrc
        ASSERT_EQ(packet.packet.bytes.size(), 19u);
        EXPECT_EQ(packet.packet.bytes.back(), 0x05);
    }
    // The target refuses each with an invalid data CRC.
    std::size_t refusals = 0;
    for (std::size_t at = out.find("Status = invalid data CRC"); at != std::string::npos;
         at = out.find("Status = invalid data CRC", at + 1)) {
        ++refusals;
    }
    EXPECT_EQ(refusals, 3u);
    CR_ReleaseCommands(device_, std::move(chain));
}

TEST_F(ExecutionTest, ARepliesReadHasRoomForTheWholeReply)
{
    // 0x1000 bytes of data: the reply is 13 bytes longer and must arrive whole.
    RmapCommandPtr chain = Prepare("r;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: yes; Key: 0;\n"
                                   "TransactionIdentifier: 1; Address: 0; ExtendedReadWriteAddress: 0;\n"
                                   "Length: 1000;\n");
    int errors = 0;
    Run(chain.get(), errors);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(chain->reply_properties.len, 0x1000u + 13u);
    EXPECT_EQ(chain->reply_buffer.size(), 0x1000u + 13u);
    EXPECT_EQ(chain->reply_buffer[12 + 0xFFF], 0xFF); // the last data byte: address fff
    CR_ReleaseCommands(device_, std::move(chain));
}

TEST_F(ExecutionTest, WritesWithoutAcknowledgeAreNeverAwaited)
{
    ASSERT_TRUE(vantor_sim::ApplySettings("read_status=6"));
    ASSERT_NE(Vantor_Open(&device_, 0), 0);
    Vantor_RegisterReceiveOnAllPorts(device_);
    RmapCommandPtr chain = Prepare(kAcknowledgedWrite + "\nw;\nAcknowledge: no;\n\nw;\nAcknowledge: y;\n");
    int errors = 0;
    std::FILE *output = std::tmpfile();
    ASSERT_NE(output, nullptr);
    CaptureStdout capture;
    CR_ExecuteCommands(device_, chain.get(), output, errors);
    CR_WaitOnResponses(device_, chain.get(), output, errors);
    const std::string out = capture.Take();
    EXPECT_EQ(out, "Error receiving acknowledgement for command 0.\n\nError receiving acknowledgement for command 2.\n\n");
    EXPECT_EQ(errors, 2);
    std::rewind(output);
    char text[256] = {};
    const std::size_t read = std::fread(text, 1, sizeof text - 1, output);
    EXPECT_EQ(std::string(text, read), "Error receiving acknowledgement\nError receiving acknowledgement\n");
    std::fclose(output);
    CR_ReleaseCommands(device_, std::move(chain));
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
}

} // namespace
