// The SpaceWire command-stream mode: parsing plus loop expansion of large
// generated lists (time and heap, at several sizes to show linear growth),
// and execution of a request/reply loop against the simulated loopback,
// beside the same transfers made directly through the adapter's calls.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "app/settings.h"
#include "stream_spacewire/cs_execution.h"
#include "stream_spacewire/cs_loop_expansion.h"
#include "stream_spacewire/cs_parser.h"
#include "vantor_sim_control.h"

namespace {

// Keeps the parser's success line out of the benchmark's report.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        std::FILE *null = std::fopen("/dev/null", "w");
        dup2(fileno(null), STDOUT_FILENO);
        std::fclose(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout &) = delete;
    QuietStdout &operator=(const QuietStdout &) = delete;

private:
    int saved_ = -1;
};

// A list of exactly `commands` commands in a mix of every kind.  Each group
// of ten becomes eleven records: seven commands make records of their own
// and the loop holds its two-command body three times.
std::string GenerateList(std::int64_t commands)
{
    static const char *const kGroup[10] = {
        "S d:1 2 3 4 5 6 7 8;\n", "R l:10 f:rx.bin;\n", "L n:2 t:3;\n",   "S n:2 e:y d:ab cd;\n",
        "R n:2 l:8;\n",           "B 10;\n",            "S d:200 201;\n", "O 16;\n",
        "R l:4;\n",               "B 16;\n",
    };
    std::string text;
    text.reserve(static_cast<std::size_t>(commands) * 14);
    for (std::int64_t i = 0; i < commands; ++i) {
        text += kGroup[i % 10];
    }
    return text;
}

std::size_t HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void BM_ParseAndExpand(benchmark::State &state)
{
    const std::string text = GenerateList(state.range(0));
    std::size_t list_bytes = 0;
    for (auto _ : state) {
        default_base = 16;
        const std::size_t before = HeapInUse();
        SpaceWireCommandList list;
        NumberBase output_base = -1;
        bool ok = false;
        {
            QuietStdout quiet;
            ok = CS_ProcessCommands(text, list, output_base) && CS_DealWithLoopCommands(list);
        }
        if (!ok) {
            state.SkipWithError("the generated list did not parse");
            break;
        }
        list_bytes = HeapInUse() - before;
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["list_MB"] = static_cast<double>(list_bytes) / (1 << 20);
    state.counters["bytes_per_command"] = static_cast<double>(list_bytes) / static_cast<double>(state.range(0));
    state.counters["max_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_ParseAndExpand)->Arg(250000)->Arg(500000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ReleaseExpandedList(benchmark::State &state)
{
    const std::string text = GenerateList(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        SpaceWireCommandList list;
        NumberBase output_base = -1;
        {
            QuietStdout quiet;
            CS_ProcessCommands(text, list, output_base);
            CS_DealWithLoopCommands(list);
        }
        state.ResumeTiming();
        list.reset();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReleaseExpandedList)->Arg(1000000)->Unit(benchmark::kMillisecond);

DeviceHandle OpenLoopback()
{
    vantor_sim::ApplySettings("far_end=loopback");
    DeviceHandle device = nullptr;
    Vantor_Open(&device, 0);
    Vantor_RegisterReceiveOnAllPorts(device);
    return device;
}

constexpr int kRepetitions = 100000;

// L n:2 t:100000; S d:<16 bytes>; R l:16; run as the mode runs it, on a
// freshly reset adapter each time.
void BM_ExecuteLoopbackList(benchmark::State &state)
{
    const std::string text = "L n:2 t:" + std::to_string(kRepetitions) +
                             "; S d:0 1 2 3 4 5 6 7 8 9 a b c d e f; R l:10;";
    std::FILE *output = std::fopen("/dev/null", "w");
    for (auto _ : state) {
        state.PauseTiming();
        DeviceHandle device = OpenLoopback();
        default_base = 16;
        SpaceWireCommandList list;
        NumberBase output_base = -1;
        {
            QuietStdout quiet;
            CS_ProcessCommands(text, list, output_base);
            CS_DealWithLoopCommands(list);
        }
        state.ResumeTiming();
        std::int32_t errors = 0;
        {
            SpaceWireRuns runs(device);
            CS_ExecuteCommandsInOrder(runs, list.get(), output, errors);
            CS_WaitOnSends(runs, list.get(), output, errors);
            CS_WaitOnReads(runs, list.get(), output, errors);
        }
        if (errors != 0) {
            state.SkipWithError("the loopback list reported errors");
            break;
        }
        state.PauseTiming();
        list.reset();
        state.ResumeTiming();
    }
    std::fclose(output);
    // One packet sent and one received per repetition.
    state.SetItemsProcessed(state.iterations() * kRepetitions * 2);
    state.counters["packets_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kRepetitions * 2, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExecuteLoopbackList)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same transfers through the adapter's calls alone, as a floor: what
// the mode adds is the difference.
void BM_AdapterCallsAlone(benchmark::State &state)
{
    std::vector<std::uint8_t> packet{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    std::vector<TransferId> sends(kRepetitions);
    std::vector<TransferId> reads(kRepetitions);
    std::vector<std::uint8_t> buffers(static_cast<std::size_t>(kRepetitions) * 16);
    std::vector<PacketProperties> properties(kRepetitions);
    for (auto _ : state) {
        state.PauseTiming();
        DeviceHandle device = OpenLoopback();
        state.ResumeTiming();
        for (int i = 0; i < kRepetitions; ++i) {
            Vantor_EnableSendEEPs(device, 0);
            Vantor_SendPacket(device, packet.data(), 16, 0, &sends[static_cast<std::size_t>(i)]);
            Vantor_WaitOnSendCompleting(device, sends[static_cast<std::size_t>(i)], 0);
            Vantor_ReadPackets(device, &buffers[static_cast<std::size_t>(i) * 16], 16, 1, 0,
                               &properties[static_cast<std::size_t>(i)], &reads[static_cast<std::size_t>(i)]);
            Vantor_WaitOnReadCompleting(device, reads[static_cast<std::size_t>(i)], 0);
        }
        for (TransferId id : sends) {
            Vantor_FreeSend(device, id);
        }
        for (TransferId id : reads) {
            Vantor_FreeRead(device, id);
        }
    }
    state.SetItemsProcessed(state.iterations() * kRepetitions * 2);
    state.counters["packets_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kRepetitions * 2, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AdapterCallsAlone)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
