// Repeated commands share what was parsed and built once: every execution
// must still send exactly what the user wrote, hold its own transfers and
// give each back once, and a loop that could never fit is still refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "app/settings.h"
#include "common/stream_run.h"
#include "device/quill_rmap.h"
#include "stream_rmap/rmap_execution.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"
#include "support/scratch_dir.h"
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

// The packet a write of data with a header CRC override must go out as.
std::vector<std::uint8_t> WriteWithHeaderCrc(const std::vector<std::uint8_t> &data, std::uint8_t crc)
{
    const unsigned char target[] = {0xFE}, reply[] = {0x20};
    unsigned int length = 0;
    RmapPacketInfo info{};
    unsigned char *packet = RMAP_BuildWriteCommandPacket(target, 1, reply, 1, 0, 0, 1, 0, 7, 0x1000, 0, data.data(),
                                                         static_cast<unsigned int>(data.size()), &length, &info, 1);
    *info.header_crc_location = crc;
    std::vector<std::uint8_t> bytes(packet, packet + length);
    RMAP_FreeBuffer(packet);
    return bytes;
}

TEST_F(Repetition, EveryRepetitionSendsTheCrcOverrideAndTheFileDataAsParsed)
{
    ScratchDir dir;
    dir.Write("payload.bin", std::string("\x11\x22\x33", 3));
    RmapCommandPtr chain = Parse(Loop(3) + "w;\n" + kHeader + "VerifyBeforeWrite: no; Acknowledge: no; HeaderCRC: 5A;\nData: -" +
                                 (dir / "payload.bin").string() + ";\n");
    ASSERT_NE(chain, nullptr);
    // The file changes after the list was read: what was read is what goes.
    dir.Write("payload.bin", std::string("\x44\x55", 2));
    int errors = 0;
    Run(chain.get(), errors);
    EXPECT_EQ(errors, 0);
    const std::vector<vantor_sim::SentPacket> sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 3u);
    for (const vantor_sim::SentPacket &packet : sent) {
        EXPECT_EQ(packet.packet.bytes, WriteWithHeaderCrc({0x11, 0x22, 0x33}, 0x5A));
    }
}

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
