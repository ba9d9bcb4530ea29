// The two sweeps and the release in process: every transfer of every
// repetition is released once, which no program output shows.
#include <gtest/gtest.h>

#include "app/settings.h"
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
    CR_ReleaseCommands(device, std::move(chain));
    capture.Take();
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_EQ(vantor_sim::TakeSentPackets().size(), 7u);
    Vantor_UnregisterReceiveOnAllPorts(device);
}

} // namespace
