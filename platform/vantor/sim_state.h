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
#include <string_view>
#include <unordered_map>
#include <vector>

#include <mutex>
#include <string>

#include "bridge_connection.h"
#include "capture.h"
#include "device/vantor_api.h"
#include "far_end.h"
#include "sim_settings.h"
#include "vantor_sim_control.h"

namespace vantor_sim {

using Clock = std::chrono::steady_clock;

inline constexpr int kDeviceSlots = 32;

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
    std::deque<Packet> waiting;           // arrived while no read was pending
    std::deque<std::uint64_t> pending_reads; // oldest first
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

enum class TransferKind { Send, Read };

struct Transfer {
    TransferKind kind = TransferKind::Send;
    int device = 0;
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    // Reads only: the caller's buffer and properties, filled as packets arrive.
    std::uint8_t *buffer = nullptr;
    std::size_t size = 0;
    std::size_t used = 0;
    PacketProperties *properties = nullptr;
    std::uint32_t count = 0;
    std::uint32_t received = 0;
    std::optional<Clock::time_point> deadline;
};

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

struct SimState {
    Settings settings;
    std::uint64_t generation = 0; // changes with every reset, so old handles go stale
    std::array<Device, kDeviceSlots> devices;
    std::unordered_map<std::uint64_t, Transfer> transfers;
    std::uint64_t next_transfer = 1; // never reset: ids are not reused
    FarEndState far_end; // the in-process devices' far end: target memory, reply count
    std::unique_ptr<std::FILE, FileCloser> trace;
    std::unique_ptr<Capture> capture;
    std::deque<SentPacket> sent; // most recent kSentLogLimit packets
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

TransferId IdOf(std::uint64_t key);
std::uint64_t KeyOf(TransferId id);
// The transfer of this kind on this device, or null.
Transfer *FindTransfer(SimState &state, const Device &device, TransferId id, TransferKind kind);

} // namespace vantor_sim

#endif
