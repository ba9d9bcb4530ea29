// Registration, sends, reads and their completion.
#include <algorithm>
#include <span>
#include <thread>

#include "link.h"

using namespace vantor_sim;

namespace {

// Longer time-outs are as good as none; the cap keeps the deadline arithmetic finite.
constexpr double kLongestTimeoutSeconds = 1e9;

std::uint64_t AddTransfer(SimState &state, Transfer transfer)
{
    std::uint64_t key = state.next_transfer++;
    state.transfers.emplace(key, transfer);
    return key;
}

TransferStatus StartSend(SimState &state, Device &device, std::span<const std::span<const std::uint8_t>> packets,
                         bool wait, TransferId *id)
{
    TransferStatus final_status = state.settings.send_status.value_or(VANTOR_TRANSFER_SUCCESS);
    if (final_status == VANTOR_TRANSFER_SUCCESS) {
        for (std::span<const std::uint8_t> bytes : packets) {
            Transmit(state, device,
                     Packet{std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                            device.send_eeps ? VANTOR_EOP_EEP : VANTOR_EOP_EOP});
        }
    }
    Transfer send;
    send.kind = TransferKind::Send;
    send.device = device.number;
    send.status = final_status;
    *id = IdOf(AddTransfer(state, send));
    return wait ? final_status : VANTOR_TRANSFER_STARTED;
}

// The pending read's final status once nothing more can arrive: at its
// deadline, or at once without one.
TransferStatus WaitForRead(SimState &state, Device &device, std::uint64_t key, Transfer &read)
{
    ExpireReads(state, device);
    if (read.status == VANTOR_TRANSFER_STARTED) {
        if (read.deadline) {
            std::this_thread::sleep_until(*read.deadline);
        }
        read.status = VANTOR_TRANSFER_ERROR_TIMEOUT;
        Unpend(device, key);
    }
    return read.status;
}

} // namespace

