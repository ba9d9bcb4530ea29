// Executing expanded SpaceWire command lists against the simulated adapter:
// the order rules, the lines written for received packets, failures and
// their counts, data files, and release of every transfer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/settings.h"
#include "stream_spacewire/cs_execution.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/capture_stdout.h"
#include "support/scratch_dir.h"
#include "vantor_sim_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string ReadBack(std::FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, n);
    }
    return text;
}

struct Outcome {
    std::string console;
    std::string output; // the output file: send errors, then the receive lines
    std::int32_t errors = 0;
};

class Execution : public testing::Test {
protected:
    void SetUp() override { Start("far_end=loopback"); }

    void TearDown() override
    {
        default_base = 16;
        list_.reset();
        // Every transfer the list started has been released.
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    }

    void Start(const char *settings)
    {
        vantor_sim::ApplySettings(settings);
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    }

    // Parses (input base 16) and expands the list into list_.
    void Prepare(const std::string &text)
    {
        default_base = 16;
        NumberBase output_base = -1;
        CaptureStdout capture;
        const bool parsed = CS_ProcessCommands(text, list_, output_base);
        const bool expanded = parsed && CS_DealWithLoopCommands(list_);
        const std::string printed = capture.Take();
        ASSERT_TRUE(expanded) << printed;
    }

    // Executes list_ in order only; the console output is returned.
    std::string ExecuteInOrder(std::int32_t &errors, std::FILE *output = nullptr)
    {
        CaptureStdout capture;
        CS_ExecuteCommandsInOrder(device_, list_.get(), output, errors, nullptr);
        return capture.Take();
    }

    // Finishes an execution begun with ExecuteInOrder, as the mode does.
    void Collect(Outcome &run, std::FILE *output)
    {
        CaptureStdout capture;
        CS_WaitOnSends(device_, list_.get(), output, run.errors);
        CS_WaitOnReads(device_, list_.get(), output, run.errors);
        run.console += capture.Take();
    }

    // The whole execution with an output file, in the given display base.
    Outcome RunList(const std::string &text, int base = 16)
    {
        Outcome run;
        Prepare(text);
        default_base = base;
        std::FILE *output = std::tmpfile();
        run.console = ExecuteInOrder(run.errors, output);
        Collect(run, output);
        run.output = ReadBack(output);
        std::fclose(output);
        return run;
    }

    // The record at position i of the main list.
    SpaceWireCommand &At(std::size_t i)
    {
        SpaceWireCommand *command = list_.get();
        for (std::size_t k = 0; k < i; ++k) {
            command = command->next.get();
        }
        return *command;
    }

    DeviceHandle device_ = nullptr;
    SpaceWireCommandList list_;
};

TEST_F(Execution, ReceiveWaitsOnlyForTheSendJustBeforeIt)
{
    Prepare("S d:1; S d:2; R l:4;");
    std::int32_t errors = 0;
    EXPECT_EQ(ExecuteInOrder(errors), "");
    EXPECT_EQ(At(0).status, VANTOR_TRANSFER_STARTED); // still in flight
    EXPECT_EQ(At(1).status, VANTOR_TRANSFER_SUCCESS); // waited for
    EXPECT_EQ(At(2).status, VANTOR_TRANSFER_SUCCESS);
    Outcome run;
    std::FILE *output = std::tmpfile();
    Collect(run, output);
    EXPECT_EQ(At(0).status, VANTOR_TRANSFER_SUCCESS);
    // Both packets came back; the read took the first.
    EXPECT_EQ(ReadBack(output), "F 1 EOP\n");
    std::fclose(output);
    EXPECT_EQ(run.errors, 0);
}

TEST_F(Execution, SendAfterReceiveStartsOnlyOnceTheReadIsOver)
{
    // Had the send gone out first, the read would hold its packet.
    Outcome run = RunList("R l:4; S d:1;");
    EXPECT_EQ(run.output, "T\n");
    EXPECT_EQ(run.errors, 0);
    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].packet.bytes, Bytes{1});
}

TEST_F(Execution, LoopThatRepeatsNothingStandsBetweenSendAndReceive)
{
    std::int32_t errors = 0;
    Prepare("S d:1; L; R l:4;");
    ExecuteInOrder(errors);
    EXPECT_EQ(At(0).status, VANTOR_TRANSFER_STARTED);
    Outcome run;
    std::FILE *output = std::tmpfile();
    Collect(run, output);
    std::fclose(output);

    // A loop whose body was dropped leaves the send as the previous command.
    Prepare("S d:1; L n:1 t:0; S d:2; R l:4;");
    ExecuteInOrder(errors);
    EXPECT_EQ(At(0).status, VANTOR_TRANSFER_SUCCESS);
    output = std::tmpfile();
    Collect(run, output);
    std::fclose(output);
    EXPECT_EQ(errors + run.errors, 0);
}

TEST_F(Execution, PreviousCommandIsThreadedThroughRepetitions)
{
    Outcome run = RunList("S d:1; L n:1 t:2; R l:4;");
    EXPECT_EQ(At(0).status, VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(run.output, "F 1 EOP\nT\n");
    vantor_sim::TakeSentPackets();

    run = RunList("L n:2 t:3; S d:5; R l:4; S d:6;");
    EXPECT_EQ(run.output, "F 5 EOP\nF 5 EOP\nF 5 EOP\n");
    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].packet.bytes, Bytes{6});
}

