// Preprocessing time against list size: a list with a comment every few
// lines, 1,000 ALIAS directives spread through it and an alias used every 20
// bytes or so.  Each doubling of the list should at most about double the
// time; the bytes per second figure is the rate.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "cmdlist/read_commands.h"

namespace {

constexpr int kAliases = 1000;

std::string GeneratedList(std::size_t bytes)
{
    std::string list;
    list.reserve(bytes + 200);
    const std::size_t directive_every = bytes / kAliases;
    std::size_t next_directive = 0;
    int defined = 0;
    unsigned line = 0;
    while (list.size() < bytes) {
        if (list.size() >= next_directive && defined < kAliases) {
            // Some values use an alias defined before them.
            list += "#ALIAS A" + std::to_string(defined) + " = ";
            list += defined % 3 == 0 && defined > 0 ? "A" + std::to_string(defined / 2) + " 1"
                                                    : "0x" + std::to_string(4096 + defined);
            list += ";\n";
            ++defined;
            next_directive += directive_every;
            continue;
        }
        ++line;
        const unsigned first = line * 7919u % static_cast<unsigned>(defined);
        const unsigned second = line * 104729u % static_cast<unsigned>(defined);
        // About 40 bytes, two alias uses.
        list += "w A" + std::to_string(first) + " 0x10:22 A" + std::to_string(second) + " data=77\n";
        if (line % 4 == 0) {
            list += "/* step " + std::to_string(line) + " */\n";
        }
    }
    return list;
}

void BM_ReadCommands(benchmark::State &state)
{
    const std::size_t bytes = static_cast<std::size_t>(state.range(0)) << 20;
    const std::string list = GeneratedList(bytes);
    std::FILE *file = std::tmpfile();
    std::fwrite(list.data(), 1, list.size(), file);
    std::size_t produced = 0;
    for (auto _ : state) {
        std::rewind(file);
        IncludeChain chain;
        std::optional<std::string> text = ReadCommands(file, &chain, 0);
        if (!text) {
            state.SkipWithError("the generated list was refused");
            break;
        }
        produced = text->size();
        benchmark::DoNotOptimize(text->data());
    }
    std::fclose(file);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(list.size()));
    state.counters["output_MB"] = static_cast<double>(produced) / (1 << 20);
}
BENCHMARK(BM_ReadCommands)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

// The worst kind of list for the forward sweep: every directive glued to the
// next or to a word, values that chain through earlier aliases, words cut by
// directives.  Each directive is then a junction resolved on its own; the
// time should still double with the size.
std::string JunctionHeavyList(std::size_t bytes)
{
    std::string list;
    list.reserve(bytes + 200);
    for (int k = 0; list.size() < bytes; ++k) {
        const std::string name = "J" + std::to_string(k);
        // Chains of eight, so that values stay short.
        const std::string before = k % 8 ? "J" + std::to_string(k - 1) : "v";
        list += "#ALIAS " + name + "=" + before + (k % 3 ? "" : " t") + ";";
        list += k % 4 == 0 ? "xy" : "";
        if (k % 5 == 4) {
            list += name + " " + before + ":" + name + " ";
        }
    }
    return list;
}

void BM_JunctionHeavy(benchmark::State &state)
{
    const std::string list = JunctionHeavyList(static_cast<std::size_t>(state.range(0)) << 20);
    std::FILE *file = std::tmpfile();
    std::fwrite(list.data(), 1, list.size(), file);
    std::size_t produced = 0;
    for (auto _ : state) {
        std::rewind(file);
        IncludeChain chain;
        std::optional<std::string> text = ReadCommands(file, &chain, 0);
        if (!text) {
            state.SkipWithError("the generated list was refused");
            break;
        }
        produced = text->size();
        benchmark::DoNotOptimize(text->data());
    }
    std::fclose(file);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(list.size()));
    state.counters["output_MB"] = static_cast<double>(produced) / (1 << 20);
}
BENCHMARK(BM_JunctionHeavy)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

} // namespace
