// The simulated adapter and the target at the far end, on arbitrary packets.
//
// Input:
//   byte 0  bit 0     send with EEP endings
//           bit 1     do not register to receive
//           bit 2     start one read before sending
//           bit 3     send all packets in one multi-packet send
//           bit 4     wait on sends
//           bits 6..5 how reads complete: 0 waiting without a time-out,
//                     1 polled, 2 waiting with an instant time-out,
//                     3 polled with that time-out
//           bit 7     the target demands a key
//   byte 1  bits 1..0 far end: both, target, loopback, silent
//           bits 4..2 packets per read, minus one
//           bit 5     the target has a memory map, described after byte 6
//   byte 2  the target's logical address (below 32 reads as fe)
//   byte 3  the key
//   byte 4, 5  receive buffer size minus one, most significant byte first
//   byte 6  bits 3..0 (modulo 9) faulty replies: none, header_crc, data_crc,
//                     truncate, pad, transaction_id, eep, duplicate, drop;
//                     only with the target alone at the far end
//           bits 5..4 every 1st to 4th reply is faulty
//   with a memory map, then one byte:
//           bits 1..0 regions, minus one
//           bit 2     unknown_address status12 (else discard)
//           bit 3     a second logical address: the target's with bit 0 flipped
//   and four bytes a region, the regions one after the other from address 0
//   in extended address 0:
//           gap before it in units of 16 bytes; length in units of 16, minus one;
//           rules: bit 0 read, bit 1 write, bit 2 rmw, bits 4..3 increment (1)
//             or single (2) only, bit 5 fails, bit 6 fill, bit 7 verify;
//           values: bits 1..0 align 2^n, bits 3..2 size 2^(n-1) when not 0,
//             the whole byte the fill byte, bits 4..0 the verify buffer
//   then up to 16 packets, each a two-byte length (most significant first)
//   and that many bytes (fewer when the input ends); length 0 is a refused
//   send.
// Inputs with a read or read/modify/write command for the target that asks
// for more than 64 KiB are refused: each such read costs the target its whole
// length in work, which would starve everything else (reads of every length
// are fuzzed against the RMAP library by fuzz_rmap_check).
//
// Every transfer is released; afterwards none may be left.  Beyond that:
// - the adapter's log of sent packets is what was sent, with its ending;
// - a read never reports more bytes than its buffer holds;
// - with only the loopback at the far end, what comes back is what was sent,
//   in order, some packets possibly lost to a full buffer; a read started
//   while packets wait takes them, even when its time-out is already over;
// - with only the target, every reply of status 0 addressed to a logical
//   address is a valid RMAP reply;
// - a silent far end, or a device not registered, delivers nothing;
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "device/quill_rmap.h"
#include "device/vantor_api.h"
#include "fuzz/fuzz_support.h"
#include "vantor_sim_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMostPackets = 16;
constexpr int kMostReads = 64;
// Shorter than the clock's tick: a read's deadline is the moment it starts,
// so that time-outs happen the same way on every run.
constexpr double kInstant = 1e-10;
constexpr std::uint32_t kLargestRead = 64 * 1024;

constexpr const char *kFaults[] = {"none", "header_crc", "data_crc", "truncate", "pad",
                                   "transaction_id", "eep", "duplicate", "drop"};

enum class Completion { Wait, Poll, WaitTimed, PollTimed };
enum class FarEnd { Both, Target, Loopback, Silent };

struct Plan {
    bool send_eeps = false;
    bool registered = true;
    bool read_first = false;
    bool multiple = false;
    bool wait_on_send = false;
    Completion completion = Completion::Wait;
    bool key_demanded = false;
    FarEnd far_end = FarEnd::Both;
    unsigned packets_per_read = 1;
    std::uint8_t target = 0xFE;
    std::uint8_t key = 0;
    unsigned buffer_size = 1;
    int fault = 0; // index into kFaults; 0: none
    unsigned fault_every = 1;
    std::string map; // the memory map's text; empty: none
    bool second_address = false; // the map gives the target its address with bit 0 flipped too
    std::vector<Bytes> packets;
};

std::string Hex(std::uint8_t byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", byte);
    return text;
}

