#include "link.h"

#include <algorithm>
#include <cstring>

#include "reply_faults.h"
#include "rmap_target.h"
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

// Path address bytes in front of a packet, as routers would take them off.
std::span<const std::uint8_t> WithoutPath(std::span<const std::uint8_t> bytes)
{
    std::size_t path = 0;
    while (path < bytes.size() && bytes[path] < 32) {
        ++path;
    }
    return bytes.subspan(path);
}

// Every target reply comes back to the adapter through here: the routers on
// the way take its reply path off, and a faulty far end spoils every n-th.
void ReturnReply(SimState &state, Device &device, TargetReply reply)
{
    reply.bytes.erase(reply.bytes.begin(), reply.bytes.begin() + static_cast<std::ptrdiff_t>(reply.path_length));
    ++state.replies_sent;
    if (!IsFaultyReply(state.settings, state.replies_sent)) {
        Arrive(state, device, Packet{std::move(reply.bytes), VANTOR_EOP_EOP});
        return;
    }
    for (Packet &packet : ApplyReplyFault(state.settings.reply_fault, std::move(reply.bytes), reply.has_data_field)) {
        Arrive(state, device, std::move(packet));
    }
}

void LogSent(SimState &state, const Device &device, const Packet &packet)
{
    if (state.sent.size() == kSentLogLimit) {
        state.sent.pop_front();
    }
    state.sent.push_back(SentPacket{device.number, packet});
}

} // namespace

void Unpend(Device &device, std::uint64_t key)
{
    auto found = std::find(device.pending_reads.begin(), device.pending_reads.end(), key);
    if (found != device.pending_reads.end()) {
        device.pending_reads.erase(found);
    }
}

void ExpireReads(SimState &state, Device &device)
{
    std::optional<Clock::time_point> now;
    for (auto key = device.pending_reads.begin(); key != device.pending_reads.end();) {
        Transfer &read = state.transfers.at(*key);
        if (read.deadline) {
            if (!now) {
                now = Clock::now();
            }
            if (*now >= *read.deadline) {
                read.status = VANTOR_TRANSFER_ERROR_TIMEOUT;
                key = device.pending_reads.erase(key);
                continue;
            }
        }
        ++key;
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
    TracePacket(state, '<', packet);
    ExpireReads(state, device);
    if (device.pending_reads.empty()) {
        device.waiting.push_back(std::move(packet));
    } else {
        DeliverToOldest(state, device, packet);
    }
    return true;
}

void Transmit(SimState &state, Device &device, Packet packet)
{
    LogSent(state, device, packet);
    TracePacket(state, '>', packet);
    FarEnd far_end = state.settings.far_end;
    std::span<const std::uint8_t> at_target = WithoutPath(packet.bytes);
    if ((far_end == FarEnd::Both || far_end == FarEnd::Target) &&
        IsTargetCommand(at_target, state.settings.target_logical_address)) {
        if (auto reply = ExecuteTargetCommand(at_target, packet.eop, state.settings, state.memory)) {
            ReturnReply(state, device, std::move(*reply));
        }
        return;
    }
    if (far_end == FarEnd::Both || far_end == FarEnd::Loopback) {
        Arrive(state, device, std::move(packet));
    }
}

} // namespace vantor_sim
