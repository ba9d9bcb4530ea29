// What every kind of link shares: packets sent are recorded, packets arriving
// fill the device's pending reads.
#ifndef ZARK_PLATFORM_VANTOR_LINK_H
#define ZARK_PLATFORM_VANTOR_LINK_H

#include <span>

#include "sim_state.h"

namespace vantor_sim {

// A packet that went out from the device: kept in the sent log, traced.
// The log's copy is returned, good until the next packet is recorded.
const Packet &RecordSent(SimState &state, const Device &device, std::span<const std::uint8_t> bytes, int eop);

// A packet arriving at the device from its link.  False when it was dropped
// because the device is closed or not registered.  A packet no read takes
// waits in the device's queue, its bytes copied there.
bool Arrive(SimState &state, Device &device, const Packet &packet);

// Finishes with status 6 every pending read of the device whose deadline has passed.
void ExpireReads(SimState &state, Device &device);

// Puts a read started now behind the device's other pending reads.
void Pend(SimState &state, Device &device, std::uint32_t index);

// Takes a read off the device's pending list (it finished or was released).
void Unpend(SimState &state, Device &device, ReadSlot &read);

// Ends every pending read of the device with status and empties the list.
void EndPendingReads(SimState &state, Device &device, TransferStatus status);

// Moves waiting packets into the device's pending reads.
void DrainWaiting(SimState &state, Device &device);

// Runs sleep with the library's lock released, so that other threads' calls
// go on meanwhile.  The read with this key is found again afterwards: null
// when another thread released it or reset the library in the meantime.
template <typename Sleep>
ReadSlot *SleepUnlocked(SimState &state, std::unique_lock<std::mutex> &lock, std::uint64_t key, Sleep sleep)
{
    const std::uint64_t generation = state.generation;
    lock.unlock();
    sleep();
    lock.lock();
    return state.generation == generation ? FindRead(state, key) : nullptr;
}

} // namespace vantor_sim

#endif
