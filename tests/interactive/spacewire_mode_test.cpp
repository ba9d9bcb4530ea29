// The interactive SpaceWire prompt loop, in process: what it leaves behind
// and how it ends when the console fails.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/settings.h"
#include "device/vantor_api.h"
#include "interactive/interactive_spacewire.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

constexpr const char *kPrompt =
    "\n\nEnter the bytes to be sent, \"base=\" followed by a base type to change the default or \"x\" to exit:\n";

class SpaceWireMode : public testing::Test {
protected:
    void SetUp() override
    {
        default_base = 16;
        ASSERT_TRUE(vantor_sim::ApplySettings("far_end=loopback"));
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        Vantor_SetTimeout(device_, 0.02);
    }
    void TearDown() override { default_base = 16; }
    DeviceHandle device_ = nullptr;
};


TEST_F(SpaceWireMode, EveryExchangeIsUndone)
{
    FeedStdin("1 2\n\n3\nx\n");
    CaptureStdout capture;
    IS_RequestCommand(device_);
    capture.Take();
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_FALSE(vantor_sim::GetDeviceState(0).registered);
    EXPECT_EQ(vantor_sim::TakeSentPackets().size(), 2u) << "the empty line sends nothing";
}

TEST_F(SpaceWireMode, UnreadableConsoleIsNamedAndEndsTheMode)
{
    // Reading a directory fails with an error rather than at end of input.
    ASSERT_NE(std::freopen("/", "r", stdin), nullptr);
    CaptureStdout capture;
    IS_RequestCommand(device_);
    EXPECT_EQ(capture.Take(), std::string(kPrompt) + "Error reading command\n");
}


} // namespace
