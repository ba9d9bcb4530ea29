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

namespace {

TEST_F(Adapter, TracedReplyHasItsPathTakenOff)
{
    ScratchDir dir;
    std::string settings = "trace=" + (dir / "t").string();
    Start(settings.c_str());
    // Read of one byte at 0x41 with reply path 05 behind three padding bytes, built by hand:
    // fe 01 4d 00 | 00 00 00 05 | 67 00 01 00 00 00 00 41 00 00 01 | header CRC
    Bytes command{0xfe, 0x01, 0x4d, 0x00, 0x00, 0x00, 0x00, 0x05, 0x67, 0x00,
                  0x01, 0x00, 0x00, 0x00, 0x00, 0x41, 0x00, 0x00, 0x01};
    std::uint8_t crc = 0;
    for (std::uint8_t byte : command) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint8_t>((crc >> 1) ^ 0xe0) : static_cast<std::uint8_t>(crc >> 1);
        }
    }
    command.push_back(crc);
    Send(command);
    vantor_sim::TakeSentPackets();
    std::string text = dir.Read("t");
    ASSERT_EQ(text.substr(0, 2), "> ");
    std::size_t second = text.find('\n') + 1;
    // Initiator, protocol, instruction 0d, status, target, transaction 0001, 00, length 000001.
    std::string line = text.substr(second);
    EXPECT_EQ(line.substr(0, 35), "< 67 01 0d 00 fe 00 01 00 00 00 01 ");
    // Then the header CRC, the data byte 41, the data CRC: 14 bytes in all.
    ASSERT_EQ(line.size(), 2 + 14 * 3 + 4);
    EXPECT_EQ(line.substr(2 + 12 * 3, 3), "41 ");
    EXPECT_EQ(line.substr(line.size() - 4), "EOP\n");
    Read read = StartRead(64, 1);
    Vantor_FreeRead(device_, read.id);
}

} // namespace
