// The waits of the interactive modes on a real pseudo-terminal: single-key
// mode while waiting, any key ends the wait silently, and the terminal is
// left as it was found however the wait ends.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "support/pty_session.h"

namespace {

const std::string kPrompt =
    "\n\nEnter the bytes to be sent, \"base=\" followed by a base type to change the default or \"x\" to exit:\n";
const std::string kSpaceWireWait = "Waiting for replies.  Press any key to stop.\n";
const std::string kRmapWait = "Command successfully sent, waiting for reply. Press any key to stop.\n";
const std::string kMenu = "\n\n\n\nPlease specify the type of RMAP command to perform:";

bool SameAttributes(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

bool WaitForSingleKeyMode(const PtySession &session)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const termios t = session.Attributes();
        if ((t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        usleep(5000);
    }
}

// Starts one command.  Each RMAP field is answered only once its prompt
// shows, since input typed ahead of a prompt is discarded.
void StartCommand(PtySession &session, bool rmap, const char *typed_ahead)
{
    if (!rmap) {
        ASSERT_TRUE(session.WaitFor(kPrompt));
        session.Send(std::string("1 2\n") + typed_ahead);
        return;
    }
    const std::pair<const char *, const char *> answers[] = {
        {"type: ", "r\n"}, {"\nDestination Address: ", "fe\n"}, {"\nIncrement Address: ", "y\n"},
        {"\nDestination Key: ", "0\n"}, {"\nSource Address: ", "67\n"}, {"\nTransaction Identifier: ", "1\n"},
        {"\nExtended Read/Write Address: ", "0\n"}, {"\nRead/Write Address: ", "100\n"},
        {"\nData length: ", "4\n"}, {"\nHeader CRC (", "\n"}};
    for (const auto &[prompt, answer] : answers) {
        ASSERT_TRUE(session.WaitFor(prompt)) << session.Output();
        session.Send(answer);
    }
}

enum class End { Key, KeyBeforeThePacket, Signal, TimeOut, ReadError };

TEST(InteractiveWait, EveryEndingRestoresTheTerminal)
{
    const struct {
        bool rmap;
        End end;
        std::string shown; // from the wait message to the next prompt
    } cases[] = {
        // Keys typed after the one that ends the wait are not the next line.
        {false, End::Key, kSpaceWireWait + kPrompt},
        // A key already waiting when the packet comes shows it, then ends the wait.
        {false, End::KeyBeforeThePacket, kSpaceWireWait + "Received packet: 1 2 EOP\n" + kPrompt},
        {false, End::Signal, kSpaceWireWait},
        {false, End::TimeOut, kSpaceWireWait + "Error reading packet: The transfer timed out.\n" + kPrompt},
        {false, End::ReadError, kSpaceWireWait + "Error reading packet: An unknown error occurred.\n" + kPrompt},
        {true, End::Key, kRmapWait + kMenu},
        {true, End::Signal, kRmapWait},
        {true, End::TimeOut, kRmapWait + "Error reading reply: The transfer timed out.\n" + kMenu},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.rmap ? "RMAP " : "SpaceWire ") + std::to_string(static_cast<int>(c.end)));
        ProgramOptions options;
        options.args = {c.rmap ? "-mode=ircr" : "-mode=iscr"};
        options.vantor_sim = c.end == End::ReadError            ? "far_end=loopback;read_status=5"
                             : c.end == End::KeyBeforeThePacket ? "far_end=loopback"
                                                                : "far_end=silent";
        if (c.end == End::TimeOut || c.end == End::KeyBeforeThePacket) {
            options.args.push_back("-timeout=0.05");
        }
        PtySession session(options);
        ASSERT_TRUE(session.WaitFor(c.rmap ? "Enter command type: " : kPrompt));
        const termios before = session.Attributes();
        StartCommand(session, c.rmap, c.end == End::KeyBeforeThePacket ? "k" : "");
        if (c.end == End::Key || c.end == End::Signal) {
            ASSERT_TRUE(session.WaitFor(c.rmap ? kRmapWait : kSpaceWireWait));
            ASSERT_TRUE(WaitForSingleKeyMode(session)) << session.Output();
        }
        if (c.end == End::Signal) {
            kill(session.pid(), SIGTERM);
            session.WaitExit();
            EXPECT_TRUE(SameAttributes(session.Attributes(), before));
            continue;
        }
        if (c.end == End::Key) {
            session.Send(c.rmap ? "z" : "kbc");
        }
        ASSERT_TRUE(session.WaitFor(c.shown)) << session.Output();
        EXPECT_TRUE(SameAttributes(session.Attributes(), before));
        session.Send("x\n");
        EXPECT_EQ(session.WaitExit(), 0) << session.Output();
    }
}

} // namespace
