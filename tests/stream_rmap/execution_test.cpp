// The two sweeps in process, interrupted: what is sent and shown, and that
// every transfer is released, which no program output shows.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "app/settings.h"
#include "common/stream_run.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

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
        auto runs = std::make_unique<RmapRuns>(device);
        StreamRunBegin(nullptr);
        if (before_sending) {
            std::raise(SIGINT);
        }
        const long long run = CR_ExecuteCommands(*runs, chain.get(), nullptr, errors);
        if (!before_sending) {
            std::raise(SIGINT);
        }
        CR_WaitOnResponses(*runs, chain.get(), nullptr, errors);
        StreamRunEnd();
        runs.reset();
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
