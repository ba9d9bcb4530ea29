// Throughput of the RMAP codec: the CRC over a large buffer, building and
// validating a 4-byte read command as the command stream does, and
// validating read replies.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/quill_rmap.h"
#include "quill_rmap_target.h"

namespace {

const unsigned char kTarget[] = {0xFE};
const unsigned char kReply[] = {0x20};

void BM_Crc8(benchmark::State &state) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31u + 7u);
    for (auto _ : state) {
        benchmark::DoNotOptimize(quill_rmap::Crc8(bytes));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc8)->Arg(64)->Arg(4096)->Arg(1 << 20);

// Building includes releasing the packet: every built packet is released.
void BM_BuildRead(benchmark::State &state) {
    unsigned short id = 0;
    for (auto _ : state) {
        unsigned int length = 0;
        RmapPacketInfo built;
        unsigned char *packet =
            RMAP_BuildReadCommandPacket(kTarget, 1, kReply, 1, 1, 0, id++, 0x1000, 0, 4, &length, &built, 1);
        benchmark::DoNotOptimize(packet);
        benchmark::DoNotOptimize(built);
        RMAP_FreeBuffer(packet);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_BuildRead);

void BM_ValidateRead(benchmark::State &state) {
    unsigned int length = 0;
    RmapPacketInfo built;
    unsigned char *packet =
        RMAP_BuildReadCommandPacket(kTarget, 1, kReply, 1, 1, 0, 1, 0x1000, 0, 4, &length, &built, 1);
    for (auto _ : state) {
        RmapPacketInfo checked;
        benchmark::DoNotOptimize(RMAP_CheckPacketValid(packet, length, &checked, 1));
        benchmark::DoNotOptimize(checked);
    }
    RMAP_FreeBuffer(packet);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ValidateRead);

void BM_BuildAndValidateRead(benchmark::State &state) {
    unsigned short id = 0;
    for (auto _ : state) {
        unsigned int length = 0;
        RmapPacketInfo built;
        unsigned char *packet =
            RMAP_BuildReadCommandPacket(kTarget, 1, kReply, 1, 1, 0, id++, 0x1000, 0, 4, &length, &built, 1);
        RmapPacketInfo checked;
        benchmark::DoNotOptimize(RMAP_CheckPacketValid(packet, length, &checked, 1));
        RMAP_FreeBuffer(packet);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_BuildAndValidateRead);

// A read reply carrying the argument's bytes: validation walks the data once
// for its CRC and copies nothing.
void BM_ValidateReadReply(benchmark::State &state) {
    const auto size = static_cast<unsigned>(state.range(0));
    std::vector<std::uint8_t> data(size, 0x5A);
    unsigned int length = 0;
    RmapPacketInfo built;
    unsigned char *command =
        RMAP_BuildReadCommandPacket(kTarget, 1, kReply, 1, 1, 0, 1, 0, 0, size, &length, &built, 1);
    quill_rmap::Command decoded;
    quill_rmap::DecodeCommand({command, length}, decoded);
    const std::vector<std::uint8_t> packet = quill_rmap::BuildReadReply(decoded, 0, data);
    RMAP_FreeBuffer(command);
    for (auto _ : state) {
        RmapPacketInfo info;
        benchmark::DoNotOptimize(
            RMAP_CheckPacketValid(packet.data(), static_cast<unsigned>(packet.size()), &info, 1));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(BM_ValidateReadReply)->Arg(1024)->Arg(4096);

} // namespace