std::string HexNumber(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

// The memory map the input describes from at on, as text in plan.map.
bool ReadMap(std::span<const std::uint8_t> input, std::size_t &at, Plan &plan)
{
    if (input.size() - at < 1) {
        return false;
    }
    const std::uint8_t shape = input[at++];
    const unsigned count = (shape & 3u) + 1;
    if (input.size() - at < 4 * count) {
        return false;
    }
    std::string &text = plan.map;
    std::uint64_t next = 0;
    for (unsigned i = 0; i < count; ++i, at += 4) {
        const std::uint8_t gap = input[at], length = input[at + 1], rules = input[at + 2], value = input[at + 3];
        const std::uint64_t start = next + 16u * gap, size = 16u * (length + 1u);
        text += "region 00:" + HexNumber(start) + " " + HexNumber(size);
        static const char *const kFlags[] = {" read", " write", " rmw"};
        for (int bit = 0; bit < 3; ++bit) {
            text += (rules >> bit) & 1u ? kFlags[bit] : "";
        }
        const unsigned addressing = (rules >> 3) & 3u;
        text += addressing == 1 ? " increment" : addressing == 2 ? " single" : "";
        text += (rules & 0x20u) != 0 ? " fails" : "";
        text += (rules & 0x40u) != 0 ? " fill=" + Hex(value) : "";
        text += (rules & 0x80u) != 0 ? " verify=" + HexNumber(value & 0x1fu) : "";
        text += " align=" + HexNumber(1u << (value & 3u));
        text += (value & 0x0cu) != 0 ? " size=" + HexNumber(1u << (((value >> 2) & 3u) - 1)) : "";
        text += "\n";
        next = start + size;
    }
    plan.second_address = (shape & 0x08u) != 0;
    text += "logical_address " + Hex(plan.target);
    text += plan.second_address ? " " + Hex(static_cast<std::uint8_t>(plan.target ^ 1u)) + "\n" : "\n";
    text += (shape & 0x04u) != 0 ? "unknown_address status12\n" : "";
    return true;
}

// A read or read/modify/write command for the target asking for more than kLargestRead.
bool IsLargeRead(const Bytes &packet, const Plan &plan)
{
    const std::uint8_t target = plan.target;
    std::size_t at = 0;
    while (at < packet.size() && packet[at] < 32) {
        ++at;
    }
    if (packet.size() - at < 3 || packet[at + 1] != 0x01 ||
        (packet[at] != target && !(plan.second_address && packet[at] == (target ^ 1u)))) {
        return false;
    }
    const std::uint8_t instruction = packet[at + 2];
    const std::size_t header = 16 + 4u * (instruction & 3u);
    if ((instruction & 0x40u) == 0 || (instruction & 0x20u) != 0 || packet.size() - at < header) {
        return false;
    }
    const std::uint8_t *length = &packet[at + header - 4];
    return ((std::uint32_t{length[0]} << 16) | (std::uint32_t{length[1]} << 8) | length[2]) > kLargestRead;
}

bool ReadPlan(std::span<const std::uint8_t> input, Plan &plan)
{
    if (input.size() < 7) {
        return false;
    }
    const std::uint8_t flags = input[0];
    plan.send_eeps = (flags & 0x01u) != 0;
    plan.registered = (flags & 0x02u) == 0;
    plan.read_first = (flags & 0x04u) != 0;
    plan.multiple = (flags & 0x08u) != 0;
    plan.wait_on_send = (flags & 0x10u) != 0;
    plan.completion = static_cast<Completion>((flags >> 5) & 3u);
    plan.key_demanded = (flags & 0x80u) != 0;
    plan.far_end = static_cast<FarEnd>(input[1] & 3u);
    plan.packets_per_read = ((input[1] >> 2) & 7u) + 1;
    plan.target = input[2] < 32 ? 0xFE : input[2];
    plan.key = input[3];
    plan.buffer_size = ((unsigned{input[4]} << 8) | input[5]) + 1;
    plan.fault = plan.far_end == FarEnd::Target ? (input[6] & 0x0Fu) % 9 : 0;
    plan.fault_every = ((input[6] >> 4) & 3u) + 1;
    std::size_t at = 7;
    if ((input[1] & 0x20u) != 0 && !ReadMap(input, at, plan)) {
        return false;
    }
    while (at + 2 <= input.size() && plan.packets.size() < kMostPackets) {
        std::size_t length = (std::size_t{input[at]} << 8) | input[at + 1];
        at += 2;
        length = std::min(length, input.size() - at);
        plan.packets.emplace_back(input.begin() + static_cast<std::ptrdiff_t>(at),
                                  input.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
        if (IsLargeRead(plan.packets.back(), plan)) {
            return false;
        }
    }
    return true;
}

std::string SettingsText(const Plan &plan, const std::string &trace, const std::string &map)
{
    static const char *const kFarEnds[] = {"both", "target", "loopback", "silent"};
    std::string text = "devices=0:0;far_end=" + std::string(kFarEnds[static_cast<int>(plan.far_end)]) +
                       ";target=" + Hex(plan.target);
    if (plan.key_demanded) {
        text += ";key=" + Hex(plan.key);
    }
    if (plan.fault != 0) {
        text += ";reply_fault=" + std::string(kFaults[plan.fault]) + ";reply_fault_every=" +
                std::to_string(plan.fault_every);
    }
    if (!plan.map.empty()) {
        text += ";memory_map=" + map;
    }
    return text + ";trace=" + trace;
}

void CheckSend(TransferStatus status, TransferId id, const Plan &plan, DeviceHandle device)
{
    FUZZ_CHECK(id != nullptr);
    FUZZ_CHECK(status == (plan.wait_on_send ? VANTOR_TRANSFER_SUCCESS : VANTOR_TRANSFER_STARTED));
    FUZZ_CHECK(Vantor_WaitOnSendCompleting(device, id, 1) == VANTOR_TRANSFER_SUCCESS);
    FUZZ_CHECK(Vantor_FreeSend(device, id) == 1);
    // A released id is unknown from then on.
    FUZZ_CHECK(Vantor_FreeSend(device, id) == 0);
    FUZZ_CHECK(Vantor_WaitOnSendCompleting(device, id, 1) == VANTOR_TRANSFER_ERROR_NOT_FOUND);
}

// Sends every packet; returns those that went out.
std::vector<Bytes> SendAll(const Plan &plan, DeviceHandle device)
{
    std::vector<Bytes> sent;
    for (const Bytes &packet : plan.packets) {
        if (!packet.empty()) {
            sent.push_back(packet);
        }
    }
    if (plan.multiple && !plan.packets.empty()) {
        std::vector<void *> pointers;
        std::vector<unsigned int> lengths;
        std::vector<Bytes> copies = plan.packets; // the call takes non-const pointers
        for (Bytes &packet : copies) {
            pointers.push_back(packet.empty() ? nullptr : packet.data());
            lengths.push_back(static_cast<unsigned int>(packet.size()));
        }
        TransferId id = nullptr;
        const TransferStatus status =
            Vantor_SendMultiplePacketLengths(device, pointers.data(), lengths.data(),
                                             static_cast<unsigned int>(copies.size()), plan.wait_on_send, &id);
        if (sent.size() != copies.size()) {
            // One empty packet refuses the whole send.
            FUZZ_CHECK(status == VANTOR_TRANSFER_NOT_STARTED && id == nullptr);
            return {};
        }
        CheckSend(status, id, plan, device);
        return sent;
    }
    for (const Bytes &packet : plan.packets) {
        Bytes copy = packet;
        TransferId id = nullptr;
        const TransferStatus status = Vantor_SendPacket(device, copy.empty() ? nullptr : copy.data(),
                                                        static_cast<unsigned int>(copy.size()),
                                                        plan.wait_on_send, &id);
        if (copy.empty()) {
            FUZZ_CHECK(status == VANTOR_TRANSFER_NOT_STARTED && id == nullptr);
            continue;
        }
        CheckSend(status, id, plan, device);
    }
    return sent;
}

struct Read {
    TransferId id = nullptr;
    Bytes buffer;
    std::vector<PacketProperties> properties;
};

Read StartRead(const Plan &plan, DeviceHandle device, bool wait)
{
    Read read;
    read.buffer.assign(plan.buffer_size, 0);
    read.properties.assign(plan.packets_per_read, PacketProperties{99, 99, 0});
    const TransferStatus status =
        Vantor_ReadPackets(device, read.buffer.data(), plan.buffer_size, plan.packets_per_read, wait,
                           read.properties.data(), &read.id);
    FUZZ_CHECK(read.id != nullptr);
    if (!plan.registered) {
        FUZZ_CHECK(status == VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    } else if (!wait) {
        FUZZ_CHECK(status == VANTOR_TRANSFER_STARTED);
    }
    return read;
}

// What one read ended with and the packets it received.
struct Outcome {
    TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
    bool started_before_sending = false;
    std::vector<Bytes> packets;
    std::vector<int> endings;
};

// Finishes a read, collects what it received and releases it.
Outcome FinishRead(const Plan &plan, DeviceHandle device, Read &read)
{
    const bool waiting = plan.completion == Completion::Wait || plan.completion == Completion::WaitTimed;
    Outcome outcome;
    outcome.status = waiting ? Vantor_WaitOnReadCompleting(device, read.id, 1) : Vantor_GetReadStatus(device, read.id);
    const TransferStatus status = outcome.status;
    if (!plan.registered) {
        FUZZ_CHECK(status == VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    } else if (waiting) {
        FUZZ_CHECK(status == VANTOR_TRANSFER_SUCCESS || status == VANTOR_TRANSFER_ERROR_TIMEOUT ||
                   status == VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    } else {
        FUZZ_CHECK(status == VANTOR_TRANSFER_STARTED || status == VANTOR_TRANSFER_SUCCESS ||
                   status == VANTOR_TRANSFER_ERROR_TIMEOUT || status == VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    }
    std::size_t used = 0;
    bool ended = false;
    for (const PacketProperties &entry : read.properties) {
        if (entry.len == 0) {
            FUZZ_CHECK(entry.eop == VANTOR_EOP_NONE);
            ended = true;
            continue;
        }
        // Packets fill the entries in order, and always have a length.
        FUZZ_CHECK(!ended);
        FUZZ_CHECK(entry.eop == VANTOR_EOP_EOP || entry.eop == VANTOR_EOP_EEP);
        FUZZ_CHECK(entry.len <= read.buffer.size() - used);
        outcome.packets.emplace_back(read.buffer.begin() + static_cast<std::ptrdiff_t>(used),
                                     read.buffer.begin() + static_cast<std::ptrdiff_t>(used + entry.len));
        outcome.endings.push_back(entry.eop);
        used += entry.len;
    }
    if (status == VANTOR_TRANSFER_SUCCESS) {
        FUZZ_CHECK(outcome.packets.size() == read.properties.size());
    }
    FUZZ_CHECK(Vantor_FreeRead(device, read.id) == 1);
    FUZZ_CHECK(Vantor_FreeRead(device, read.id) == 0);
    return outcome;
}

std::size_t TotalLength(const std::vector<Bytes> &packets)
{
    std::size_t total = 0;
    for (const Bytes &packet : packets) {
        total += packet.size();
    }
    return total;
}

// Everything sent comes back in order: each read takes the next packets; a
// read ended by a full buffer lost the next one, which did not fit; a read
// that did not fill up left nothing behind, unless it was already waiting
// when the packets came and its time-out ended first.
void CheckLoopback(const Plan &plan, const std::vector<Bytes> &sent, const std::vector<Outcome> &reads)
{
    std::size_t next = 0;
    for (const Outcome &read : reads) {
        for (std::size_t i = 0; i < read.packets.size(); ++i) {
            FUZZ_CHECK(next < sent.size() && read.packets[i] == sent[next]);
            FUZZ_CHECK(read.endings[i] == (plan.send_eeps ? VANTOR_EOP_EEP : VANTOR_EOP_EOP));
            ++next;
        }
        if (read.status == VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL) {
            FUZZ_CHECK(next < sent.size());
            FUZZ_CHECK(sent[next].size() > plan.buffer_size - TotalLength(read.packets));
            ++next;
        } else if (read.status != VANTOR_TRANSFER_SUCCESS &&
                   !(read.started_before_sending && read.status == VANTOR_TRANSFER_ERROR_TIMEOUT)) {
            FUZZ_CHECK(next == sent.size());
        }
    }
    FUZZ_CHECK(next == sent.size());
}

// A reply of status 0 went to a logical address from a sound command: the
// RMAP library must accept it as a reply.
void CheckTargetReply(const Bytes &reply, int ending)
{
    FUZZ_CHECK(ending == VANTOR_EOP_EOP);
    FUZZ_CHECK(reply.size() >= 8);
    if (reply[0] >= 32 && reply[3] == 0) {
        RmapPacketInfo info{};
        const int verdict = RMAP_CheckPacketValid(reply.data(), static_cast<unsigned int>(reply.size()), &info, 1);
        FUZZ_CHECK(verdict == RMAP_CHECK_OK);
        FUZZ_CHECK(RMAP_GetPacketType(&info) < RMAP_PACKET_TYPE_READ_COMMAND);
    }
}

void CheckTargetReplies(const std::vector<Outcome> &reads)
{
    for (const Outcome &read : reads) {
        for (std::size_t i = 0; i < read.packets.size(); ++i) {
            CheckTargetReply(read.packets[i], read.endings[i]);
        }
    }
}

using fuzz_support::Scratch;

// Runs the whole session once and checks what each read received.
void RunSession(const Plan &plan, const std::string &trace)
{
    std::remove(trace.c_str());
    const std::string map = (Scratch() / "map.txt").string();
    if (!plan.map.empty()) {
        Scratch().Write("map.txt", std::span(reinterpret_cast<const std::uint8_t *>(plan.map.data()), plan.map.size()));
    }
    FUZZ_CHECK(vantor_sim::ApplySettings(SettingsText(plan, trace, map)));
    DeviceHandle device = nullptr;
    FUZZ_CHECK(Vantor_Open(&device, 0) != 0 && device != nullptr);
    if (plan.completion == Completion::WaitTimed || plan.completion == Completion::PollTimed) {
        FUZZ_CHECK(Vantor_SetTimeout(device, kInstant) != 0);
    }
    if (plan.registered) {
        FUZZ_CHECK(Vantor_RegisterReceiveOnAllPorts(device) != 0);
    }
    FUZZ_CHECK(Vantor_EnableSendEEPs(device, plan.send_eeps) != 0);

    std::vector<Outcome> reads;
    Read early;
    if (plan.read_first) {
        early = StartRead(plan, device, 0);
    }
    const std::vector<Bytes> sent = SendAll(plan, device);

    const std::vector<vantor_sim::SentPacket> logged = vantor_sim::TakeSentPackets();
    FUZZ_CHECK(logged.size() == sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(logged[i].device == 0 && logged[i].packet.bytes == sent[i]);
        FUZZ_CHECK(logged[i].packet.eop == (plan.send_eeps ? VANTOR_EOP_EEP : VANTOR_EOP_EOP));
    }

    if (plan.read_first) {
        reads.push_back(FinishRead(plan, device, early));
        reads.back().started_before_sending = true;
    }
    const bool wait = plan.completion == Completion::Wait || plan.completion == Completion::WaitTimed;
    for (int i = 0; i < kMostReads; ++i) {
        Read read = StartRead(plan, device, wait);
        reads.push_back(FinishRead(plan, device, read));
        if (reads.back().packets.empty() && reads.back().status != VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL) {
            break;
        }
    }

    if (!plan.registered || plan.far_end == FarEnd::Silent) {
        for (const Outcome &read : reads) {
            FUZZ_CHECK(read.packets.empty());
        }
    } else if (plan.far_end == FarEnd::Loopback) {
        CheckLoopback(plan, sent, reads);
    } else if (plan.far_end == FarEnd::Target && plan.fault == 0) {
        CheckTargetReplies(reads);
    }
    if (plan.registered) {
        FUZZ_CHECK(Vantor_UnregisterReceiveOnAllPorts(device) != 0);
    }
    FUZZ_CHECK(vantor_sim::LiveTransferCount() == 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Plan plan;
    if (!ReadPlan(std::span<const std::uint8_t>(data, size), plan)) {
        return -1;
    }
    RunSession(plan, (Scratch() / "trace").string());
    return 0;
}