TEST_F(Execution, ReturnsThePreviousCommandAsTheWalkLeavesIt)
{
    std::int32_t errors = 0;
    CaptureStdout capture;
    Prepare("S d:1; L;");
    EXPECT_EQ(CS_ExecuteCommandsInOrder(device_, list_.get(), nullptr, errors, nullptr), &At(1));
    CS_WaitOnSends(device_, list_.get(), nullptr, errors);

    Prepare("S d:1; L n:1 t:0; S d:2;");
    EXPECT_EQ(CS_ExecuteCommandsInOrder(device_, list_.get(), nullptr, errors, nullptr), &At(0));
    CS_WaitOnSends(device_, list_.get(), nullptr, errors);

    Prepare("L n:1 t:2; R l:4;");
    EXPECT_EQ(CS_ExecuteCommandsInOrder(device_, list_.get(), nullptr, errors, nullptr), At(0).children[1].get());
    CS_WaitOnReads(device_, list_.get(), stdout, errors);

    SpaceWireCommand given(SPACEWIRE_COMMAND_SEND, 9);
    EXPECT_EQ(CS_ExecuteCommandsInOrder(device_, nullptr, nullptr, errors, &given), &given);
    capture.Take();
    EXPECT_EQ(errors, 0);
}

TEST_F(Execution, PacketsWithoutEndMarker)
{
    const Bytes packet{1, 2};
    // A read that timed out after one packet without a marker.
    Prepare("R n:2 l:8;");
    ASSERT_TRUE(vantor_sim::InjectPacket(0, packet, VANTOR_EOP_NONE));
    Outcome run;
    std::FILE *output = std::tmpfile();
    run.console = ExecuteInOrder(run.errors, output);
    Collect(run, output);
    EXPECT_EQ(ReadBack(output), "T P 1 2 \nT\n");
    std::fclose(output);

    // A read that completed with such a packet.
    Prepare("R l:8;");
    ASSERT_TRUE(vantor_sim::InjectPacket(0, packet, VANTOR_EOP_NONE));
    output = std::tmpfile();
    run.console += ExecuteInOrder(run.errors, output);
    Collect(run, output);
    EXPECT_EQ(ReadBack(output), "P 1 2 \n");
    std::fclose(output);
    EXPECT_EQ(run.console, "");
    EXPECT_EQ(run.errors, 0);
}

TEST_F(Execution, SendsEndWithTheMarkerOfTheirCommand)
{
    Outcome run = RunList("S e:y d:1; S d:2; S n:2 e:t d:3;");
    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].packet.eop, VANTOR_EOP_EEP);
    EXPECT_EQ(sent[1].packet.eop, VANTOR_EOP_EOP);
    EXPECT_EQ(sent[2].packet.eop, VANTOR_EOP_EEP);
    EXPECT_EQ(sent[3].packet.bytes, Bytes{3});
    EXPECT_EQ(sent[3].packet.eop, VANTOR_EOP_EEP);
}

TEST_F(Execution, SeveralPacketsOfOneSendAreOneTransfer)
{
    Prepare("S n:3 d:7 8;");
    std::int32_t errors = 0;
    ExecuteInOrder(errors);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 1u);
    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 3u);
    for (const auto &packet : sent) {
        EXPECT_EQ(packet.packet.bytes, (Bytes{7, 8}));
    }
    Outcome run;
    Collect(run, nullptr);
    EXPECT_EQ(errors + run.errors, 0);
}

TEST_F(Execution, SendFailuresCollectedAtTheEnd)
{
    Start("far_end=loopback;send_status=9");
    Outcome run = RunList("L n:1 t:2; S d:1; S d:2;");
    EXPECT_EQ(run.console, "Error sending command, 9\nError sending command, 9\nError sending command, 9\n");
    EXPECT_EQ(run.output, "Error sending command 1\nError sending command 1\nError sending command 2\n");
    EXPECT_EQ(run.errors, 3);
}

TEST_F(Execution, RefusedReadIsCountedAtSubmissionAndAgainWhenCollected)
{
    Prepare("R l:4;");
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    Outcome run;
    std::FILE *output = std::tmpfile();
    run.console = ExecuteInOrder(run.errors, output);
    Collect(run, output);
    const std::string reason = "The read failed as the device is not registered to receive.";
    EXPECT_EQ(run.console, "Error submitting receive command 0: " + reason + "\nError receiving command 0: " + reason + "\n");
    EXPECT_EQ(ReadBack(output), "E\n");
    std::fclose(output);
    EXPECT_EQ(run.errors, 2);
}

TEST_F(Execution, DataFileThatCannotBeOpenedIsPassedOver)
{
    ScratchDir scratch;
    scratch.Write("plain", "");
    Outcome run = RunList("S d:5; R l:4 f:" + (scratch / "plain").string() + "/below.bin;");
    EXPECT_EQ(run.output, "F 5 EOP\n");
    EXPECT_EQ(run.console, "");
    EXPECT_EQ(run.errors, 0);
}

TEST_F(Execution, DeeplyNestedLoopsRun)
{
    std::string text;
    for (int i = 0; i < 300000; ++i) {
        text += "L n:1 t:1;";
    }
    Outcome run = RunList(text + "S d:1; R l:4;");
    EXPECT_EQ(run.output, "F 1 EOP\n");
    EXPECT_EQ(run.errors, 0);
}

} // namespace
