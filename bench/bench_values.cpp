// Throughput of the data-value reader and of the packet display, each at two
// sizes so that linear scaling shows as an equal rate.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/settings.h"
#include "common/data_value.h"
#include "common/display.h"

namespace {

std::string HexByteList(std::size_t bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes * 3);
    for (std::size_t i = 0; i < bytes; ++i) {
        // From 0x10 up: "0b" and "0d" would be base prefixes, not bytes.
        const auto value = static_cast<unsigned>(0x10 + (i * 37) % 0xF0);
        text += kDigits[value >> 4];
        text += kDigits[value & 0xF];
        text += ' ';
    }
    return text;
}

void BM_HexByteList(benchmark::State &state)
{
    default_base = 16;
    const std::string text = HexByteList(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto result = CreateDataFromString(text, false);
        if (!result || result->bytes.size() != static_cast<std::size_t>(state.range(0))) {
            state.SkipWithError("conversion failed");
            break;
        }
        benchmark::DoNotOptimize(result->bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_HexByteList)->Arg(1 << 20)->Arg(2 << 20)->Unit(benchmark::kMillisecond);

void BM_QuotedText(benchmark::State &state)
{
    std::string text = "'";
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        text += static_cast<char>('a' + i % 26);
    }
    text += "'";
    for (auto _ : state) {
        auto result = CreateDataFromString(text, false);
        if (!result || result->bytes.size() != static_cast<std::size_t>(state.range(0))) {
            state.SkipWithError("conversion failed");
            break;
        }
        benchmark::DoNotOptimize(result->bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
// Both sizes above the allocator's reuse limit, so each run pays the same
// fresh-page cost per byte and the two rates compare.
BENCHMARK(BM_QuotedText)->Arg(32 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

void BM_FileReference(benchmark::State &state)
{
    char path[] = "/tmp/zark_bench_values_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    const auto size = static_cast<std::size_t>(state.range(0));
    {
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<char>(i * 13);
        }
        std::size_t written = 0;
        while (written < size) {
            const std::size_t chunk = std::min(block.size(), size - written);
            if (write(fd, block.data(), chunk) != static_cast<ssize_t>(chunk)) {
                state.SkipWithError("cannot write the temporary file");
                close(fd);
                unlink(path);
                return;
            }
            written += chunk;
        }
    }
    close(fd);
    const std::string text = std::string("-") + path;
    for (auto _ : state) {
        auto result = CreateDataFromString(text, false);
        if (!result || result->bytes.size() != size) {
            state.SkipWithError("conversion failed");
            break;
        }
        benchmark::DoNotOptimize(result->bytes.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    unlink(path);
}
BENCHMARK(BM_FileReference)->Arg(64 << 20)->Arg(128 << 20)->Unit(benchmark::kMillisecond);

void BM_DisplayData(benchmark::State &state)
{
    default_base = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> packet(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<std::uint8_t>(i * 29);
    }
    std::FILE *sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) {
        state.SkipWithError("no /dev/null");
        return;
    }
    for (auto _ : state) {
        DisplayData(packet.data(), static_cast<int>(packet.size()), 128, sink);
    }
    std::fclose(sink);
    default_base = 16;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_DisplayData)
    ->Args({64 << 10, 16})
    ->Args({128 << 10, 16})
    ->Args({64 << 10, 2})
    ->Args({128 << 10, 2})
    ->Unit(benchmark::kMicrosecond);

} // namespace
