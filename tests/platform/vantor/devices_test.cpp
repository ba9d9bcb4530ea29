// Opening devices and their time-outs through the C calls.  The devices a
// setting attaches, and sound and malformed VANTOR_SIM settings, are shown
// by the start-up goldens (tests/e2e/cases/startup/sim_*).
#include <gtest/gtest.h>

#include <limits>

#include "vantor_sim_control.h"

namespace {

TEST(Devices, OnlyAttachedOpenableDevicesOpen)
{
    vantor_sim::ApplySettings("devices=0:0,3:6,31:1;unopenable=3");
    DeviceHandle h0 = nullptr, h31 = nullptr, again = nullptr;
    EXPECT_TRUE(Vantor_Open(&h0, 0) != 0 && Vantor_Open(&h31, 31) != 0 && h0 != nullptr && h0 != h31);
    for (int n : {3, 1, 32, -1}) {
        DeviceHandle h = reinterpret_cast<DeviceHandle>(1);
        EXPECT_TRUE(Vantor_Open(&h, n) == 0 && h == nullptr) << n;
    }
    EXPECT_EQ(Vantor_Open(nullptr, 0), 0);
    // Opening again gives the same handle and keeps the device's state.
    ASSERT_NE(Vantor_SetTimeout(h0, 2.0), 0);
    ASSERT_NE(Vantor_Open(&again, 0), 0);
    EXPECT_EQ(again, h0);
    // Time-outs must be finite and above 0; unknown handles are refused.
    for (double bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(Vantor_SetTimeout(h0, bad), 0) << bad;
    EXPECT_EQ(vantor_sim::GetDeviceState(0).timeout_seconds, std::optional<double>(2.0));
    const auto bad = reinterpret_cast<DeviceHandle>(0x1234);
    EXPECT_FALSE(Vantor_EnableHeaderMode(bad, 0) || Vantor_EnableNetworkMode(bad, 0) || Vantor_SetTimeout(bad, 1) ||
                 Vantor_EnableSendEEPs(bad, 1) || Vantor_RegisterReceiveOnAllPorts(bad) ||
                 Vantor_UnregisterReceiveOnAllPorts(bad));
    // A reset closes every device; old handles stay unknown once it is open again.
    vantor_sim::ApplySettings("");
    EXPECT_FALSE(vantor_sim::GetDeviceState(0).open);
    ASSERT_NE(Vantor_Open(&again, 0), 0);
    EXPECT_EQ(Vantor_RegisterReceiveOnAllPorts(h0), 0);
}

} // namespace
