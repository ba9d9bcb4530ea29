// The seam between the device calls and the links they drive: one small table
// of operations per kind of link, chosen per device when the settings are
// applied.  The in-process link hands packets to the simulated far end inside
// this process; the bridge link carries them over TCP as SSDTP2.
#ifndef ZARK_PLATFORM_VANTOR_LINK_BACKEND_H
#define ZARK_PLATFORM_VANTOR_LINK_BACKEND_H

#include <mutex>
#include <span>

#include "sim_state.h"

namespace vantor_sim {

using PacketViews = std::span<const std::span<const std::uint8_t>>;

struct LinkBackend {
    // Makes the link ready; false when it cannot be (the reason printed once).
    bool (*open)(SimState &state, Device &device);
    // Puts the packets on the link, each ended as eop says: the send's final
    // status, or STARTED when they wait to go out with the next poll.
    TransferStatus (*send)(SimState &state, Device &device, PacketViews packets, int eop);
    // The status a read started now ends with at once, or STARTED when it waits for packets.
    TransferStatus (*start_read)(SimState &state, Device &device);
    // Finishes the sends still waiting to go out (device.unfinished_sends),
    // then takes in what the link has delivered since the last call.
    void (*poll)(SimState &state, Device &device);
    // Blocks until the pending read ends, with lock (on StateMutex) released while it
    // sleeps; the read's final status.  The read is found again by key on waking.
    TransferStatus (*wait)(SimState &state, Device &device, std::uint64_t key, std::unique_lock<std::mutex> &lock);
    // Receiving turned on (just after the device registered) or off (just
    // before it unregisters and its queue is emptied).
    void (*set_receiving)(SimState &state, Device &device, bool on);
};

extern const LinkBackend kInProcessLink;
extern const LinkBackend kBridgeLink;

} // namespace vantor_sim

#endif
