// The VANTOR_SIM settings: every setting, its defaults and malformed values.
#include <gtest/gtest.h>

#include "sim_settings.h"
#include "vantor_sim_control.h"

using vantor_sim::FarEnd;
using vantor_sim::ParseSettings;

namespace {

TEST(SimSettings, DefaultsWhenEmpty)
{
    auto parsed = ParseSettings("");
    EXPECT_TRUE(parsed.malformed.empty());
    const auto &s = parsed.settings;
    ASSERT_EQ(s.devices.size(), 1u);
    EXPECT_EQ(s.devices[0].number, 0);
    EXPECT_EQ(s.devices[0].type, 0);
    EXPECT_EQ(s.unopenable_mask, 0u);
    EXPECT_EQ(s.far_end, FarEnd::Both);
    EXPECT_EQ(s.target_logical_address, 0xfe);
    EXPECT_FALSE(s.key.has_value());
    EXPECT_FALSE(s.send_status.has_value());
    EXPECT_FALSE(s.read_status.has_value());
    EXPECT_TRUE(s.trace_path.empty());
    EXPECT_EQ(s.reply_fault, vantor_sim::ReplyFault::None);
    EXPECT_EQ(s.reply_fault_every, 1u);
}

TEST(SimSettings, ReplyFaultKindsAndCounts)
{
    using vantor_sim::ReplyFault;
    struct Case {
        const char *text;
        ReplyFault fault;
        std::uint32_t every;
    };
    const Case cases[] = {
        {"reply_fault=none", ReplyFault::None, 1},
        {"reply_fault=header_crc", ReplyFault::HeaderCrc, 1},
        {"reply_fault=data_crc;reply_fault_every=2", ReplyFault::DataCrc, 2},
        {"reply_fault= TRUNCATE ", ReplyFault::Truncate, 1},
        {"Reply_Fault=Pad", ReplyFault::Pad, 1},
        {"reply_fault=transaction_id", ReplyFault::TransactionId, 1},
        {"reply_fault=eep; reply_fault_every= 10 ", ReplyFault::Eep, 10},
        {"reply_fault=duplicate", ReplyFault::Duplicate, 1},
        {"reply_fault=drop;reply_fault_every=4294967295", ReplyFault::Drop, 4294967295u},
        {"reply_fault=drop;reply_fault=none;reply_fault_every=3;reply_fault_every=1", ReplyFault::None, 1},
    };
    for (const Case &c : cases) {
        auto parsed = ParseSettings(c.text);
        EXPECT_TRUE(parsed.malformed.empty()) << c.text;
        EXPECT_EQ(parsed.settings.reply_fault, c.fault) << c.text;
        EXPECT_EQ(parsed.settings.reply_fault_every, c.every) << c.text;
    }

    const char *const bad[] = {
        "reply_fault=",           "reply_fault=crc",         "reply_fault=header-crc", "reply_fault=drop,pad",
        "reply_fault=1",          "reply_fault_every=0",     "reply_fault_every=-1",   "reply_fault_every=+2",
        "reply_fault_every=4294967296", "reply_fault_every=1.5", "reply_fault_every=",  "reply_fault_every=x",
        "reply_fault_every=0x10",
    };
    for (const char *item : bad) {
        auto parsed = ParseSettings(item);
        ASSERT_EQ(parsed.malformed.size(), 1u) << item;
        EXPECT_EQ(parsed.malformed[0], item);
        EXPECT_EQ(parsed.settings.reply_fault, ReplyFault::None) << item;
        EXPECT_EQ(parsed.settings.reply_fault_every, 1u) << item;
    }
}

TEST(SimSettings, EverySettingRead)
{
    auto parsed = ParseSettings(" devices=3:6, 31:-2 ;unopenable=3,5; version=2.5; far_end=LOOPBACK;"
                                "target=2A; key=7; send_status=9; read_status=0; trace=/tmp/x y;;");
    EXPECT_TRUE(parsed.malformed.empty());
    const auto &s = parsed.settings;
    ASSERT_EQ(s.devices.size(), 2u);
    EXPECT_EQ(s.devices[0].number, 3);
    EXPECT_EQ(s.devices[0].type, 6);
    EXPECT_EQ(s.devices[1].number, 31);
    EXPECT_EQ(s.devices[1].type, -2);
    EXPECT_EQ(s.unopenable_mask, (1u << 3) | (1u << 5));
    EXPECT_DOUBLE_EQ(s.version, 2.5);
    EXPECT_EQ(s.far_end, FarEnd::Loopback);
    EXPECT_EQ(s.target_logical_address, 0x2a);
    EXPECT_EQ(s.key, std::optional<std::uint8_t>(0x07));
    EXPECT_EQ(s.send_status, std::optional<int>(9));
    EXPECT_EQ(s.read_status, std::optional<int>(0));
    EXPECT_EQ(s.trace_path, "/tmp/x y");
}

TEST(SimSettings, EmptyDeviceListMeansNoneAndLaterSettingWins)
{
    auto parsed = ParseSettings("devices=1:1;devices=;far_end=silent;far_end=target");
    EXPECT_TRUE(parsed.malformed.empty());
    EXPECT_TRUE(parsed.settings.devices.empty());
    EXPECT_EQ(parsed.settings.far_end, FarEnd::Target);
}

// Each malformed item is named and leaves its setting at the default.
TEST(SimSettings, MalformedItemsIgnored)
{
    const char *const bad[] = {
        "devices=32:0",   "devices=0:0,0:1", "devices=0",     "devices=0:x", "devices=1:2,",
        "devices=-1:0",   "unopenable=32",   "unopenable=a",  "version=",    "version=1.2.3",
        "version=nan",    "far_end=mirror",  "target=100",    "target=g1",   "target=",      "target=1f",
        "key=-1",         "send_status=15",  "send_status=-1", "read_status=2x",
        "trace=",         "colour=red",      "noequals",      "devices=+1:0", "key=0x1",
    };
    for (const char *item : bad) {
        auto parsed = ParseSettings(item);
        ASSERT_EQ(parsed.malformed.size(), 1u) << item;
        EXPECT_EQ(parsed.malformed[0], item);
        const auto &s = parsed.settings;
        EXPECT_EQ(s.devices.size(), 1u) << item;
        EXPECT_EQ(s.unopenable_mask, 0u) << item;
        EXPECT_DOUBLE_EQ(s.version, vantor_sim::kOwnDriverVersion) << item;
        EXPECT_EQ(s.far_end, FarEnd::Both) << item;
        EXPECT_EQ(s.target_logical_address, 0xfe) << item;
        EXPECT_FALSE(s.key || s.send_status || s.read_status) << item;
        EXPECT_TRUE(s.trace_path.empty()) << item;
    }
}

TEST(SimSettings, ApplyingPrintsTheComplaintOnceAndKeepsTheRest)
{
    testing::internal::CaptureStdout();
    bool sound = vantor_sim::ApplySettings("devices=0:0,5:x;version=1.5;bogus");
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(sound);
    EXPECT_EQ(out, "VANTOR_SIM: ignored malformed settings \"devices=0:0,5:x\", \"bogus\"\n");
    EXPECT_DOUBLE_EQ(Vantor_GetDriverVersion(), 1.5);
    EXPECT_EQ(Vantor_CountDevices(), 1);
    // Nothing more is printed by later calls.
    testing::internal::CaptureStdout();
    Vantor_ListDevices();
    Vantor_GetDriverVersion();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    testing::internal::CaptureStdout();
    EXPECT_FALSE(vantor_sim::ApplySettings("key=zz"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VANTOR_SIM: ignored malformed setting \"key=zz\"\n");

    testing::internal::CaptureStdout();
    EXPECT_TRUE(vantor_sim::ApplySettings("far_end=silent"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(SimSettings, UnopenableTraceFileIsReported)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(vantor_sim::ApplySettings("trace=/nonexistent-dir/trace.txt"));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "VANTOR_SIM: ignored malformed setting \"trace=/nonexistent-dir/trace.txt\"\n");
}

} // namespace
