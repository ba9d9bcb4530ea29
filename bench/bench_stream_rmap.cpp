// The RMAP command-stream mode on generated lists, run whole (read, parse,
// expand, send every command, await every reply, release) against the
// simulated target.  Reports transactions per second and the peak memory the
// run added, per command; both should stay flat from 100,000 to 1,000,000.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <string>

#include "app/settings.h"
#include "stream_rmap/cr_command_loop.h"
#include "resident_memory.h"
#include "vantor_sim_control.h"

namespace {

const char kFirstWrite[] = "w;\nDestinationAddress: FE; SourceAddress: 20; VerifyBeforeWrite: no;\n"
                           "Acknowledge: yes; IncrementTarget: yes; Key: 0; TransactionIdentifier: 0;\n"
                           "ReadWriteAddress: 1000; ExtendedReadWriteAddress: 0; Data: 01 02 03 04;\n\n";

// Reads and acknowledged writes in turn, each taking what it lacks from the one before.
std::string ReadsAndWrites(std::int64_t count)
{
    std::string text = kFirstWrite;
    char command[64];
    for (std::int64_t i = 1; i < count; ++i) {
        std::snprintf(command, sizeof command, "%c;\nTransactionIdentifier: %x;\n\n", i % 2 != 0 ? 'r' : 'w',
                      static_cast<unsigned>(i & 0xFFFF));
        text += command;
    }
    return text;
}

std::string LoopOverOneRead(std::int64_t times)
{
    char loop[96];
    std::snprintf(loop, sizeof loop, "l;\nTimesToRepeat: %llx; NumberToRepeat: 1;\n\n",
                  static_cast<unsigned long long>(times));
    return std::string(loop) + "r;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: yes; Key: 0;\n"
                               "TransactionIdentifier: 1; Address: 2000; ExtendedReadWriteAddress: 0; Length: 4;\n";
}

// With json, the JSON Lines record goes to /dev/null beside the output.
void RunList(benchmark::State &state, const std::string &text, std::int64_t commands, bool json = false)
{
    std::FILE *list = std::tmpfile();
    std::FILE *output = std::fopen("/dev/null", "w");
    std::FILE *record = json ? std::fopen("/dev/null", "w") : nullptr;
    if (list == nullptr || output == nullptr) {
        state.SkipWithError("cannot open the list or the output");
        return;
    }
    std::fwrite(text.data(), 1, text.size(), list);
    std::int64_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::rewind(list);
        vantor_sim::ApplySettings("");
        DeviceHandle device = nullptr;
        Vantor_Open(&device, 0);
        default_base = 16;
        malloc_trim(0);
        const std::int64_t before = StatusField("VmRSS");
        ResetPeak();
        state.ResumeTiming();

        StreamFiles files;
        files.command_list = list;
        files.output = output;
        files.json = record;
        CR_CommandLoop(device, files);

        state.PauseTiming();
        peak = std::max(peak, StatusField("VmHWM") - before);
        state.ResumeTiming();
    }
    std::fclose(list);
    std::fclose(output);
    if (record != nullptr) {
        std::fclose(record);
    }
    state.SetItemsProcessed(state.iterations() * commands);
    state.counters["commands"] = static_cast<double>(commands);
    state.counters["peak_bytes_per_command"] = static_cast<double>(peak) / static_cast<double>(commands);
}

void BM_ReadsAndWrites(benchmark::State &state)
{
    RunList(state, ReadsAndWrites(state.range(0)), state.range(0));
}
BENCHMARK(BM_ReadsAndWrites)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

// The cost of -json: the same 100,000 commands with their JSON Lines record.
void BM_ReadsAndWritesWithJson(benchmark::State &state)
{
    RunList(state, ReadsAndWrites(state.range(0)), state.range(0), true);
}
BENCHMARK(BM_ReadsAndWritesWithJson)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_LoopOverOneRead(benchmark::State &state)
{
    RunList(state, LoopOverOneRead(state.range(0)), state.range(0));
}
BENCHMARK(BM_LoopOverOneRead)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
