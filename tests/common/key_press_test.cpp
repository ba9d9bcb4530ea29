// Single-key mode and key polling, on a real pseudo-terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "common/key_press.h"
#include "support/pty_session.h"

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
