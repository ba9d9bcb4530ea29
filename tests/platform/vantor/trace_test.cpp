// The trace file and the choice of what answers at the far end.
#include "adapter_fixture.h"
#include "hand_rmap.h"
#include "support/scratch_dir.h"

namespace {

TEST_F(Adapter, TraceLinesForSentAndArrivedPackets)
{
    ScratchDir dir;
    dir.Write("trace.txt", "earlier line\n");
    std::string settings = "trace=" + (dir / "trace.txt").string();
    Start(settings.c_str());

    Read read = StartRead(64, 3);
    Send({0x00, 0xab, 0x10});
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    Send({0xff});
    Bytes injected{0x5a, 0x0f};
    vantor_sim::InjectPacket(0, injected, VANTOR_EOP_NONE);
    Vantor_FreeRead(device_, read.id);
    // Dropped packets never reached the adapter.
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    vantor_sim::InjectPacket(0, injected);

    EXPECT_EQ(dir.Read("trace.txt"), "earlier line\n"
                                     "> 00 ab 10 EOP\n"
                                     "< 00 ab 10 EOP\n"
                                     "> ff EEP\n"
                                     "< ff EEP\n"
                                     "< 5a 0f none\n");
}

TEST_F(Adapter, NoTraceWithoutTheSetting)
{
    ScratchDir dir;
    Start("");
    Send({1});
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    Read read = StartRead(8, 1);
    Vantor_FreeRead(device_, read.id);
}

// A plain packet (no RMAP command for the target) by far_end setting.
TEST_F(Adapter, FarEndChoosesWhetherPlainPacketsComeBack)
{
    struct Case {
        const char *settings;
        bool comes_back;
    };
    const Case cases[] = {
        {"", true},
        {"far_end=both", true},
        {"far_end=loopback", true},
        {"far_end=target", false},
        {"far_end=silent", false},
    };
    for (const Case &c : cases) {
        Start(c.settings);
        Send({0x20, 0x01, 0x48});
        EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, c.comes_back ? 1u : 0u) << c.settings;
        EXPECT_EQ(vantor_sim::TakeSentPackets().size(), 1u) << c.settings;
    }
}

} // namespace

namespace {

TEST_F(Adapter, TracedReplyHasItsPathTakenOff)
{
    ScratchDir dir;
    std::string settings = "trace=" + (dir / "t").string();
    Start(settings.c_str());
    // Read of one byte at 0x41 with reply path 05 behind three padding bytes.
    hand_rmap::CommandFields fields{.instruction = hand_rmap::kReadIncrementing | 0x01,
                                    .reply_field = {0x00, 0x00, 0x00, 0x05}, .address = 0x41, .length = 1};
    Bytes command = hand_rmap::Header(fields);
    Send(command);
    auto line = [](char sign, const Bytes &bytes) {
        std::string text(1, sign);
        text += ' ';
        for (std::uint8_t byte : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02x ", byte);
            text += hex;
        }
        return text + "EOP\n";
    };
    EXPECT_EQ(dir.Read("t"), line('>', command) + line('<', hand_rmap::ReadReply(fields, 0, {0x41})));
    Read read = StartRead(64, 1);
    Vantor_FreeRead(device_, read.id);
}

} // namespace
