// The simulated adapter's whole state: settings, devices, transfers, the
// far end and the trace file.  One instance for the process, built from
// VANTOR_SIM on first use and rebuilt by ApplySettings; every library call
// holds StateMutex() while it works on it.
#ifndef ZARK_PLATFORM_VANTOR_SIM_STATE_H
#define ZARK_PLATFORM_VANTOR_SIM_STATE_H

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <mutex>
#include <string>

#include "bridge_connection.h"
#include "capture.h"
#include "device/vantor_api.h"
#include "far_end.h"
#include "packet_queue.h"
#include "sim_settings.h"
#include "vantor_sim_control.h"

namespace vantor_sim {

using Clock = std::chrono::steady_clock;

inline constexpr int kDeviceSlots = 32;
inline constexpr std::uint32_t kNoSlot = 0xFFFFFFFF;

struct LinkBackend;

struct Device {
    int number = 0;
    bool attached = false;
    DeviceType type = 0;
    bool open = false;
    std::optional<bool> header_mode;
    std::optional<bool> network_mode;
    std::optional<double> timeout_seconds;
    bool registered = false;
    bool send_eeps = false;
    PacketQueue waiting;                  // arrived while no read was pending
    // The reads waiting for packets, oldest first: a list through their slots.
    std::uint32_t first_pending = kNoSlot;
    std::uint32_t last_pending = kNoSlot;
    std::deque<std::uint64_t> timed_reads;   // reads given a deadline, oldest first; finished ones linger
    std::vector<std::uint64_t> unfinished_sends; // sends whose packets the link has not yet taken
    const LinkBackend *backend = nullptr;     // how its link is reached
    // Bridges only: the peer, the connection while open, and whether its loss was reported.
    std::string host;
    std::uint16_t port = 0;
    std::shared_ptr<BridgeConnection> bridge;
    bool link_lost = false; // never set on an in-process link
    Clock::time_point last_send{};
};

// A read's bookkeeping: the caller's buffer and properties, filled as
// packets arrive, and its place among the device's pending reads.
struct ReadSlot {
    std::uint8_t *buffer;
    PacketProperties *properties;
    Clock::time_point deadline; // only when timed
    std::uint32_t size;
    std::uint32_t used;
    std::uint32_t count;
    std::uint32_t received;
    std::uint32_t stamp; // see SlotPool
    std::uint32_t link;  // the next pending read of the device; the next free slot once released
    std::uint32_t prev;  // the pending read before
    std::uint8_t status;
    std::uint8_t device;
    bool pending;
    bool timed;
};

struct SendState {
    std::uint8_t status;
    std::uint8_t device;
};

// A send needs only its status until it is released.
struct SendSlot {
    std::uint32_t stamp;
    union {
        std::uint32_t link; // while free: the next free slot
        SendState live;
    };
};

// What each outstanding transfer costs beside the caller's buffers.
static_assert(sizeof(ReadSlot) <= 64);
static_assert(sizeof(SendSlot) == 8);

// Transfers live in slots, in chunks that never move: a slot stays where it
// is while others are added, and a released one is taken again before a new
// one is made, so starting a transfer neither allocates (past the peak) nor
// rehashes.  A slot's stamp is odd while it holds a transfer and goes up by
// one when it is taken and when it is released; the transfer's id carries
// the stamp, so a released id, or one from before a reset, never matches
// again.  A slot whose stamp has run out is retired rather than reused.
template <typename Slot>
class SlotPool {
public:
    // A slot made live, its stamp already odd; the caller fills the rest.
    std::uint32_t Take()
    {
        std::uint32_t index = free_;
        if (index != kNoSlot) {
            free_ = At(index).link;
        } else {
            if (size_ == kMaxSlots) {
                throw std::length_error("transfer slots exhausted");
            }
            index = size_;
            if ((index & (kChunkSlots - 1)) == 0) {
                // Left uninitialised: pages are touched only as slots are used.
                chunks_.emplace_back(new Slot[kChunkSlots]);
            }
            ++size_;
            At(index).stamp = 0;
        }
        ++At(index).stamp;
        ++live_;
        return index;
    }

