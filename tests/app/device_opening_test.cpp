#include <gtest/gtest.h>

#include "app/device_opening.h"
#include "app/settings.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

namespace {

class DeviceOpeningTest : public testing::Test {
protected:
    void TearDown() override { timeout = -1.0; }
};

TEST_F(DeviceOpeningTest, SetUpTurnsModesOffAndLeavesTimeOutAloneWithoutOption)
{
    ASSERT_TRUE(vantor_sim::ApplySettings("devices=0:0,3:1"));
    timeout = -1.0;
    CaptureStdout capture;
    EXPECT_NE(OpenDevice(3), nullptr);
    EXPECT_EQ(capture.Take(), "");
    const auto state = vantor_sim::GetDeviceState(3);
    EXPECT_TRUE(state.open);
    EXPECT_EQ(state.header_mode, false);
    EXPECT_EQ(state.network_mode, false);
    EXPECT_FALSE(state.timeout_seconds.has_value());
    EXPECT_FALSE(vantor_sim::GetDeviceState(0).open);
}

} // namespace
