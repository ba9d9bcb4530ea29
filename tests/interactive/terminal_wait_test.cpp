// The waits of the interactive modes on a real pseudo-terminal: any key ends
// them silently, and the terminal is always left as it was found.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <termios.h>

#include "app/settings.h"
#include "common/key_press.h"
#include "device/vantor_api.h"
#include "interactive/interactive_spacewire.h"
#include "support/pty_session.h"
#include "vantor_sim_control.h"

namespace {

constexpr const char *kPrompt =
    "Enter the bytes to be sent, \"base=\" followed by a base type to change the default or \"x\" to exit:\n";
constexpr const char *kSpaceWireWait = "Waiting for replies.  Press any key to stop.\n";
constexpr const char *kRmapWait = "Command successfully sent, waiting for reply. Press any key to stop.\n";

bool SameAttributes(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

bool IsSingleKeyMode(const termios &t)
{
    return (t.c_lflag & (ICANON | ECHO | ISIG)) == 0 && t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
}

std::size_t Occurrences(const std::string &text, const std::string &part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// Reads output until text has appeared count times.
bool WaitForOccurrences(PtySession &session, const std::string &text, std::size_t count, double seconds = 10.0)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (Occurrences(session.Output(), text) < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        session.WaitFor("\x01 not printed", 0.05);
    }
    return true;
}

bool WaitForSingleKeyMode(const PtySession &session, double seconds = 10.0)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!IsSingleKeyMode(session.Attributes())) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        usleep(5000);
    }
    return true;
}

ProgramOptions Program(const char *mode, const char *sim)
{
    ProgramOptions options;
    options.args = {mode};
    options.vantor_sim = sim;
    return options;
}

TEST(SpaceWireWait, KeyPressWhileNothingArrivedEndsTheWaitSilently)
{
    PtySession session(Program("-mode=iscr", "far_end=silent"));
    ASSERT_TRUE(session.WaitFor(kPrompt));
    const termios before = session.Attributes();
    session.Send("1 2\n");
    ASSERT_TRUE(session.WaitFor(kSpaceWireWait));
    ASSERT_TRUE(WaitForSingleKeyMode(session));
    // One key ends the wait; the keys typed after it are not taken as the next line.
    session.Send("kbc");
    ASSERT_TRUE(WaitForOccurrences(session, kPrompt, 2)) << session.Output();
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
    const std::string expected = std::string(kPrompt) + "1 2\nCommand successfully sent.  " + kSpaceWireWait +
                                 "\n\n" + kPrompt;
    EXPECT_NE(session.Output().find(expected), std::string::npos) << session.Output();
    session.Send("x\n");
    EXPECT_EQ(session.WaitExit(), 0) << session.Output();
    EXPECT_EQ(session.Output().find("There was an error"), std::string::npos) << session.Output();
}

TEST(SpaceWireWait, LoopedBackPacketThenKey)
{
    PtySession session(Program("-mode=iscr", "far_end=loopback"));
    ASSERT_TRUE(session.WaitFor(kPrompt));
    const termios before = session.Attributes();
    session.Send("base=2\n");
    ASSERT_TRUE(WaitForOccurrences(session, kPrompt, 2));
    session.Send("h5 hff\n");
    ASSERT_TRUE(session.WaitFor(std::string("Received packet: 101 11111111 EOP\n") + kSpaceWireWait));
    ASSERT_TRUE(WaitForSingleKeyMode(session));
    session.Send(" ");
    ASSERT_TRUE(WaitForOccurrences(session, kPrompt, 3)) << session.Output();
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
    session.Send("X\n");
    EXPECT_EQ(session.WaitExit(), 0);
}

TEST(SpaceWireWait, AttributesRestoredAfterAReadError)
{
    PtySession session(Program("-mode=iscr", "far_end=loopback;read_status=5"));
    ASSERT_TRUE(session.WaitFor(kPrompt));
    const termios before = session.Attributes();
    session.Send("1 2\n");
    ASSERT_TRUE(session.WaitFor(std::string(kSpaceWireWait) + "Error reading packet: An unknown error occurred.\n\n\n" +
                                kPrompt))
        << session.Output();
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
    session.Send("x\n");
    EXPECT_EQ(session.WaitExit(), 0);
}

TEST(SpaceWireWait, AttributesRestoredAfterATimeOut)
{
    ProgramOptions options = Program("-mode=iscr", "far_end=silent");
    options.args.push_back("-timeout=0.05");
    PtySession session(options);
    ASSERT_TRUE(session.WaitFor(kPrompt));
    const termios before = session.Attributes();
    session.Send("\n");
    ASSERT_TRUE(session.WaitFor(std::string(kSpaceWireWait) + "Error reading packet: The transfer timed out.\n"))
        << session.Output();
    ASSERT_TRUE(WaitForOccurrences(session, kPrompt, 2));
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
    session.Send("x\n");
    EXPECT_EQ(session.WaitExit(), 0);
}

TEST(SpaceWireWait, TerminationSignalDuringTheWaitRestoresTheTerminal)
{
    PtySession session(Program("-mode=iscr", "far_end=silent"));
    ASSERT_TRUE(session.WaitFor(kPrompt));
    const termios before = session.Attributes();
    session.Send("1\n");
    ASSERT_TRUE(session.WaitFor(kSpaceWireWait));
    ASSERT_TRUE(WaitForSingleKeyMode(session));
    kill(session.pid(), SIGTERM);
    session.WaitExit();
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
}

