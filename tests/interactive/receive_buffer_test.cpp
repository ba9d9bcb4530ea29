// A receive buffer that cannot be allocated is reported; the command is still
// sent and nothing crashes.  Run in a child process whose address space is
// limited, so that the allocation really fails.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "app/settings.h"
#include "device/vantor_api.h"
#include "interactive/interactive_spacewire.h"
#include "interactive/rmap_transaction.h"
#include "support/capture_stdout.h"
#include "support/pty_session.h"
#include "vantor_sim_control.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZARK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARK_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

// Leaves 256 MiB of address space beyond what the process holds now.
bool LimitAddressSpace()
{
    std::FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return false;
    }
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    if (!read) {
        return false;
    }
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (256ul << 20);
    const rlimit value{limit, limit};
    return setrlimit(RLIMIT_AS, &value) == 0;
}

// Runs body in a child with a device open and the largest -receive_buf.
std::string RunWithoutMemory(int (*body)(DeviceHandle))
{
    static int (*run)(DeviceHandle) = nullptr;
    run = body;
    PtySession session([] {
        if (!vantor_sim::ApplySettings("far_end=loopback")) {
            return 2;
        }
        DeviceHandle device = nullptr;
        if (Vantor_Open(&device, 0) == 0) {
            return 3;
        }
        Vantor_SetTimeout(device, 0.05);
        receive_buffer_size = INT_MAX;
        if (!LimitAddressSpace()) {
            return 4;
        }
        return run(device);
    });
    EXPECT_EQ(session.WaitExit(), 0) << session.Output();
    return session.Output();
}

class UnallocatableReceiveBuffer : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef ZARK_ADDRESS_SANITIZER
        GTEST_SKIP() << "the address sanitizer needs far more address space than the limit leaves";
#endif
    }
};

TEST_F(UnallocatableReceiveBuffer, SpaceWirePacketStillSentAndNoWait)
{
    const std::string out = RunWithoutMemory([](DeviceHandle device) {
        FeedStdin("1 2\nx\n");
        IS_RequestCommand(device);
        const auto sent = vantor_sim::TakeSentPackets();
        std::printf("sent=%zu live=%zu registered=%d\n", sent.size(), vantor_sim::LiveTransferCount(),
                    vantor_sim::GetDeviceState(0).registered ? 1 : 0);
        return 0;
    });
    const std::string prompt =
        "\n\nEnter the bytes to be sent, \"base=\" followed by a base type to change the default or \"x\" to exit:\n";
    EXPECT_EQ(out, prompt + "Could not allocate a buffer to receive packets\nCommand successfully sent.  " + prompt +
                       "sent=1 live=0 registered=0\n");
}

TEST_F(UnallocatableReceiveBuffer, RmapCommandStillSentAndNoWait)
{
    const std::string out = RunWithoutMemory([](DeviceHandle device) {
        FeedStdin("fe\nn\n0\n67\n1\n0\n0\n4\n\n");
        const bool input_open = IR_RequestCommand(RMAP_COMMAND_READ, device);
        const auto sent = vantor_sim::TakeSentPackets();
        std::printf("open=%d sent=%zu live=%zu registered=%d\n", input_open ? 1 : 0, sent.size(),
                    vantor_sim::LiveTransferCount(), vantor_sim::GetDeviceState(0).registered ? 1 : 0);
        return 0;
    });
    EXPECT_NE(out.find("Header CRC ("), std::string::npos) << out;
    EXPECT_NE(out.find("): Could not allocate a buffer to receive the reply\nopen=1 sent=1 live=0 registered=0\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("waiting for reply"), std::string::npos) << out;
}

} // namespace
