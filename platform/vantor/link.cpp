#include "link.h"

#include <cstring>
#include <utility>

#include "capture.h"
#include "trace.h"

namespace vantor_sim {
namespace {

// Puts one packet into a pending read.  A packet that does not fit in the room
// left ends the read with status 10 and is lost, as on the adapter.
void Deliver(SimState &state, Device &device, ReadSlot &read, std::span<const std::uint8_t> bytes, int eop)
{
    if (bytes.size() > read.size - read.used) {
        read.status = VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL;
        Unpend(state, device, read);
        return;
    }
    if (!bytes.empty()) {
        std::memcpy(read.buffer + read.used, bytes.data(), bytes.size());
    }
    PacketProperties &entry = read.properties[read.received];
    entry.len = bytes.size();
    entry.eop = eop;
    entry.reserved = 0;
    read.used += static_cast<std::uint32_t>(bytes.size());
    ++read.received;
    if (read.received == read.count) {
        read.status = VANTOR_TRANSFER_SUCCESS;
        Unpend(state, device, read);
    }
}

void DeliverToOldest(SimState &state, Device &device, std::span<const std::uint8_t> bytes, int eop)
{
    Deliver(state, device, state.reads.At(device.first_pending), bytes, eop);
}

} // namespace

bool Arrive(SimState &state, Device &device, const Packet &packet)
{
    if (!device.open || !device.registered) {
        return false;
    }
    TracePacket(state.trace.get(), '<', packet);
    CapturePacket(state.capture.get(), CaptureKind::Delivered, device.number, packet);
    ExpireReads(state, device);
    if (device.first_pending == kNoSlot) {
        device.waiting.Push(packet.bytes, packet.eop);
    } else {
        DeliverToOldest(state, device, packet.bytes, packet.eop);
    }
    return true;
}


const Packet &RecordSent(SimState &state, const Device &device, std::span<const std::uint8_t> bytes, int eop)
{
    const Packet &packet = state.sent.Add(device.number, bytes, eop);
    TracePacket(state.trace.get(), '>', packet);
    CapturePacket(state.capture.get(), CaptureKind::Sent, device.number, packet);
    return packet;
}

void Pend(SimState &state, Device &device, std::uint32_t index)
{
    ReadSlot &read = state.reads.At(index);
    read.pending = true;
    read.prev = device.last_pending;
    read.link = kNoSlot;
    if (device.last_pending != kNoSlot) {
        state.reads.At(device.last_pending).link = index;
    } else {
        device.first_pending = index;
    }
    device.last_pending = index;
}

void Unpend(SimState &state, Device &device, ReadSlot &read)
{
    if (!read.pending) {
        return;
    }
    read.pending = false;
    if (read.prev != kNoSlot) {
        state.reads.At(read.prev).link = read.link;
    } else {
        device.first_pending = read.link;
    }
    if (read.link != kNoSlot) {
        state.reads.At(read.link).prev = read.prev;
    } else {
        device.last_pending = read.prev;
    }
}

void EndPendingReads(SimState &state, Device &device, TransferStatus status)
{
    for (std::uint32_t index = device.first_pending; index != kNoSlot;) {
        ReadSlot &read = state.reads.At(index);
        read.status = static_cast<std::uint8_t>(status);
        read.pending = false;
        index = read.link;
    }
    device.first_pending = kNoSlot;
    device.last_pending = kNoSlot;
}

void ExpireReads(SimState &state, Device &device)
{
    // Reads with a deadline are kept in the order they started, so with the
    // device's one time-out the first unexpired one ends the search; reads
    // that finished or were released meanwhile are passed over here.
    std::optional<Clock::time_point> now;
    while (!device.timed_reads.empty()) {
        ReadSlot *read = FindRead(state, device.timed_reads.front());
        if (read == nullptr || read->status != VANTOR_TRANSFER_STARTED) {
            device.timed_reads.pop_front();
            continue;
        }
        if (!now) {
            now = Clock::now();
        }
        if (*now < read->deadline) {
            return;
        }
        read->status = VANTOR_TRANSFER_ERROR_TIMEOUT;
        Unpend(state, device, *read);
        device.timed_reads.pop_front();
    }
}

void DrainWaiting(SimState &state, Device &device)
{
    ExpireReads(state, device);
    while (!device.waiting.empty() && device.first_pending != kNoSlot) {
        DeliverToOldest(state, device, device.waiting.FrontBytes(), device.waiting.FrontEop());
        device.waiting.Pop();
    }
}


} // namespace vantor_sim
