// Throughput of the simulated adapter: its own overhead per packet and per
// RMAP read transaction, which must stay far below a real link's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

#include "device/quill_rmap.h"
#include "resident_memory.h"
#include "vantor_sim_control.h"

namespace {

DeviceHandle OpenRegistered(const char *settings)
{
    vantor_sim::ApplySettings(settings);
    DeviceHandle device = nullptr;
    Vantor_Open(&device, 0);
    Vantor_RegisterReceiveOnAllPorts(device);
    return device;
}

// One packet sent and received through the loopback: read started, send,
// wait for the read, release both.
void BM_LoopbackPacket(benchmark::State &state)
{
    DeviceHandle device = OpenRegistered("far_end=loopback");
    std::vector<std::uint8_t> packet(static_cast<std::size_t>(state.range(0)), 0x5a);
    std::vector<std::uint8_t> buffer(packet.size() + 16);
    PacketProperties properties{};
    for (auto _ : state) {
        TransferId read = nullptr;
        TransferId send = nullptr;
        Vantor_ReadPackets(device, buffer.data(), static_cast<unsigned>(buffer.size()), 1, 0, &properties, &read);
        Vantor_SendPacket(device, packet.data(), static_cast<unsigned>(packet.size()), 0, &send);
        if (Vantor_WaitOnReadCompleting(device, read, 0) != VANTOR_TRANSFER_SUCCESS) {
            state.SkipWithError("loopback packet did not arrive");
        }
        Vantor_FreeRead(device, read);
        Vantor_FreeSend(device, send);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoopbackPacket)->Arg(16)->Arg(1024);

// A small RMAP read as the command-stream mode does it: read started, command
// sent without waiting, reply awaited, both released.
void BM_RmapReadTransaction(benchmark::State &state)
{
    DeviceHandle device = OpenRegistered("");
    const std::uint8_t target[] = {0xfe};
    const std::uint8_t reply_address[] = {0x67};
    const unsigned length = static_cast<unsigned>(state.range(0));
    unsigned packet_length = 0;
    RmapPacketInfo info{};
    unsigned char *command = RMAP_BuildReadCommandPacket(target, 1, reply_address, 1, 1, 0x00, 0x0001, 0x1000,
                                                         0x00, length, &packet_length, &info, 1);
    if (command == nullptr) {
        state.SkipWithError("command could not be built");
        return;
    }
    std::vector<std::uint8_t> reply(length + 13);
    PacketProperties properties{};
    for (auto _ : state) {
        TransferId read = nullptr;
        TransferId send = nullptr;
        Vantor_ReadPackets(device, reply.data(), static_cast<unsigned>(reply.size()), 1, 0, &properties, &read);
        Vantor_SendPacket(device, command, packet_length, 0, &send);
        if (Vantor_WaitOnReadCompleting(device, read, 0) != VANTOR_TRANSFER_SUCCESS ||
            properties.len != reply.size()) {
            state.SkipWithError("no full reply");
        }
        Vantor_FreeRead(device, read);
        Vantor_FreeSend(device, send);
    }
    RMAP_FreeBuffer(command);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RmapReadTransaction)->Arg(4)->Arg(256);

// The command-stream mode's pattern: a read and a send for every command
// started before any is collected, then each awaited and released in turn.
// Reports the time per transaction and the peak memory the library added
// per outstanding transaction; the caller's buffers are allocated beforehand
// and not counted.
void BM_OutstandingRmapReads(benchmark::State &state)
{
    const std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::uint8_t target[] = {0xfe};
    const std::uint8_t reply_address[] = {0x67};
    constexpr unsigned kLength = 4;
    constexpr unsigned kReplyLength = kLength + 13;
    unsigned packet_length = 0;
    RmapPacketInfo info{};
    unsigned char *command = RMAP_BuildReadCommandPacket(target, 1, reply_address, 1, 1, 0x00, 0x0001, 0x2000,
                                                         0x00, kLength, &packet_length, &info, 1);
    if (command == nullptr) {
        state.SkipWithError("command could not be built");
        return;
    }
    std::vector<std::uint8_t> replies(count * kReplyLength, 0);
    std::vector<PacketProperties> properties(count, PacketProperties{});
    std::vector<TransferId> reads(count, nullptr);
    std::vector<TransferId> sends(count, nullptr);
    std::int64_t peak = 0;
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DeviceHandle device = OpenRegistered("");
        malloc_trim(0);
        const std::int64_t before = StatusField("VmRSS");
        ResetPeak();
        const auto started = std::chrono::steady_clock::now();
        state.ResumeTiming();

        for (std::size_t i = 0; i < count; ++i) {
            Vantor_ReadPackets(device, &replies[i * kReplyLength], kReplyLength, 1, 0, &properties[i], &reads[i]);
            Vantor_SendPacket(device, command, packet_length, 0, &sends[i]);
        }
        bool complete = true;
        for (std::size_t i = 0; i < count; ++i) {
            complete = Vantor_WaitOnReadCompleting(device, reads[i], 0) == VANTOR_TRANSFER_SUCCESS &&
                       properties[i].len == kReplyLength && complete;
            complete = Vantor_WaitOnSendCompleting(device, sends[i], 0) == VANTOR_TRANSFER_SUCCESS && complete;
            Vantor_FreeRead(device, reads[i]);
            Vantor_FreeSend(device, sends[i]);
        }

        state.PauseTiming();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        peak = std::max(peak, StatusField("VmHWM") - before);
        if (!complete) {
            state.SkipWithError("a transaction did not complete");
        }
        state.ResumeTiming();
    }
    RMAP_FreeBuffer(command);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(count));
    const double transactions = static_cast<double>(state.iterations()) * static_cast<double>(count);
    state.counters["ns_per_transaction"] = seconds * 1e9 / transactions;
    state.counters["peak_bytes_per_outstanding"] = static_cast<double>(peak) / static_cast<double>(count);
}
BENCHMARK(BM_OutstandingRmapReads)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
