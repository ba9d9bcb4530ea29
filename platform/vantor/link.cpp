#include "link.h"

#include <algorithm>
#include <cstring>

#include "capture.h"
#include "trace.h"

namespace vantor_sim {
namespace {

// Puts one packet into a pending read.  A packet that does not fit in the room
// left ends the read with status 10 and is lost, as on the adapter.
void Deliver(Device &device, std::uint64_t key, Transfer &read, const Packet &packet)
{
    if (packet.bytes.size() > read.size - read.used) {
        read.status = VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL;
        Unpend(device, key);
        return;
    }
    if (!packet.bytes.empty()) {
        std::memcpy(read.buffer + read.used, packet.bytes.data(), packet.bytes.size());
    }
    PacketProperties &entry = read.properties[read.received];
    entry.len = packet.bytes.size();
    entry.eop = packet.eop;
    entry.reserved = 0;
    read.used += packet.bytes.size();
    ++read.received;
    if (read.received == read.count) {
        read.status = VANTOR_TRANSFER_SUCCESS;
        Unpend(device, key);
    }
}

void DeliverToOldest(SimState &state, Device &device, const Packet &packet)
{
    std::uint64_t key = device.pending_reads.front();
    Deliver(device, key, state.transfers.at(key), packet);
}

} // namespace

void RecordSent(SimState &state, const Device &device, const Packet &packet)
{
    if (state.sent.size() == kSentLogLimit) {
        state.sent.pop_front();
    }
    state.sent.push_back(SentPacket{device.number, packet});
    TracePacket(state.trace.get(), '>', packet);
    CapturePacket(state.capture.get(), CaptureKind::Sent, device.number, packet);
}

void Unpend(Device &device, std::uint64_t key)
{
    auto found = std::find(device.pending_reads.begin(), device.pending_reads.end(), key);
    if (found != device.pending_reads.end()) {
        device.pending_reads.erase(found);
    }
}

void ExpireReads(SimState &state, Device &device)
{
    // Reads with a deadline are kept in the order they started, so with the
    // device's one time-out the first unexpired one ends the search; reads
    // that finished meanwhile are passed over here.
    std::optional<Clock::time_point> now;
    while (!device.timed_reads.empty()) {
        const std::uint64_t key = device.timed_reads.front();
        auto found = state.transfers.find(key);
        if (found == state.transfers.end() || found->second.status != VANTOR_TRANSFER_STARTED) {
            device.timed_reads.pop_front();
            continue;
        }
        if (!now) {
            now = Clock::now();
        }
        if (*now < *found->second.deadline) {
            return;
        }
        found->second.status = VANTOR_TRANSFER_ERROR_TIMEOUT;
        Unpend(device, key);
        device.timed_reads.pop_front();
    }
}

void DrainWaiting(SimState &state, Device &device)
{
    ExpireReads(state, device);
    while (!device.waiting.empty() && !device.pending_reads.empty()) {
        DeliverToOldest(state, device, device.waiting.front());
        device.waiting.pop_front();
    }
}

bool Arrive(SimState &state, Device &device, Packet packet)
{
    if (!device.open || !device.registered) {
        return false;
    }
    TracePacket(state.trace.get(), '<', packet);
    CapturePacket(state.capture.get(), CaptureKind::Delivered, device.number, packet);
    ExpireReads(state, device);
    if (device.pending_reads.empty()) {
        device.waiting.push_back(std::move(packet));
    } else {
        DeliverToOldest(state, device, packet);
    }
    return true;
}

} // namespace vantor_sim
