// Buffers that cannot be allocated while a list runs: the transfer is not
// handed to the adapter, the failure is reported and counted, and nothing
// is waited for or released that the adapter never started.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/settings.h"
#include "stream_spacewire/cs_execution.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "support/scratch_dir.h"
#include "vantor_sim_control.h"

namespace {

// Runs the list in a child process whose address space may grow by only
// 256 MB once the list is parsed; returns what the child printed.
std::string RunWithLittleMemory(const char *text)
{
    ScratchDir scratch;
    const std::string printed = (scratch / "stdout.txt").string();
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        DeviceHandle device = nullptr;
        SpaceWireCommandList list;
        NumberBase output_base = -1;
        std::int32_t errors = 0;
        default_base = 16;
        if (std::freopen(printed.c_str(), "w", stdout) == nullptr || !vantor_sim::ApplySettings("far_end=loopback") ||
            Vantor_Open(&device, 0) == 0 || !CS_ProcessCommands(text, list, output_base) ||
            !CS_DealWithLoopCommands(list)) {
            _exit(3);
        }
        Vantor_RegisterReceiveOnAllPorts(device);
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGE_SIZE)) + (256u << 20);
        const rlimit address_space{limit, limit};
        if (pages == 0 || setrlimit(RLIMIT_AS, &address_space) != 0) {
            _exit(4);
        }
        auto runs = std::make_unique<SpaceWireRuns>(device);
        CS_ExecuteCommandsInOrder(*runs, list.get(), nullptr, errors);
        CS_WaitOnSends(*runs, list.get(), nullptr, errors);
        CS_WaitOnReads(*runs, list.get(), stdout, errors);
        runs.reset();
        std::printf("errors=%d live=%zu sent=%zu\n", errors, vantor_sim::LiveTransferCount(),
                    vantor_sim::TakeSentPackets().size());
        std::fflush(stdout);
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return ReadWholeFile(printed);
}

TEST(AllocationFailure, TransferLeftUnsubmittedAndTheRestRun)
{
#ifdef ZARK_UNDER_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer cannot run with a limited address space";
#endif
    // 2^31 - 65536 bytes of room: valid, but more than the child may have.
    EXPECT_EQ(RunWithLittleMemory("R n:7fff l:10000; S d:1; R l:4;"),
              "Command list file successfully processed.\n"
              "Error allocating memory for receive command.\n"
              "Error receiving command 0: The transfer failed due to a lack of memory.\n"
              "E\n"
              "F 1 EOP\n"
              "errors=1 live=0 sent=1\n"); // one failed receive, counted once
    // 64 Mi packets of one byte: the data fits, its 512 MB of packet pointers do not.
    EXPECT_EQ(RunWithLittleMemory("S n:4000000 d:1; R l:4; S d:2; R l:4;"),
              "Command list file successfully processed.\n"
              "Error submitting send command 0: The transfer failed due to a lack of memory.\n"
              "T\n"
              "F 2 EOP\n"
              "errors=1 live=0 sent=1\n");
}

} // namespace
