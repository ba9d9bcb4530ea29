// Repeated commands share what was parsed and built once: every execution
// must still hold its own transfers and give each back once, and a loop that
// could never fit is still refused.  What each repetition sends is in the
// golden cases (stream_rmap/loop_repeats_crc_overrides_and_file_data).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <memory>
#include <string>
#include <sys/resource.h>

#include "app/settings.h"
#include "common/stream_run.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"
#include "vantor_sim_control.h"

// Every release the program makes goes through here on its way to the
// library, so that an identifier given back twice is seen.
namespace {
long long frees = 0;
long long refused_frees = 0;

unsigned char CountedFree(const char *name, DeviceHandle device, TransferId id)
{
    using Free = unsigned char (*)(DeviceHandle, TransferId);
    static const Free read = reinterpret_cast<Free>(dlsym(RTLD_NEXT, "Vantor_FreeRead"));
    static const Free send = reinterpret_cast<Free>(dlsym(RTLD_NEXT, "Vantor_FreeSend"));
    const unsigned char freed = (name[0] == 'r' ? read : send)(device, id);
    ++frees;
    refused_frees += freed == 0 ? 1 : 0;
    return freed;
}
} // namespace

extern "C" unsigned char Vantor_FreeRead(DeviceHandle device, TransferId id)
{
    return CountedFree("read", device, id);
}

extern "C" unsigned char Vantor_FreeSend(DeviceHandle device, TransferId id)
{
    return CountedFree("send", device, id);
}

namespace {

const std::string kHeader = "DestinationAddress: FE; SourceAddress: 20; IncrementTarget: yes; Key: 0;\n"
                            "TransactionIdentifier: 7; ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0;\n";

std::string Loop(unsigned times) { return "l;\nTimesToRepeat: n" + std::to_string(times) + "; NumberToRepeat: 1;\n\n"; }

class Repetition : public testing::Test {
protected:
    void SetUp() override
    {
        default_base = 16;
        ASSERT_TRUE(vantor_sim::ApplySettings(""));
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
        vantor_sim::TakeSentPackets();
    }
    void TearDown() override { Vantor_UnregisterReceiveOnAllPorts(device_); }

    static RmapCommandPtr Parse(const std::string &text)
    {
        CaptureStdout quiet;
        int output_base = -1;
        return CR_ProcessCommands(text, &output_base);
    }

    // Runs a parsed chain as the mode does; what it printed and the errors it counted.
    std::string Run(RmapCommand *chain, int &errors)
    {
        CaptureStdout capture;
        errors = 0;
        if (!CR_DealWithLoopCommands(chain)) {
            return capture.Take();
        }
        std::FILE *output = std::fopen("/dev/null", "w");
        StreamRunBegin(output);
        {
            RmapRuns runs(device_);
            CR_ExecuteCommands(runs, chain, output, errors);
            CR_WaitOnResponses(runs, chain, output, errors);
        }
        StreamRunEnd();
        std::fclose(output);
        return capture.Take();
    }

    DeviceHandle device_ = nullptr;
};

TEST_F(Repetition, EveryTransferOfALargeLoopIsGivenBackOnce)
{
    constexpr unsigned kTimes = 100000;
    RmapCommandPtr chain = Parse(Loop(kTimes) + "r;\n" + kHeader + "Length: 4;\n");
    ASSERT_NE(chain, nullptr);
    frees = refused_frees = 0;
    int errors = 0;
    Run(chain.get(), errors);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_EQ(frees, 2LL * kTimes) << "a send and a reply read each";
    EXPECT_EQ(refused_frees, 0);
}

TEST_F(Repetition, LoopsThatCouldNeverFitAreRefusedAndOthersRun)
{
#ifdef ZARK_UNDER_ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer cannot run with a limited address space";
#endif
    // Half of a 2 GB address space may go to the executions: ten million
    // reads do not fit in it, two million do.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    const rlimit lowered{rlim_t{2} << 30, saved.rlim_max};
    std::string printed;
    bool two_million = false;
    {
        RmapCommandPtr large = Parse(Loop(10000000) + "r;\n" + kHeader + "Length: 4;\n");
        RmapCommandPtr fits = Parse(Loop(2000000) + "r;\n" + kHeader + "Length: 4;\n");
        ASSERT_TRUE(large && fits);
        ASSERT_EQ(setrlimit(RLIMIT_AS, &lowered), 0);
        CaptureStdout capture;
        EXPECT_FALSE(CR_DealWithLoopCommands(large.get()));
        two_million = CR_DealWithLoopCommands(fits.get());
        printed = capture.Take();
        ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    }
    EXPECT_EQ(printed, "Could not allocate memory for children of loop command 0\n");
    EXPECT_TRUE(two_million);
}

} // namespace
