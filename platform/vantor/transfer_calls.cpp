// Registration, sends, reads and their completion, for every kind of link.
#include <algorithm>
#include <span>

#include "link.h"
#include "link_backend.h"

using namespace vantor_sim;

namespace {

// Longer time-outs are as good as none; the cap keeps the deadline arithmetic finite.
constexpr double kLongestTimeoutSeconds = 1e9;

TransferStatus StartSend(SimState &state, Device &device, PacketViews packets, bool wait, TransferId *id)
{
    const TransferStatus sent =
        device.backend->send(state, device, packets, device.send_eeps ? VANTOR_EOP_EEP : VANTOR_EOP_EOP);
    SendSlot *send = nullptr;
    const std::uint64_t key = AddSend(state, send);
    send->live = SendState{static_cast<std::uint8_t>(sent), static_cast<std::uint8_t>(device.number)};
    *id = IdOf(key);
    if (sent == VANTOR_TRANSFER_STARTED) {
        device.unfinished_sends.push_back(key);
        if (wait) {
            device.backend->poll(state, device);
        }
    }
    const TransferStatus status = send->live.status;
    // A link that is gone refuses at once, whether or not the caller waits.
    if (device.link_lost) {
        return status;
    }
    return wait ? status : VANTOR_TRANSFER_STARTED;
}

} // namespace

extern "C" {

unsigned char Vantor_RegisterReceiveOnAllPorts(DeviceHandle handle)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return 0;
    }
    device->registered = true;
    device->backend->set_receiving(state, *device, true);
    return 1;
}

unsigned char Vantor_UnregisterReceiveOnAllPorts(DeviceHandle handle)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return 0;
    }
    device->backend->set_receiving(state, *device, false);
    device->registered = false;
    device->waiting.clear();
    return 1;
}

TransferStatus Vantor_SendPacket(DeviceHandle handle, void *data, unsigned int length, unsigned char wait,
                                 TransferId *id)
{
    auto lock = LockState();
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
    auto lock = LockState();
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
    auto lock = LockState();
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
    const TransferStatus at_once = device->backend->start_read(state, *device);
    ReadSlot *read = nullptr;
    const std::uint64_t key = AddRead(state, read);
    read->buffer = static_cast<std::uint8_t *>(buffer);
    read->properties = properties;
    read->size = size;
    read->used = 0;
    read->count = count;
    read->received = 0;
    read->device = static_cast<std::uint8_t>(device->number);
    read->pending = false;
    read->timed = false;
    *id = IdOf(key);
    if (at_once != VANTOR_TRANSFER_STARTED) {
        read->status = static_cast<std::uint8_t>(at_once);
        // Injected read faults keep the usual return; a lost link says so at once.
        return wait != 0 || device->link_lost ? at_once : VANTOR_TRANSFER_STARTED;
    }
    if (!device->registered) {
        read->status = VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE;
        return VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE;
    }
    read->status = VANTOR_TRANSFER_STARTED;
    Pend(state, *device, SlotOf(key));
    // Packets already waiting are the read's at once; its time-out starts
    // only afterwards, so that a short one cannot expire it before they land.
    DrainWaiting(state, *device);
    if (device->timeout_seconds && read->status == VANTOR_TRANSFER_STARTED) {
        std::chrono::duration<double> timeout(std::min(*device->timeout_seconds, kLongestTimeoutSeconds));
        read->deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
        read->timed = true;
        device->timed_reads.push_back(key);
    }
    if (wait != 0) {
        return device->backend->wait(state, *device, key, lock);
    }
    return VANTOR_TRANSFER_STARTED;
}

TransferStatus Vantor_GetReadStatus(DeviceHandle handle, TransferId id)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return VANTOR_TRANSFER_ERROR_UNKNOWN;
    }
    ReadSlot *read = FindRead(state, *device, id);
    if (read == nullptr) {
        return VANTOR_TRANSFER_ERROR_NOT_FOUND;
    }
    device->backend->poll(state, *device);
    return read->status;
}

TransferStatus Vantor_WaitOnReadCompleting(DeviceHandle handle, TransferId id, unsigned char /*flag*/)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return VANTOR_TRANSFER_ERROR_UNKNOWN;
    }
    ReadSlot *read = FindRead(state, *device, id);
    if (read == nullptr) {
        return VANTOR_TRANSFER_ERROR_NOT_FOUND;
    }
    if (read->status != VANTOR_TRANSFER_STARTED) {
        return read->status;
    }
    return device->backend->wait(state, *device, KeyOf(id), lock);
}

TransferStatus Vantor_WaitOnSendCompleting(DeviceHandle handle, TransferId id, unsigned char /*flag*/)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr) {
        return VANTOR_TRANSFER_ERROR_UNKNOWN;
    }
    SendSlot *send = FindSend(state, *device, id);
    if (send == nullptr) {
        return VANTOR_TRANSFER_ERROR_NOT_FOUND;
    }
    if (send->live.status == VANTOR_TRANSFER_STARTED) {
        device->backend->poll(state, *device);
    }
    return send->live.status;
}

unsigned char Vantor_FreeRead(DeviceHandle handle, TransferId id)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    ReadSlot *read = device != nullptr ? FindRead(state, *device, id) : nullptr;
    if (read == nullptr) {
        return 0;
    }
    // A read released while it waits is abandoned: later packets go elsewhere.
    // Only a waiting read is looked for among the waiting, which may be many.
    if (read->status == VANTOR_TRANSFER_STARTED) {
        Unpend(state, *device, *read);
    }
    ReleaseRead(state, KeyOf(id));
    return 1;
}

unsigned char Vantor_FreeSend(DeviceHandle handle, TransferId id)
{
    auto lock = LockState();
    SimState &state = State();
    Device *device = FindDevice(state, handle);
    if (device == nullptr || FindSend(state, *device, id) == nullptr) {
        return 0;
    }
    ReleaseSend(state, KeyOf(id));
    return 1;
}

} // extern "C"
