// The RMAP command stream over a real link: a list of reads run whole against
// spacewire_zark_node over loopback TCP, beside the same list against the
// in-process far end.  Transactions per second and data bytes per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/settings.h"
#include "stream_rmap/cr_command_loop.h"
#include "support/node_process.h"
#include "vantor_sim_control.h"

namespace {

constexpr std::int64_t kReads = 100000;

std::string LoopOfReads(std::int64_t times, std::int64_t length)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "l;\nTimesToRepeat: %llx; NumberToRepeat: 1;\n\n"
                  "r;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: yes; Key: 0;\n"
                  "TransactionIdentifier: 1; Address: 2000; ExtendedReadWriteAddress: 0; Length: %llx;\n",
                  static_cast<unsigned long long>(times), static_cast<unsigned long long>(length));
    return text;
}

// One node for the whole program, started on first use.
NodeProcess &Node()
{
    static const std::filesystem::path here = std::filesystem::temp_directory_path();
    static NodeProcess node({}, here, "/dev/null");
    return node;
}

void RunReads(benchmark::State &state, bool over_tcp)
{
    const std::int64_t length = state.range(0);
    std::string settings;
    if (over_tcp) {
        if (!Node().started()) {
            state.SkipWithError("the node did not start");
            return;
        }
        settings = "devices=0:0@127.0.0.1:" + std::to_string(Node().ports()[0]);
    }
    const std::string text = LoopOfReads(kReads, length);
    std::unique_ptr<std::FILE, decltype(&std::fclose)> list(std::tmpfile(), std::fclose);
    std::unique_ptr<std::FILE, decltype(&std::fclose)> output(std::fopen("/dev/null", "w"), std::fclose);
    std::fwrite(text.data(), 1, text.size(), list.get());
    for (auto _ : state) {
        state.PauseTiming();
        std::rewind(list.get());
        vantor_sim::ApplySettings(settings);
        DeviceHandle device = nullptr;
        if (Vantor_Open(&device, 0) == 0) {
            state.SkipWithError("the device did not open");
            return;
        }
        default_base = 16;
        state.ResumeTiming();
        StreamFiles files;
        files.command_list = list.get();
        files.output = output.get();
        CR_CommandLoop(device, files);
    }
    vantor_sim::ApplySettings(""); // closes the connection
    state.SetItemsProcessed(state.iterations() * kReads);
    state.SetBytesProcessed(state.iterations() * kReads * length);
}

void BM_ReadsInProcess(benchmark::State &state) { RunReads(state, false); }
void BM_ReadsOverTcp(benchmark::State &state) { RunReads(state, true); }
BENCHMARK(BM_ReadsInProcess)->Arg(4)->Arg(1024)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ReadsOverTcp)->Arg(4)->Arg(1024)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace
