// The two sweeps and the release in process: every transfer of every
// repetition is released once, which no program output shows.
#include <gtest/gtest.h>

#include <csignal>

#include "app/settings.h"
#include "common/stream_run.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

TEST(Execution, EveryTransferIsReleasedOnceLoopBodiesIncluded)
{
    default_base = 16;
    DeviceHandle device = nullptr;
    ASSERT_TRUE(vantor_sim::ApplySettings(""));
    ASSERT_NE(Vantor_Open(&device, 0), 0);
    Vantor_RegisterReceiveOnAllPorts(device);
    // Two acknowledged commands three times over, then a write without
    // acknowledge: 7 sends and 6 reply reads.
    CaptureStdout capture;
    int output_base = -1;
    RmapCommandPtr chain = CR_ProcessCommands(
        "l;\nNumberToRepeat: 2; TimesToRepeat: 3;\n\n"
        "w;\nDestinationAddress: FE; SourceAddress: 20; VerifyBeforeWrite: no; Acknowledge: yes;\n"
        "IncrementTarget: yes; Key: 0; TransactionIdentifier: 1; Address: 100; ExtendedReadWriteAddress: 0;\n"
        "Data: 11 22;\n\nr;\nLength: 2;\n\nw;\nAcknowledge: no; Data: 1;\n",
        &output_base);
    ASSERT_TRUE(chain && CR_DealWithLoopCommands(chain.get()));
    int errors = 0;
    CR_ExecuteCommands(device, chain.get(), nullptr, errors);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 7u + 6u);
    CR_WaitOnResponses(device, chain.get(), nullptr, errors);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 7u) << "the reads are released as they are awaited";
    chain.reset();
    capture.Take();
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_EQ(vantor_sim::TakeSentPackets().size(), 7u);
    Vantor_UnregisterReceiveOnAllPorts(device);
}

// Interrupted before the sweep of sends: nothing goes out.  Interrupted
// before the replies are collected: those that came are shown, the third,
// which never comes, is neither waited for nor counted as an error.
TEST(Execution, InterruptedRunStopsSendingAndShowsOnlyRepliesThatCame)
{
    default_base = 16;
    DeviceHandle device = nullptr;
    ASSERT_TRUE(vantor_sim::ApplySettings("reply_fault=drop; reply_fault_every=3"));
    ASSERT_NE(Vantor_Open(&device, 0), 0);
    Vantor_RegisterReceiveOnAllPorts(device);
    int output_base = -1;
    const char *list = "r;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: yes; Key: 0;\n"
                       "TransactionIdentifier: 1; Address: 0; ExtendedReadWriteAddress: 0; Length: 1;\n\n"
                       "r;\nTransactionIdentifier: 2;\n\nr;\nTransactionIdentifier: 3;\n";
    for (const bool before_sending : {true, false}) {
        CaptureStdout capture;
        RmapCommandPtr chain = CR_ProcessCommands(list, &output_base);
        ASSERT_TRUE(chain && CR_DealWithLoopCommands(chain.get()));
        int errors = 0;
        StreamRunBegin(nullptr);
        if (before_sending) {
            std::raise(SIGINT);
        }
        const long long run = CR_ExecuteCommands(device, chain.get(), nullptr, errors);
        if (!before_sending) {
            std::raise(SIGINT);
        }
        CR_WaitOnResponses(device, chain.get(), nullptr, errors);
        StreamRunEnd();
        chain.reset();
        const std::string shown = capture.Take();
        EXPECT_EQ(errors, 0) << shown;
        EXPECT_EQ(run, before_sending ? 0 : 3);
        EXPECT_EQ(vantor_sim::TakeSentPackets().size(), before_sending ? 0u : 3u);
        EXPECT_EQ(shown.find("Transaction identifier: 2") != std::string::npos, !before_sending) << shown;
        EXPECT_EQ(shown.find("Error receiving"), std::string::npos) << shown;
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    }
    Vantor_UnregisterReceiveOnAllPorts(device);
}

} // namespace