TEST(SpaceWireWait, SeveralPacketsBeforeAKeyAreAllShown)
{
    PtySession session([] {
        if (!vantor_sim::ApplySettings("far_end=silent")) {
            return 2;
        }
        DeviceHandle device = nullptr;
        if (Vantor_Open(&device, 0) == 0) {
            return 3;
        }
        Vantor_RegisterReceiveOnAllPorts(device);
        const std::uint8_t first[] = {0x01, 0x02};
        const std::uint8_t second[] = {0xfe};
        const std::uint8_t third[] = {0x00, 0x10, 0x20};
        vantor_sim::InjectPacket(0, first);
        vantor_sim::InjectPacket(0, second, VANTOR_EOP_EEP);
        vantor_sim::InjectPacket(0, third);
        TransferId id = nullptr;
        PacketProperties properties{};
        TransferStatus status = 0;
        ReceiveBuffer buffer = IS_StartReadingResponse(device, id, properties, status);
        IS_ReadResponse(device, id, std::move(buffer), properties, status);
        std::printf("live=%zu\n", vantor_sim::LiveTransferCount());
        return 0;
    });
    const std::string shown = std::string(kSpaceWireWait) + "Received packet: 1 2 EOP\n" + kSpaceWireWait +
                              "Received packet: fe EEP\n" + kSpaceWireWait + "Received packet: 0 10 20 EOP\n" +
                              kSpaceWireWait;
    ASSERT_TRUE(session.WaitFor(shown)) << session.Output();
    ASSERT_TRUE(WaitForSingleKeyMode(session));
    session.Send("q");
    ASSERT_TRUE(session.WaitFor(shown + "live=0\n")) << session.Output();
    EXPECT_EQ(session.WaitExit(), 0);
    EXPECT_TRUE(SameAttributes(session.Attributes(), DefaultTerminalAttributes()));
}

// Answers each field prompt only once it shows: typed-ahead input is discarded.
// Each prompt starts a line (after the echo of the answer before it).
void AnswerRead(PtySession &session)
{
    const std::pair<const char *, const char *> answers[] = {
        {"\nDestination Address: ", "fe\n"},     {"\nIncrement Address: ", "y\n"},
        {"\nDestination Key: ", "0\n"},          {"\nSource Address: ", "67\n"},
        {"\nTransaction Identifier: ", "1\n"},   {"\nExtended Read/Write Address: ", "0\n"},
        {"\nRead/Write Address: ", "100\n"},     {"\nData length: ", "4\n"},
        {"\nHeader CRC (", "\n"},
    };
    for (const auto &[prompt, answer] : answers) {
        ASSERT_TRUE(session.WaitFor(prompt)) << session.Output();
        session.Send(answer);
    }
}

TEST(RmapWait, KeyPressWhileWaitingForTheReplyPrintsNothingFurther)
{
    PtySession session(Program("-mode=ircr", "far_end=silent"));
    ASSERT_TRUE(session.WaitFor("Enter command type: "));
    const termios before = session.Attributes();
    session.Send("r\n");
    AnswerRead(session);
    ASSERT_TRUE(session.WaitFor(kRmapWait));
    ASSERT_TRUE(WaitForSingleKeyMode(session));
    session.Send("z");
    ASSERT_TRUE(session.WaitFor(std::string(kRmapWait) + "\n\n\n\nPlease specify the type of RMAP command to perform:"))
        << session.Output();
    ASSERT_TRUE(WaitForOccurrences(session, "Enter command type: ", 2));
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
    session.Send("x\n");
    EXPECT_EQ(session.WaitExit(), 0);
}

TEST(RmapWait, AttributesRestoredAfterATimedOutReply)
{
    ProgramOptions options = Program("-mode=ircr", "far_end=silent");
    options.args.push_back("-timeout=0.05");
    PtySession session(options);
    ASSERT_TRUE(session.WaitFor("Enter command type: "));
    const termios before = session.Attributes();
    session.Send("r\n");
    AnswerRead(session);
    ASSERT_TRUE(session.WaitFor(std::string(kRmapWait) + "Error reading reply: The transfer timed out.\n"))
        << session.Output();
    ASSERT_TRUE(WaitForOccurrences(session, "Enter command type: ", 2));
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
    session.Send("x\n");
    EXPECT_EQ(session.WaitExit(), 0);
}

TEST(RmapWait, TerminationSignalDuringTheWaitRestoresTheTerminal)
{
    PtySession session(Program("-mode=ircr", "far_end=silent"));
    ASSERT_TRUE(session.WaitFor("Enter command type: "));
    const termios before = session.Attributes();
    session.Send("r\n");
    AnswerRead(session);
    ASSERT_TRUE(session.WaitFor(kRmapWait));
    ASSERT_TRUE(WaitForSingleKeyMode(session));
    kill(session.pid(), SIGTERM);
    session.WaitExit();
    EXPECT_TRUE(SameAttributes(session.Attributes(), before));
}

} // namespace
