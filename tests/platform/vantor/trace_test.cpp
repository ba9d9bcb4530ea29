// The trace file and the choice of what answers at the far end.
#include "adapter_fixture.h"
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
