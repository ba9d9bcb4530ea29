// Both interactive modes in process: every exchange releases its transfers
// and undoes its receive registration, a receive buffer that cannot be had
// still lets the command go out, and a console that cannot be read ends the
// SpaceWire mode with its message.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "app/settings.h"
#include "device/vantor_api.h"
#include "interactive/interactive_spacewire.h"
#include "interactive/rmap_field_store.h"
#include "interactive/rmap_transaction.h"
#include "support/capture_stdout.h"
#include "support/pty_session.h"
#include "vantor_sim_control.h"

namespace {

const std::string kPrompt =
    "\n\nEnter the bytes to be sent, \"base=\" followed by a base type to change the default or \"x\" to exit:\n";

// Types the lines into the SpaceWire prompt loop or one RMAP read, then
// prints what was sent and what is left open.
void RunMode(DeviceHandle device, bool rmap, const char *typed)
{
    FeedStdin(typed);
    if (rmap) {
        std::printf("open=%d ", IR_RequestCommand(RMAP_COMMAND_READ, device) ? 1 : 0);
    } else {
        IS_RequestCommand(device);
    }
    std::printf("sent=%zu live=%zu registered=%d\n", vantor_sim::TakeSentPackets().size(),
                vantor_sim::LiveTransferCount(), vantor_sim::GetDeviceState(0).registered ? 1 : 0);
}

DeviceHandle OpenDevice(const char *settings)
{
    DeviceHandle device = nullptr;
    default_base = 16;
    receive_buffer_size = 4096;
    rmap_fields = RmapFieldStore{};
    EXPECT_TRUE(vantor_sim::ApplySettings(settings));
    EXPECT_NE(Vantor_Open(&device, 0), 0);
    Vantor_SetTimeout(device, 0.05);
    return device;
}

TEST(Exchanges, LeaveNoTransferOrRegistrationBehind)
{
    DeviceHandle device = OpenDevice("far_end=both");
    const struct {
        bool rmap;
        const char *typed;
        const char *shows;
    } cases[] = {
        {false, "1 2\n\nx\n", "Received packet: 1 2 EOP\n"},
        {true, "fe\ny\n0\n20\n1\n0\n0\n4\n\n", "Read response"},
    };
    for (const auto &c : cases) {
        CaptureStdout capture;
        RunMode(device, c.rmap, c.typed);
        const std::string out = capture.Take();
        EXPECT_NE(out.find(c.shows), std::string::npos) << out;
        EXPECT_NE(out.find("sent=1 live=0 registered=0\n"), std::string::npos) << out;
    }
}

TEST(Exchanges, UnallocatableReceiveBufferStillSendsAndAwaitsNothing)
{
#ifdef ZARK_UNDER_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer needs far more address space than the limit leaves";
#endif
    // In a child whose address space may grow by only 256 MiB, the largest
    // -receive_buf cannot be allocated.
    static bool rmap = false;
    auto run = [] {
        DeviceHandle device = OpenDevice("far_end=loopback");
        receive_buffer_size = INT_MAX;
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256ul << 20);
        const rlimit value{limit, limit};
        if (pages == 0 || setrlimit(RLIMIT_AS, &value) != 0) {
            return 3;
        }
        RunMode(device, rmap, rmap ? "fe\nn\n0\n67\n1\n0\n0\n4\n\n" : "1 2\nx\n");
        return 0;
    };
    PtySession spacewire(run);
    EXPECT_EQ(spacewire.WaitExit(), 0);
    EXPECT_EQ(spacewire.Output(), kPrompt + "Could not allocate a buffer to receive packets\n"
                                            "Command successfully sent.  " + kPrompt + "sent=1 live=0 registered=0\n");
    rmap = true;
    PtySession read(run);
    EXPECT_EQ(read.WaitExit(), 0);
    const std::string out = read.Output();
    EXPECT_NE(out.find("): Could not allocate a buffer to receive the reply\nopen=1 sent=1 live=0 registered=0\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("waiting for reply"), std::string::npos) << out;
}

TEST(Exchanges, UnreadableConsoleIsNamedAndEndsTheSpaceWireMode)
{
    DeviceHandle device = OpenDevice("far_end=loopback");
    // Reading a directory fails with an error rather than at end of input.
    ASSERT_NE(std::freopen("/", "r", stdin), nullptr);
    CaptureStdout capture;
    IS_RequestCommand(device);
    EXPECT_EQ(capture.Take(), kPrompt + "Error reading command\n");
}

} // namespace
