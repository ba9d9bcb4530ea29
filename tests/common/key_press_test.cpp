// Single-key mode and key polling, on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "common/key_press.h"
#include "support/pty_session.h"
#include "vantor_sim_control.h"

namespace {

bool IsLineMode(const termios &t) { return (t.c_lflag & (ICANON | ECHO | ISIG)) == (ICANON | ECHO | ISIG); }
// While the child polls for a key, VMIN is 0 for the moment of each look.
bool IsSingleKeyMode(const termios &t, bool polling = false)
{
    return (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && (t.c_cc[VMIN] == 1 || (polling && t.c_cc[VMIN] == 0)) &&
           t.c_cc[VTIME] == 0;
}

TEST(KeyPress, OneKeyHeldAtATimeAsASignedByteUntilTheGuardEnds)
{
    PtySession session([] {
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        {
            SingleKeyMode guard;
            std::printf("ready\n");
            while (_kbhit() == 0) {
                usleep(1000);
            }
            const int held = _kbhit(); // the held key is still reported
            const int key = _getch();
            std::printf("held=%d key=%d after=%d\n", held, key, _kbhit());
            const int high = _getch(); // waits for the key
            std::printf("high=%d interrupt=%d\n", high, _getch());
        }
        std::printf("restored\n");
        pause();
        return 0;
    });
    ASSERT_TRUE(session.WaitFor("ready\n"));
    EXPECT_TRUE(IsSingleKeyMode(session.Attributes(), true));
    session.Send("a");
    ASSERT_TRUE(session.WaitFor("after="));
    // The interrupt key arrives as a key, not as a signal.
    session.Send("\xe9\x03");
    ASSERT_TRUE(session.WaitFor("restored\n")) << session.Output();
    EXPECT_NE(session.Output().find("held=1 key=97 after=0\nhigh=-23 interrupt=3\n"), std::string::npos)
        << session.Output();
    EXPECT_EQ(session.Output().find("ready\na"), std::string::npos) << "typed keys are not echoed";
    EXPECT_TRUE(IsLineMode(session.Attributes()));
}

TEST(KeyPress, TerminationSignalRestoresTheTerminal)
{
    PtySession session([] {
        INITIALISE_KEY_PRESS();
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;) {
            pause();
        }
        return 0;
    });
    ASSERT_TRUE(session.WaitFor("ready\n"));
    ASSERT_TRUE(IsSingleKeyMode(session.Attributes()));
    kill(session.pid(), SIGTERM);
    session.WaitExit();
    EXPECT_TRUE(IsLineMode(session.Attributes()));
}

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
