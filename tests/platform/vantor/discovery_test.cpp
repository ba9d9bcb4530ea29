// Discovery, opening and the per-device modes.
#include <gtest/gtest.h>

#include <limits>

#include "sim_settings.h"
#include "vantor_sim_control.h"

namespace {

TEST(Discovery, DefaultIsOnePelmarAtZero)
{
    vantor_sim::ApplySettings("");
    EXPECT_EQ(Vantor_CountDevices(), 1);
    EXPECT_EQ(Vantor_ListDevices(), 1u);
    EXPECT_EQ(Vantor_GetUnopenedDeviceType(0), VANTOR_DEVICE_PELMAR);
    EXPECT_DOUBLE_EQ(Vantor_GetDriverVersion(), vantor_sim::kOwnDriverVersion);
}

TEST(Discovery, CountMaskAndTypes)
{
    vantor_sim::ApplySettings("devices=0:2,1:1,31:255,7:10");
    EXPECT_EQ(Vantor_CountDevices(), 4);
    EXPECT_EQ(Vantor_ListDevices(), 0x80000083u);
    EXPECT_EQ(Vantor_GetUnopenedDeviceType(0), 2);
    EXPECT_EQ(Vantor_GetUnopenedDeviceType(1), 1);
    EXPECT_EQ(Vantor_GetUnopenedDeviceType(7), 10);
    EXPECT_EQ(Vantor_GetUnopenedDeviceType(31), 255);
    // Numbers that name no attached device.
    for (int n : {2, 30, 32, -1, 1000}) {
        EXPECT_EQ(Vantor_GetUnopenedDeviceType(n), -1) << n;
    }
}

TEST(Discovery, NoDevices)
{
    vantor_sim::ApplySettings("devices=");
    EXPECT_EQ(Vantor_CountDevices(), 0);
    EXPECT_EQ(Vantor_ListDevices(), 0u);
    DeviceHandle h = reinterpret_cast<DeviceHandle>(1);
    EXPECT_EQ(Vantor_Open(&h, 0), 0);
    EXPECT_EQ(h, nullptr);
}

TEST(Open, AttachedOpensOthersFail)
{
    vantor_sim::ApplySettings("devices=0:0,3:6,31:1;unopenable=3");
    DeviceHandle h0 = nullptr;
    DeviceHandle h31 = nullptr;
    DeviceHandle h3 = nullptr;
    EXPECT_NE(Vantor_Open(&h0, 0), 0);
    EXPECT_NE(h0, nullptr);
    EXPECT_NE(Vantor_Open(&h31, 31), 0);
    EXPECT_NE(h31, nullptr);
    EXPECT_NE(h0, h31);
    EXPECT_EQ(Vantor_Open(&h3, 3), 0);
    EXPECT_TRUE(vantor_sim::GetDeviceState(0).open);
    EXPECT_FALSE(vantor_sim::GetDeviceState(3).open);
    for (int n : {1, 32, -1}) {
        DeviceHandle h = nullptr;
        EXPECT_EQ(Vantor_Open(&h, n), 0) << n;
    }
    EXPECT_EQ(Vantor_Open(nullptr, 0), 0);
}

TEST(Open, SecondOpenKeepsHandleAndState)
{
    vantor_sim::ApplySettings("");
    DeviceHandle h = nullptr;
    ASSERT_NE(Vantor_Open(&h, 0), 0);
    ASSERT_NE(Vantor_SetTimeout(h, 2.0), 0);
    DeviceHandle again = nullptr;
    ASSERT_NE(Vantor_Open(&again, 0), 0);
    EXPECT_EQ(again, h);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).timeout_seconds, std::optional<double>(2.0));
}

TEST(Open, ResetMakesOldHandlesUnknown)
{
    vantor_sim::ApplySettings("");
    DeviceHandle h = nullptr;
    ASSERT_NE(Vantor_Open(&h, 0), 0);
    vantor_sim::ApplySettings("");
    EXPECT_FALSE(vantor_sim::GetDeviceState(0).open);
    EXPECT_EQ(Vantor_EnableHeaderMode(h, 0), 0);
    EXPECT_EQ(Vantor_RegisterReceiveOnAllPorts(h), 0);
}

TEST(Modes, RecordedPerDeviceAndEmptyUntilSet)
{
    vantor_sim::ApplySettings("devices=0:0,1:0");
    DeviceHandle h0 = nullptr;
    DeviceHandle h1 = nullptr;
    ASSERT_NE(Vantor_Open(&h0, 0), 0);
    ASSERT_NE(Vantor_Open(&h1, 1), 0);
    auto fresh = vantor_sim::GetDeviceState(0);
    EXPECT_FALSE(fresh.header_mode.has_value());
    EXPECT_FALSE(fresh.network_mode.has_value());
    EXPECT_FALSE(fresh.timeout_seconds.has_value());

    EXPECT_NE(Vantor_EnableHeaderMode(h0, 0), 0);
    EXPECT_NE(Vantor_EnableNetworkMode(h0, 0), 0);
    EXPECT_NE(Vantor_SetTimeout(h0, 0.5), 0);
    EXPECT_NE(Vantor_EnableHeaderMode(h1, 1), 0);
    EXPECT_NE(Vantor_EnableSendEEPs(h1, 1), 0);

    auto d0 = vantor_sim::GetDeviceState(0);
    EXPECT_EQ(d0.header_mode, std::optional<bool>(false));
    EXPECT_EQ(d0.network_mode, std::optional<bool>(false));
    EXPECT_EQ(d0.timeout_seconds, std::optional<double>(0.5));
    EXPECT_FALSE(d0.send_eeps);
    auto d1 = vantor_sim::GetDeviceState(1);
    EXPECT_EQ(d1.header_mode, std::optional<bool>(true));
    EXPECT_FALSE(d1.network_mode.has_value());
    EXPECT_TRUE(d1.send_eeps);
}

TEST(Modes, UnusableTimeoutsRefused)
{
    vantor_sim::ApplySettings("");
    DeviceHandle h = nullptr;
    ASSERT_NE(Vantor_Open(&h, 0), 0);
    for (double bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(Vantor_SetTimeout(h, bad), 0) << bad;
    }
    EXPECT_FALSE(vantor_sim::GetDeviceState(0).timeout_seconds.has_value());
}

TEST(Modes, UnknownHandleRefusedEverywhere)
{
    vantor_sim::ApplySettings("");
    for (DeviceHandle bad : {static_cast<DeviceHandle>(nullptr), reinterpret_cast<DeviceHandle>(0x1234)}) {
        EXPECT_EQ(Vantor_EnableHeaderMode(bad, 0), 0);
        EXPECT_EQ(Vantor_EnableNetworkMode(bad, 0), 0);
        EXPECT_EQ(Vantor_SetTimeout(bad, 1.0), 0);
        EXPECT_EQ(Vantor_EnableSendEEPs(bad, 1), 0);
        EXPECT_EQ(Vantor_RegisterReceiveOnAllPorts(bad), 0);
        EXPECT_EQ(Vantor_UnregisterReceiveOnAllPorts(bad), 0);
    }
    // An attached device that was never opened is not usable through a guessed handle either.
    DeviceHandle h = nullptr;
    ASSERT_NE(Vantor_Open(&h, 0), 0);
    vantor_sim::ApplySettings("devices=0:0,1:0");
    EXPECT_EQ(Vantor_RegisterReceiveOnAllPorts(h), 0);
}

} // namespace
