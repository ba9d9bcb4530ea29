// The test-side control of the simulator (vantor_sim_control.h).
#include "link.h"

namespace vantor_sim {

bool ApplySettings(std::string_view text)
{
    auto lock = LockState();
    return ResetState(text);
}

bool InjectPacket(int device_number, std::span<const std::uint8_t> bytes, int eop)
{
    auto lock = LockState();
    SimState &state = State();
    if (device_number < 0 || device_number >= kDeviceSlots) {
        return false;
    }
    return Arrive(state, state.devices[device_number],
                  Packet{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), eop});
}

std::vector<SentPacket> TakeSentPackets()
{
    auto lock = LockState();
    return State().sent.Take();
}

std::vector<std::uint8_t> ReadTargetMemory(std::uint64_t address, std::size_t count)
{
    auto lock = LockState();
    std::vector<std::uint8_t> bytes(count);
    State().far_end.memory.ReadBlock(address, bytes);
    return bytes;
}

void WriteTargetMemory(std::uint64_t address, std::span<const std::uint8_t> bytes)
{
    auto lock = LockState();
    State().far_end.memory.WriteBlock(address, bytes);
}

DeviceState GetDeviceState(int device_number)
{
    auto lock = LockState();
    if (device_number < 0 || device_number >= kDeviceSlots) {
        return {};
    }
    const Device &device = State().devices[device_number];
    DeviceState result;
    result.attached = device.attached;
    result.open = device.open;
    result.header_mode = device.header_mode;
    result.network_mode = device.network_mode;
    result.timeout_seconds = device.timeout_seconds;
    result.registered = device.registered;
    result.send_eeps = device.send_eeps;
    result.queued_packets = device.waiting.size();
    return result;
}

std::size_t LiveTransferCount()
{
    auto lock = LockState();
    SimState &state = State();
    return state.reads.Live() + state.sends.Live();
}

} // namespace vantor_sim
