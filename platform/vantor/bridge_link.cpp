// The bridge link: a device whose far end is an SSDTP2 peer over TCP.
#include <algorithm>
#include <cstdio>
#include <string>

#include "link.h"
#include "link_backend.h"
#include "capture.h"
#include "trace.h"

namespace vantor_sim {
namespace {

void Complain(const Device &device, const std::string &what)
{
    std::printf("VANTOR_SIM: device %d: %s\n", device.number, what.c_str());
    std::fflush(stdout);
}

void FinishSends(SimState &state, Device &device, TransferStatus status)
{
    for (std::uint64_t key : device.unfinished_sends) {
        SendSlot *send = FindSend(state, key);
        if (send != nullptr && send->live.status == VANTOR_TRANSFER_STARTED) {
            send->live.status = static_cast<std::uint8_t>(status);
        }
    }
    device.unfinished_sends.clear();
}

// Once the connection is gone, every send and read still waiting ends with status 3.
void NoticeLoss(SimState &state, Device &device)
{
    if (device.link_lost || !device.bridge) {
        return;
    }
    const std::string reason = device.bridge->BrokenReason();
    if (reason.empty()) {
        return;
    }
    device.link_lost = true;
    Complain(device, "link to " + EndpointText(device.host, device.port) + " lost: " + reason);
    FinishSends(state, device, VANTOR_TRANSFER_ERROR_DISCONNECT);
    EndPendingReads(state, device, VANTOR_TRANSFER_ERROR_DISCONNECT);
    device.timed_reads.clear();
}

// Takes in what arrived, without writing what is queued: a read started
// between queued sends must not cost a system call.
void Collect(SimState &state, Device &device)
{
    if (!device.bridge) {
        return;
    }
    std::vector<SsdtpEvent> events;
    device.bridge->Take(events);
    for (SsdtpEvent &event : events) {
        if (event.kind == SsdtpEvent::Kind::TimeCode) {
            TraceTimeCode(state.trace.get(), event.time_code);
            CaptureTimeCode(state.capture.get(), device.number, event.time_code);
        } else {
            Arrive(state, device, event.packet);
        }
    }
    ExpireReads(state, device);
    NoticeLoss(state, device);
}

bool Open(SimState &state, Device &device)
{
    // What arrived before a loss stays the reads' and the queue's.
    if (device.bridge && !device.bridge->BrokenReason().empty()) {
        Collect(state, device);
    }
    if (device.bridge && !device.link_lost) {
        return true; // opening an open device again keeps it as it is
    }
    device.bridge.reset();
    BridgeOptions options;
    options.packet_limit = state.settings.packet_limit;
    options.stall_seconds = state.settings.stall_limit_seconds;
    std::string reason;
    device.bridge = BridgeConnection::Connect(device.host, device.port, options, reason);
    if (!device.bridge) {
        Complain(device, reason);
        return false;
    }
    device.link_lost = false;
    device.bridge->SetReceiving(device.registered);
    device.last_send = Clock::now();
    return true;
}

void Poll(SimState &state, Device &device)
{
    // Every queued frame belongs to an unfinished send.
    if (device.bridge && !device.unfinished_sends.empty()) {
        const bool written = device.bridge->Flush();
        device.last_send = Clock::now();
        FinishSends(state, device, written ? VANTOR_TRANSFER_SUCCESS : VANTOR_TRANSFER_ERROR_DISCONNECT);
    }
    Collect(state, device);
}

TransferStatus Send(SimState &state, Device &device, PacketViews packets, int eop)
{
    Collect(state, device);
    if (device.link_lost || !device.bridge) {
        return VANTOR_TRANSFER_ERROR_DISCONNECT;
    }
    const std::uint64_t flushes = device.bridge->Flushes();
    const bool queued = device.bridge->Queue(packets, eop);
    device.last_send = Clock::now();
    if (!queued) {
        NoticeLoss(state, device);
        return VANTOR_TRANSFER_ERROR_DISCONNECT;
    }
    // A batch written while queueing took every earlier send with it; so the
    // sends awaiting their status never outnumber one batch.
    if (device.bridge->Flushes() != flushes) {
        FinishSends(state, device, VANTOR_TRANSFER_SUCCESS);
    }
    for (std::span<const std::uint8_t> bytes : packets) {
        RecordSent(state, device, bytes, eop);
    }
    return VANTOR_TRANSFER_STARTED;
}

TransferStatus StartRead(SimState &state, Device &device)
{
    Collect(state, device);
    return device.link_lost || !device.bridge ? VANTOR_TRANSFER_ERROR_DISCONNECT : VANTOR_TRANSFER_STARTED;
}

// Replies can still come, so a read without deadline cannot end at once as on
// the in-process link; it ends with status 6 once the link has been quiet
// (nothing sent, nothing arrived) for idle_wait seconds.
TransferStatus Wait(SimState &state, Device &device, std::uint64_t key, std::unique_lock<std::mutex> &lock)
{
    const Clock::time_point begun = Clock::now();
    const auto idle = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(state.settings.idle_wait_seconds));
    for (;;) {
        Poll(state, device);
        ReadSlot &read = *FindRead(state, key);
        if (read.status != VANTOR_TRANSFER_STARTED) {
            return read.status;
        }
        std::shared_ptr<BridgeConnection> bridge = device.bridge;
        if (!bridge) {
            return VANTOR_TRANSFER_ERROR_DISCONNECT;
        }
        Clock::time_point until;
        if (read.timed) {
            until = read.deadline;
        } else {
            until = std::max({begun, device.last_send, bridge->LastArrival()}) + idle;
            if (Clock::now() >= until) {
                read.status = VANTOR_TRANSFER_ERROR_TIMEOUT;
                Unpend(state, device, read);
                return read.status;
            }
        }
        if (SleepUnlocked(state, lock, key, [&bridge, until] { bridge->WaitForArrival(until); }) == nullptr) {
            return VANTOR_TRANSFER_ERROR_NOT_FOUND;
        }
    }
}

void SetReceiving(SimState &state, Device &device, bool on)
{
    if (!device.bridge) {
        return;
    }
    device.bridge->SetReceiving(on);
    // Called while still registered when receiving stops: what arrived before
    // is taken in now, what completes later is dropped by the receiver.
    if (!on) {
        Poll(state, device);
    }
}

} // namespace

const LinkBackend kBridgeLink{Open, Send, StartRead, Poll, Wait, SetReceiving};

} // namespace vantor_sim
