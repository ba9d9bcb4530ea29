// Throughput of the RMAP codec: the CRC over a large buffer, and building
// then validating a 4-byte read command as the command stream does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/quill_rmap.h"
#include "quill_rmap_target.h"

namespace {

void BM_Crc8(benchmark::State &state) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(state.range(0)));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 31u + 7u);
    for (auto _ : state) {
        benchmark::DoNotOptimize(quill_rmap::Crc8(bytes));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc8)->Arg(64)->Arg(4096)->Arg(1 << 20);

void BM_BuildAndValidateRead(benchmark::State &state) {
    const unsigned char target[] = {0xFE};
    const unsigned char reply[] = {0x20};
    unsigned short id = 0;
    for (auto _ : state) {
        unsigned int length = 0;
        RmapPacketInfo built;
        unsigned char *packet =
            RMAP_BuildReadCommandPacket(target, 1, reply, 1, 1, 0, id++, 0x1000, 0, 4, &length, &built, 1);
        RmapPacketInfo checked;
        benchmark::DoNotOptimize(RMAP_CheckPacketValid(packet, length, &checked, 1));
        RMAP_FreeBuffer(packet);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_BuildAndValidateRead);

void BM_ValidateReadReply(benchmark::State &state) {
    // A read reply carrying 4096 bytes: validation walks the data once for
    // its CRC and copies nothing.
    std::vector<std::uint8_t> data(4096, 0x5A);
    const unsigned char target[] = {0xFE};
    const unsigned char reply[] = {0x20};
    unsigned int length = 0;
    RmapPacketInfo built;
    unsigned char *command =
        RMAP_BuildReadCommandPacket(target, 1, reply, 1, 1, 0, 1, 0, 0, 4096, &length, &built, 1);
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
BENCHMARK(BM_ValidateReadReply);

} // namespace
