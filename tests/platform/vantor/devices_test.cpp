// Opening, time-outs and malformed VANTOR_SIM settings.  The
// devices a setting attaches and the sound settings are exercised by the
// start-up and stream goldens.
#include <gtest/gtest.h>

#include <limits>

#include "sim_settings.h"
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

// Each malformed item is named and leaves every setting at its default.
TEST(SimSettings, MalformedItemsIgnored)
{
    const char *const bad[] = {
        "devices=32:0", "devices=0:0,0:1", "devices=0",     "devices=1:2,",   "devices=+1:0",      "unopenable=32",
        "version=nan",  "far_end=mirror",  "target=1f",     "target=100",     "key=0x1",           "send_status=15",
        "read_status=2x", "trace=",        "colour=red",    "noequals",       "reply_fault=crc",   "reply_fault_every=0",
        "reply_fault_every=4294967296",    "reply_fault_every=+2",
    };
    for (const char *item : bad) {
        const auto parsed = vantor_sim::ParseSettings(item);
        EXPECT_EQ(parsed.malformed, std::vector<std::string>{item});
        const auto &s = parsed.settings;
        EXPECT_TRUE(s.devices.size() == 1 && s.unopenable_mask == 0 && s.version == vantor_sim::kOwnDriverVersion &&
                    s.far_end == vantor_sim::FarEnd::Both && s.target_logical_address == 0xfe && !s.key &&
                    !s.send_status && !s.read_status && s.trace_path.empty() &&
                    s.reply_fault == vantor_sim::ReplyFault::None && s.reply_fault_every == 1)
            << item;
    }
    // The largest count is sound; names and words are matched without regard to case.
    const auto sound = vantor_sim::ParseSettings(" Reply_Fault= DROP ;reply_fault_every=4294967295; target=2A");
    EXPECT_TRUE(sound.malformed.empty() && sound.settings.reply_fault == vantor_sim::ReplyFault::Drop &&
                sound.settings.reply_fault_every == 4294967295u && sound.settings.target_logical_address == 0x2a);
}

std::string Applied(const std::string &settings, bool expected_sound)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(vantor_sim::ApplySettings(settings), expected_sound) << settings;
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// One line naming the malformed items, printed when the settings are applied; the rest still apply.
TEST(SimSettings, ComplaintPrintedOnceWhenApplied)
{
    EXPECT_EQ(Applied("devices=0:0,5:x;version=1.5;bogus", false),
              "VANTOR_SIM: ignored malformed settings \"devices=0:0,5:x\", \"bogus\"\n");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(Vantor_GetDriverVersion() == 1.5 && Vantor_CountDevices() == 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(Applied("far_end=silent", true), "");
    EXPECT_EQ(Applied("trace=/nonexistent-dir/t", false),
              "VANTOR_SIM: ignored malformed setting \"trace=/nonexistent-dir/t\"\n");
}

} // namespace
