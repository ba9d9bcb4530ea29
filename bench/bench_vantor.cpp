// Throughput of the simulated adapter: its own overhead per packet and per
// RMAP read transaction, which must stay far below a real link's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/quill_rmap.h"
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

} // namespace
