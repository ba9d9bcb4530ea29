// The wait on a read or a key, on a real pseudo-terminal.  What single-key
// mode does to the terminal, and its restoring, are the interactive waits'
// to show (InteractiveWait).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/key_press.h"
#include "support/pty_session.h"
#include "vantor_sim_control.h"

namespace {

bool IsLineMode(const termios &t) { return (t.c_lflag & (ICANON | ECHO | ISIG)) == (ICANON | ECHO | ISIG); }

// One wait on a read of device 0; on a loopback link a packet is sent first.
int WaitOnce(bool loopback, double timeout_seconds)
{
    vantor_sim::ApplySettings(loopback ? "far_end=loopback" : "far_end=silent");
    DeviceHandle device = nullptr;
    Vantor_Open(&device, 0);
    if (timeout_seconds > 0) {
        Vantor_SetTimeout(device, timeout_seconds);
    }
    Vantor_RegisterReceiveOnAllPorts(device);
    std::uint8_t buffer[64];
    PacketProperties properties{};
    TransferId id = nullptr;
    Vantor_ReadPackets(device, buffer, sizeof buffer, 1, 0, &properties, &id);
    if (loopback) {
        std::uint8_t packet[] = {1, 2, 3};
        TransferId send = nullptr;
        Vantor_SendPacket(device, packet, sizeof packet, 1, &send);
        Vantor_FreeSend(device, send);
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    INITIALISE_KEY_PRESS();
    std::printf("waiting\n");
    TransferStatus status = -1;
    bool key = false;
    WaitOnKeyPressOrReadCompleting(device, id, &status, &key);
    const int pending = _kbhit();
    STOP_RECEIVING_KEY_PRESSES();
    std::printf("status=%d key=%d pending=%d\n", status, key, pending);
    Vantor_FreeRead(device, id);
    return 0;
}

TEST(WaitOnKeyPressOrReadCompleting, EndsWithTheReadOrAKeyAndTakesPrefixKeysWhole)
{
    const struct {
        bool loopback;
        double timeout;
        std::string keys;
        const char *outcome;
    } cases[] = {
        {true, 0, "", "status=2 key=0 pending=0\n"},
        {false, 0.05, "", "status=6 key=0 pending=0\n"},
        {false, 0, "q", "status=1 key=1 pending=0\n"},
        {false, 0, "ab", "status=1 key=1 pending=1\n"},
        {false, 0, "\x0e" "b", "status=1 key=1 pending=0\n"},
        {false, 0, std::string("\0c", 2), "status=1 key=1 pending=0\n"},
    };
    for (const auto &c : cases) {
        PtySession session([&c] { return WaitOnce(c.loopback, c.timeout); });
        ASSERT_TRUE(session.WaitFor("waiting\n"));
        session.Send(c.keys);
        ASSERT_TRUE(session.WaitFor("pending="));
        EXPECT_EQ(session.WaitExit(), 0);
        EXPECT_NE(session.Output().find(c.outcome), std::string::npos) << session.Output();
        EXPECT_TRUE(IsLineMode(session.Attributes()));
    }
}

} // namespace
