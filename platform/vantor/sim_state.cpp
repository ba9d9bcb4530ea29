#include "sim_state.h"

#include <cstdlib>
#include <string>

#include "link_backend.h"

namespace vantor_sim {
namespace {

// Handles carry the state's generation above the device number, so that a
// handle from before a reset is no longer recognised.
constexpr std::uintptr_t kNumberBits = 6;

bool BuildState(SimState &state, std::string_view text)
{
    ParsedSettings parsed = ParseSettings(text);
    state.settings = std::move(parsed.settings);
    ++state.generation;
    for (int n = 0; n < kDeviceSlots; ++n) {
        state.devices[n] = Device{};
        state.devices[n].number = n;
    }
    for (const AttachedDevice &attached : state.settings.devices) {
        Device &device = state.devices[attached.number];
        device.attached = true;
        device.type = attached.type;
        device.host = attached.host;
        device.port = attached.port;
    }
    for (Device &device : state.devices) {
        device.backend = device.port != 0 ? &kBridgeLink : &kInProcessLink;
    }
    state.reads.ReleaseAll();
    state.sends.ReleaseAll();
    ResetFarEnd(state.settings, state.far_end);
    state.sent.Clear();
    state.trace.reset();
    if (!state.settings.trace_path.empty()) {
        state.trace.reset(std::fopen(state.settings.trace_path.c_str(), "a"));
        if (!state.trace) {
            parsed.malformed.push_back("trace=" + state.settings.trace_path);
            parsed.reasons.emplace_back();
            state.settings.trace_path.clear();
        }
    }
    // The old capture is completed before the file is created anew.
    state.capture.reset();
    if (!state.settings.capture_path.empty()) {
        state.capture = Capture::Open(state.settings.capture_path);
        if (!state.capture) {
            parsed.malformed.push_back("capture=" + state.settings.capture_path);
            parsed.reasons.emplace_back();
            state.settings.capture_path.clear();
        }
    }
    std::string complaint = ComplaintLine(parsed.malformed, parsed.reasons);
    if (!complaint.empty()) {
        std::fputs(complaint.c_str(), stdout);
    }
    return parsed.malformed.empty();
}

} // namespace

std::mutex &StateMutex()
{
    static std::mutex mutex;
    return mutex;
}

namespace {

SimState &RawState()
{
    static SimState state;
    return state;
}

bool &Built()
{
    static bool built = false;
    return built;
}

} // namespace

SimState &State()
{
    SimState &state = RawState();
    if (!Built()) {
        Built() = true;
        const char *text = std::getenv("VANTOR_SIM");
        BuildState(state, text != nullptr ? text : "");
    }
    return state;
}

bool ResetState(std::string_view text)
{
    Built() = true;
    return BuildState(RawState(), text);
}

DeviceHandle HandleOf(const SimState &state, int number)
{
    std::uintptr_t token = (static_cast<std::uintptr_t>(state.generation) << kNumberBits) |
                           static_cast<std::uintptr_t>(number + 1);
    return reinterpret_cast<DeviceHandle>(token);
}

Device *FindDevice(SimState &state, DeviceHandle handle)
{
    auto token = reinterpret_cast<std::uintptr_t>(handle);
    if ((token >> kNumberBits) != static_cast<std::uintptr_t>(state.generation)) {
        return nullptr;
    }
    std::uintptr_t slot = token & ((std::uintptr_t{1} << kNumberBits) - 1);
    if (slot == 0 || slot > kDeviceSlots) {
        return nullptr;
    }
    Device &device = state.devices[slot - 1];
    return device.open ? &device : nullptr;
}

const Packet &SentLog::Add(int device, std::span<const std::uint8_t> bytes, int eop)
{
    SentPacket *entry = nullptr;
    if (count_ < entries_.size()) {
        entry = &entries_[(first_ + count_) % entries_.size()];
        ++count_;
    } else if (entries_.size() < kSentLogLimit) {
        entry = &entries_.emplace_back();
        ++count_;
    } else {
        entry = &entries_[first_];
        first_ = (first_ + 1) % entries_.size();
    }
    entry->device = device;
    std::vector<std::uint8_t> &kept = entry->packet.bytes;
    // A buffer far larger than the packet is given back rather than kept for good.
    if (kept.capacity() > 4096 && kept.capacity() / 2 > bytes.size()) {
        kept = std::vector<std::uint8_t>(bytes.begin(), bytes.end());
    } else {
        kept.assign(bytes.begin(), bytes.end());
    }
    entry->packet.eop = eop;
    return entry->packet;
}

std::vector<SentPacket> SentLog::Take()
{
    std::vector<SentPacket> taken;
    taken.reserve(count_);
    for (std::size_t i = 0; i < count_; ++i) {
        taken.push_back(std::move(entries_[(first_ + i) % entries_.size()]));
    }
    Clear();
    return taken;
}

void SentLog::Clear()
{
    entries_.clear();
    first_ = 0;
    count_ = 0;
}

static_assert(sizeof(std::uintptr_t) >= sizeof(std::uint64_t), "transfer ids carry 64 bits");

TransferId IdOf(std::uint64_t key) { return reinterpret_cast<TransferId>(static_cast<std::uintptr_t>(key)); }

std::uint64_t KeyOf(TransferId id) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(id)); }

namespace {

constexpr std::uint64_t kReadBit = 1;

std::uint64_t KeyFor(std::uint32_t index, std::uint32_t stamp, std::uint64_t kind)
{
    return (static_cast<std::uint64_t>(stamp) << 32) | (static_cast<std::uint64_t>(index) << 1) | kind;
}

std::uint32_t StampIn(std::uint64_t key) { return static_cast<std::uint32_t>(key >> 32); }

} // namespace

std::uint32_t SlotOf(std::uint64_t key) { return static_cast<std::uint32_t>(key >> 1) & 0x7FFFFFFF; }

std::uint64_t AddRead(SimState &state, ReadSlot *&read)
{
    const std::uint32_t index = state.reads.Take();
    read = &state.reads.At(index);
    return KeyFor(index, read->stamp, kReadBit);
}

std::uint64_t AddSend(SimState &state, SendSlot *&send)
{
    const std::uint32_t index = state.sends.Take();
    send = &state.sends.At(index);
    return KeyFor(index, send->stamp, 0);
}

ReadSlot *FindRead(SimState &state, std::uint64_t key)
{
    return (key & kReadBit) != 0 ? state.reads.Find(SlotOf(key), StampIn(key)) : nullptr;
}

SendSlot *FindSend(SimState &state, std::uint64_t key)
{
    return (key & kReadBit) == 0 ? state.sends.Find(SlotOf(key), StampIn(key)) : nullptr;
}

ReadSlot *FindRead(SimState &state, const Device &device, TransferId id)
{
    ReadSlot *read = FindRead(state, KeyOf(id));
    return read != nullptr && read->device == device.number ? read : nullptr;
}

SendSlot *FindSend(SimState &state, const Device &device, TransferId id)
{
    SendSlot *send = FindSend(state, KeyOf(id));
    return send != nullptr && send->live.device == device.number ? send : nullptr;
}

void ReleaseRead(SimState &state, std::uint64_t key) { state.reads.Release(SlotOf(key)); }

void ReleaseSend(SimState &state, std::uint64_t key) { state.sends.Release(SlotOf(key)); }

} // namespace vantor_sim