    void Release(std::uint32_t index)
    {
        Slot &slot = At(index);
        ++slot.stamp;
        --live_;
        if (slot.stamp != 0) {
            slot.link = free_;
            free_ = index;
        }
    }

    // The live slot with this index and stamp, or null.
    Slot *Find(std::uint32_t index, std::uint32_t stamp)
    {
        if ((stamp & 1) == 0 || index >= size_) {
            return nullptr;
        }
        Slot &slot = At(index);
        return slot.stamp == stamp ? &slot : nullptr;
    }

    Slot &At(std::uint32_t index) { return chunks_[index >> kChunkBits][index & (kChunkSlots - 1)]; }

    // Every live slot released; the slots stay, with their stamps.
    void ReleaseAll()
    {
        for (std::uint32_t index = 0; index < size_; ++index) {
            if ((At(index).stamp & 1) != 0) {
                Release(index);
            }
        }
    }

    std::size_t Live() const { return live_; }

    static constexpr std::uint32_t kMaxSlots = std::uint32_t{1} << 31;

private:
    static constexpr std::uint32_t kChunkBits = 12;
    static constexpr std::uint32_t kChunkSlots = std::uint32_t{1} << kChunkBits;
    std::vector<std::unique_ptr<Slot[]>> chunks_;
    std::uint32_t size_ = 0;
    std::uint32_t free_ = kNoSlot;
    std::size_t live_ = 0;
};

// The most recent kSentLogLimit packets sent, oldest first.  Once full, the
// oldest entry's bytes are overwritten in place, so that recording a packet
// does not allocate.
class SentLog {
public:
    // The log's copy of the packet, good until the next one is added.
    const Packet &Add(int device, std::span<const std::uint8_t> bytes, int eop);
    // Everything logged, oldest first; the log is left empty.
    std::vector<SentPacket> Take();
    void Clear();

private:
    std::vector<SentPacket> entries_; // a ring once it holds kSentLogLimit
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

struct SimState {
    Settings settings;
    std::uint64_t generation = 0; // changes with every reset, so old handles go stale
    std::array<Device, kDeviceSlots> devices;
    // Never emptied by a reset, so that ids from before it stay unknown.
    SlotPool<ReadSlot> reads;
    SlotPool<SendSlot> sends;
    FarEndState far_end; // the in-process devices' far end: target memory, reply count
    std::unique_ptr<std::FILE, FileCloser> trace;
    std::unique_ptr<Capture> capture;
    SentLog sent;
    std::vector<Packet> answers; // the in-process far end's answers to one packet, kept for reuse
};

// Held by every library call while it works on the state.
std::mutex &StateMutex();
inline std::unique_lock<std::mutex> LockState() { return std::unique_lock<std::mutex>(StateMutex()); }

// The state, built from VANTOR_SIM on the first call.
SimState &State();

// Replaces the settings, forgets every device, transfer, packet and memory
// byte, and prints the complaint line for malformed settings.
bool ResetState(std::string_view text);

DeviceHandle HandleOf(const SimState &state, int number);
// The open device a handle names, or null.
Device *FindDevice(SimState &state, DeviceHandle handle);

// A transfer's id: its slot's stamp in bits 63 to 32, the slot's index in
// bits 31 to 1, and in bit 0 whether it is a read.
TransferId IdOf(std::uint64_t key);
std::uint64_t KeyOf(TransferId id);
// The index of the key's slot.
std::uint32_t SlotOf(std::uint64_t key);

// A new transfer in a slot of its own, its key returned; the slot's other
// fields are the caller's to fill.
std::uint64_t AddRead(SimState &state, ReadSlot *&read);
std::uint64_t AddSend(SimState &state, SendSlot *&send);

// The live transfer with this key, or null.
ReadSlot *FindRead(SimState &state, std::uint64_t key);
SendSlot *FindSend(SimState &state, std::uint64_t key);
// The same, and only when it belongs to this device.
ReadSlot *FindRead(SimState &state, const Device &device, TransferId id);
SendSlot *FindSend(SimState &state, const Device &device, TransferId id);

void ReleaseRead(SimState &state, std::uint64_t key);
void ReleaseSend(SimState &state, std::uint64_t key);

} // namespace vantor_sim

#endif
