// Executing expanded SpaceWire command lists against the simulated adapter,
// where the goldens cannot look: which send a receive waits for, packets
// without an end marker, a refused read, and release of every transfer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/settings.h"
#include "stream_spacewire/cs_execution.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

class Execution : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(vantor_sim::ApplySettings("far_end=loopback"));
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    }

    void TearDown() override
    {
        default_base = 16;
        runs_.reset();
        list_.reset();
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u) << "every transfer started is released";
    }

    // Parses and expands text into list_, then executes it in order.
    void ExecuteInOrder(const std::string &text)
    {
        default_base = 16;
        NumberBase output_base = -1;
        CaptureStdout capture;
        ASSERT_TRUE(CS_ProcessCommands(text, list_, output_base) && CS_DealWithLoopCommands(list_));
        capture.Take();
        console_ = "";
        errors_ = 0;
        output_ = std::tmpfile();
        CaptureStdout execution;
        runs_ = std::make_unique<SpaceWireRuns>(device_);
        CS_ExecuteCommandsInOrder(*runs_, list_.get(), output_, errors_);
        console_ = execution.Take();
    }

    // Collects the sends and reads as the mode does; the output file's text.
    std::string Collect()
    {
        CaptureStdout capture;
        CS_WaitOnSends(*runs_, list_.get(), output_, errors_);
        CS_WaitOnReads(*runs_, list_.get(), output_, errors_);
        console_ += capture.Take();
        std::string text(4096, '\0');
        std::rewind(output_);
        text.resize(std::fread(text.data(), 1, text.size(), output_));
        std::fclose(output_);
        return text;
    }

    DeviceHandle device_ = nullptr;
    SpaceWireCommandList list_;
    std::unique_ptr<SpaceWireRuns> runs_;
    std::FILE *output_ = nullptr;
    std::string console_;
    std::int32_t errors_ = 0;
};

TEST_F(Execution, ReceiveWaitsOnlyForTheSendRightBeforeIt)
{
    const struct {
        const char *text;
        TransferStatus first_send; // once the list has run in order, before collection
    } cases[] = {
        {"S d:1; S d:2; R l:4;", VANTOR_TRANSFER_STARTED},
        {"S d:1; L; R l:4;", VANTOR_TRANSFER_STARTED},
        // A loop whose body was dropped, or which repeats, passes the send on.
        {"S d:1; L n:1 t:0; S d:2; R l:4;", VANTOR_TRANSFER_SUCCESS},
        {"S d:1; L n:1 t:2; R l:4;", VANTOR_TRANSFER_SUCCESS},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ExecuteInOrder(c.text);
        EXPECT_EQ(runs_->runs[0].status, c.first_send);
        Collect();
        EXPECT_EQ(errors_, 0);
    }
}

TEST_F(Execution, PacketsWithoutEndMarker)
{
    const std::uint8_t packet[] = {1, 2};
    // A read that timed out after such a packet, and one that completed with it.
    const std::pair<const char *, const char *> cases[] = {{"R n:2 l:8;", "T P 1 2 \nT\n"}, {"R l:8;", "P 1 2 \n"}};
    for (const auto &[text, lines] : cases) {
        ASSERT_TRUE(vantor_sim::InjectPacket(0, packet, VANTOR_EOP_NONE));
        ExecuteInOrder(text);
        EXPECT_EQ(Collect(), lines);
        EXPECT_EQ(console_, "");
        EXPECT_EQ(errors_, 0);
    }
}

TEST_F(Execution, RefusedReadIsReportedTwiceButCountedOnce)
{
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    ExecuteInOrder("R l:4;");
    EXPECT_EQ(Collect(), "E\n");
    const std::string reason = "The read failed as the device is not registered to receive.\n";
    EXPECT_EQ(console_, "Error submitting receive command 0: " + reason + "Error receiving command 0: " + reason);
    EXPECT_EQ(errors_, 1);
}

} // namespace