extern "C" {

unsigned char Vantor_RegisterReceiveOnAllPorts(DeviceHandle handle)
{
    Device *device = FindDevice(State(), handle);
    if (device == nullptr) {
        return 0;
    }
    device->registered = true;
    return 1;
}

unsigned char Vantor_UnregisterReceiveOnAllPorts(DeviceHandle handle)
{
    Device *device = FindDevice(State(), handle);
    if (device == nullptr) {
        return 0;
    }
    device->registered = false;
    device->waiting.clear();
    return 1;
}

TransferStatus Vantor_SendPacket(DeviceHandle handle, void *data, unsigned int length, unsigned char wait,
                                 TransferId *id)
{
    SimState &state = State();
    if (id != nullptr) {
        *id = nullptr;
    }
    Device *device = FindDevice(state, handle);
    if (device == nullptr || data == nullptr || length == 0 || id == nullptr) {
        return VANTOR_TRANSFER_NOT_STARTED;
    }
    std::span<const std::uint8_t> packet(static_cast<const std::uint8_t *>(data), length);
    return StartSend(state, *device, std::span(&packet, 1), wait != 0, id);
}

TransferStatus Vantor_SendMultiplePacketLengths(DeviceHandle handle, void **packets, unsigned int *lengths,
                                                unsigned int count, unsigned char wait, TransferId *id)
{
    SimState &state = State();
    if (id != nullptr) {
        *id = nullptr;
    }
    Device *device = FindDevice(state, handle);
    if (device == nullptr || packets == nullptr || lengths == nullptr || count == 0 || id == nullptr) {
        return VANTOR_TRANSFER_NOT_STARTED;
    }
    // Every packet is checked before the first one goes out: a refused send sends nothing.
    std::vector<std::span<const std::uint8_t>> views;
    views.reserve(count);
    for (unsigned int i = 0; i < count; ++i) {
        if (packets[i] == nullptr || lengths[i] == 0) {
            return VANTOR_TRANSFER_NOT_STARTED;
        }
        views.emplace_back(static_cast<const std::uint8_t *>(packets[i]), lengths[i]);
    }
    return StartSend(state, *device, views, wait != 0, id);
}

TransferStatus Vantor_ReadPackets(DeviceHandle handle, void *buffer, unsigned int size, unsigned int count,
                                  unsigned char wait, PacketProperties *properties, TransferId *id)
{
    SimState &state = State();
    if (id != nullptr) {
        *id = nullptr;
    }
    Device *device = FindDevice(state, handle);
    if (device == nullptr || buffer == nullptr || properties == nullptr || id == nullptr || size == 0 ||
        count == 0) {
        return VANTOR_TRANSFER_NOT_STARTED;
    }
    std::fill(properties, properties + count, PacketProperties{0, VANTOR_EOP_NONE, 0});
    Transfer read;
    read.kind = TransferKind::Read;
    read.device = device->number;
    read.buffer = static_cast<std::uint8_t *>(buffer);
    read.size = size;
    read.properties = properties;
    read.count = count;
    if (state.settings.read_status) {
        read.status = *state.settings.read_status;
        *id = IdOf(AddTransfer(state, read));
        return wait != 0 ? read.status : VANTOR_TRANSFER_STARTED;
    }
    if (!device->registered) {
        read.status = VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE;
        *id = IdOf(AddTransfer(state, read));
        return read.status;
    }
    read.status = VANTOR_TRANSFER_STARTED;
    std::uint64_t key = AddTransfer(state, read);
    *id = IdOf(key);
    device->pending_reads.push_back(key);
    // Packets already waiting are the read's at once; its time-out starts
    // only afterwards, so that a short one cannot expire it before they land.
    DrainWaiting(state, *device);
    Transfer &started = state.transfers.at(key);
    if (device->timeout_seconds && started.status == VANTOR_TRANSFER_STARTED) {
        std::chrono::duration<double> timeout(std::min(*device->timeout_seconds, kLongestTimeoutSeconds));
        started.deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
    }
    if (wait != 0) {
        return WaitForRead(state, *device, key, state.transfers.at(key));
    }
    return VANTOR_TRANSFER_STARTED;
}

TransferStatus Vantor_GetReadStatus(DeviceHandle handle, TransferId id)
{
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return VANTOR_TRANSFER_ERROR_UNKNOWN;
    }
    Transfer *read = FindTransfer(state, *device, id, TransferKind::Read);
    if (read == nullptr) {
        return VANTOR_TRANSFER_ERROR_NOT_FOUND;
    }
    ExpireReads(state, *device);
    return read->status;
}

TransferStatus Vantor_WaitOnReadCompleting(DeviceHandle handle, TransferId id, unsigned char /*flag*/)
{
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return VANTOR_TRANSFER_ERROR_UNKNOWN;
    }
    Transfer *read = FindTransfer(state, *device, id, TransferKind::Read);
    if (read == nullptr) {
        return VANTOR_TRANSFER_ERROR_NOT_FOUND;
    }
    return WaitForRead(state, *device, KeyOf(id), *read);
}

TransferStatus Vantor_WaitOnSendCompleting(DeviceHandle handle, TransferId id, unsigned char /*flag*/)
{
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return VANTOR_TRANSFER_ERROR_UNKNOWN;
    }
    Transfer *send = FindTransfer(state, *device, id, TransferKind::Send);
    return send == nullptr ? VANTOR_TRANSFER_ERROR_NOT_FOUND : send->status;
}

unsigned char Vantor_FreeRead(DeviceHandle handle, TransferId id)
{
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr || FindTransfer(state, *device, id, TransferKind::Read) == nullptr) {
        return 0;
    }
    // A read released while it waits is abandoned: later packets go elsewhere.
    Unpend(*device, KeyOf(id));
    state.transfers.erase(KeyOf(id));
    return 1;
}

unsigned char Vantor_FreeSend(DeviceHandle handle, TransferId id)
{
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr || FindTransfer(state, *device, id, TransferKind::Send) == nullptr) {
        return 0;
    }
    state.transfers.erase(KeyOf(id));
    return 1;
}

} // extern "C"
