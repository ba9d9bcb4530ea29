// Single-key mode and key polling, on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

#include "common/key_press.h"
#include "support/pty_session.h"
#include "vantor_sim_control.h"

namespace {

bool IsLineMode(const termios &t) { return (t.c_lflag & (ICANON | ECHO | ISIG)) == (ICANON | ECHO | ISIG); }
bool IsSingleKeyMode(const termios &t)
{
    return (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
}

// Polls _kbhit for up to five seconds.
bool AwaitKey()
{
    for (int i = 0; i < 5000; ++i) {
        if (_kbhit() != 0) {
            return true;
        }
        usleep(1000);
    }
    return false;
}

TEST(KeyPress, KeyReportedOnceByKbhitThenReturnedByGetch)
{
    PtySession session([] {
        INITIALISE_KEY_PRESS();
        std::printf("ready\n");
        std::fflush(stdout);
        const bool seen = AwaitKey();
        const bool seen_again = _kbhit() != 0; // the held key is still reported
        const int key = _getch();
        const int after = _kbhit();
        std::printf("seen=%d again=%d key=%d after=%d\n", seen, seen_again, key, after);
        std::fflush(stdout);
        STOP_RECEIVING_KEY_PRESSES();
        return 0;
    });
    ASSERT_TRUE(session.WaitFor("ready\n"));
    EXPECT_TRUE(IsSingleKeyMode(session.Attributes()));
    session.Send("a");
    ASSERT_TRUE(session.WaitFor("after="));
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_NE(session.Output().find("seen=1 again=1 key=97 after=0\n"), std::string::npos) << session.Output();
    // Nothing typed was echoed while in single-key mode.
    EXPECT_EQ(session.Output().find("ready\na"), std::string::npos);
    EXPECT_TRUE(IsLineMode(session.Attributes()));
}

TEST(KeyPress, GetchReturnsKeysAsSignedBytesAndInterruptKeyIsAKey)
{
    PtySession session([] {
        INITIALISE_KEY_PRESS();
        std::printf("ready\n");
        std::fflush(stdout);
        const int high = _getch();      // waits for the key
        const int interrupt = _getch(); // no signal in single-key mode
        std::printf("high=%d interrupt=%d\n", high, interrupt);
        std::fflush(stdout);
        STOP_RECEIVING_KEY_PRESSES();
        return 0;
    });
    ASSERT_TRUE(session.WaitFor("ready\n"));
    session.Send("\xe9\x03");
    ASSERT_TRUE(session.WaitFor("interrupt="));
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_NE(session.Output().find("high=-23 interrupt=3\n"), std::string::npos) << session.Output();
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

TEST(KeyPress, GuardRestoresOnEveryWayOut)
{
    PtySession session([] {
        try {
            SingleKeyMode guard;
            std::printf("inside\n");
            std::fflush(stdout);
            AwaitKey();
            throw 1;
        } catch (int) {
        }
        std::printf("outside\n");
        std::fflush(stdout);
        pause();
        return 0;
    });
    ASSERT_TRUE(session.WaitFor("inside\n"));
    EXPECT_TRUE(IsSingleKeyMode(session.Attributes()));
    session.Send("k");
    ASSERT_TRUE(session.WaitFor("outside\n"));
    EXPECT_TRUE(IsLineMode(session.Attributes()));
}

TEST(KeyPress, NoTerminalMeansNoKeysAndNoChange)
{
    // In this test process standard input is not a terminal (or not ours).
    if (isatty(STDIN_FILENO) != 0) {
        GTEST_SKIP() << "standard input is a terminal";
    }
    INITIALISE_KEY_PRESS();
    EXPECT_EQ(_kbhit(), 0);
    STOP_RECEIVING_KEY_PRESSES();
}

} // namespace

namespace {

// Runs one wait on a read of device 0, in a child on a terminal, and prints
// the outcome; a packet may be looped back before the wait begins.
int WaitOnce(const char *settings, bool packet_first, double timeout_seconds)
{
    vantor_sim::ApplySettings(settings);
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
    if (packet_first) {
        std::uint8_t packet[] = {1, 2, 3};
        TransferId send = nullptr;
        Vantor_SendPacket(device, packet, sizeof packet, 1, &send);
        Vantor_FreeSend(device, send);
    }
    INITIALISE_KEY_PRESS();
    std::printf("waiting\n");
    std::fflush(stdout);
    TransferStatus status = -1;
    bool key = false;
    WaitOnKeyPressOrReadCompleting(device, id, &status, &key);
    const int pending = _kbhit();
    STOP_RECEIVING_KEY_PRESSES();
    std::printf("status=%d key=%d pending=%d\n", status, key, pending);
    std::fflush(stdout);
    Vantor_FreeRead(device, id);
    return 0;
}

TEST(WaitOnKeyPress, CompletedReadEndsTheWaitWithoutAKey)
{
    PtySession session([] { return WaitOnce("far_end=loopback", true, 0); });
    ASSERT_TRUE(session.WaitFor("pending="));
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_NE(session.Output().find("status=2 key=0 pending=0\n"), std::string::npos) << session.Output();
}

TEST(WaitOnKeyPress, ReadTimingOutEndsTheWait)
{
    PtySession session([] { return WaitOnce("far_end=silent", false, 0.05); });
    ASSERT_TRUE(session.WaitFor("pending="));
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_NE(session.Output().find("status=6 key=0 pending=0\n"), std::string::npos) << session.Output();
}

TEST(WaitOnKeyPress, KeyPressEndsTheWaitOnASilentLink)
{
    PtySession session([] { return WaitOnce("far_end=silent", false, 0); });
    ASSERT_TRUE(session.WaitFor("waiting\n"));
    session.Send("q");
    ASSERT_TRUE(session.WaitFor("pending="));
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_NE(session.Output().find("status=1 key=1 pending=0\n"), std::string::npos) << session.Output();
    EXPECT_TRUE(IsLineMode(session.Attributes()));
}

TEST(WaitOnKeyPress, PrefixKeysTakeTheirSecondByteWithThem)
{
    for (const std::string &keys : {std::string("\x0e" "b"), std::string("\0c", 2)}) {
        PtySession session([] { return WaitOnce("far_end=silent", false, 0); });
        ASSERT_TRUE(session.WaitFor("waiting\n"));
        session.Send(keys);
        ASSERT_TRUE(session.WaitFor("pending="));
        EXPECT_EQ(session.WaitExit(), 0);
        // The second byte went with the first: no key is left over.
        EXPECT_NE(session.Output().find("status=1 key=1 pending=0\n"), std::string::npos) << session.Output();
    }
}

TEST(WaitOnKeyPress, OrdinaryKeyLeavesTheNextKeyWaiting)
{
    PtySession session([] { return WaitOnce("far_end=silent", false, 0); });
    ASSERT_TRUE(session.WaitFor("waiting\n"));
    session.Send("ab");
    ASSERT_TRUE(session.WaitFor("pending="));
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_NE(session.Output().find("status=1 key=1 pending=1\n"), std::string::npos) << session.Output();
}

} // namespace
