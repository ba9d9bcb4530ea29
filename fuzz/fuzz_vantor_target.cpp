// The simulated adapter and the target at the far end, on arbitrary packets.
//
// Input:
//   byte 0  bit 0 send with EEP endings; bit 1 do not register to receive;
//           bit 2 start one read before sending; bit 3 send all packets in
//           one multi-packet send; bit 4 wait on sends; bits 6..5 how reads
//           complete: waiting, polled, waiting with an instant time-out,
//           polled with it; bit 7 the target demands a key
//   byte 1  bits 1..0 far end: both, target, loopback, silent; bits 4..2
//           packets per read, minus one; bit 5 a memory map follows byte 6
//   byte 2  the target's logical address (below 32 reads as fe)
//   byte 3  the key
//   bytes 4, 5  receive buffer size minus one, most significant first
//   byte 6  unused (the replies' faults have tests of their own)
//   memory map: one byte (bits 1..0 regions minus one, bit 2 unknown_address
//           status12, bit 3 a second logical address, the target's with bit 0
//           flipped), then four bytes a region, from address 0 up: gap and
//           length minus one in units of 16; rules (bit 0 read, 1 write, 2 rmw,
//           bits 4..3 increment/single only, 5 fails, 6 fill, 7 verify);
//           values (bits 1..0 align 2^n, bits 3..2 size 2^(n-1) unless 0, the
//           byte the fill, bits 4..0 the verify buffer)
//   then up to 16 packets, each a two-byte length (most significant first)
//   and that many bytes; length 0 is a refused send.
// Read commands for the target asking for more than 64 KiB are refused: the
// target works through every byte asked for.
//
// Every transfer is released, a released one is unknown, and none is left at
// the end; a read never reports more bytes than its buffer holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "device/vantor_api.h"
#include "fuzz/support.h"
#include "vantor_sim_control.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Shorter than the clock's tick: a read times out the moment it starts, the
// same way on every run.
constexpr double kInstant = 1e-10;
constexpr const char *kFarEnds[] = {"both", "target", "loopback", "silent"};

std::string Hex(std::uint64_t value, const char *format = "%llx")
{
    char text[24];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(value));
    return text;
}

// The memory map's text, from its first byte at input[at] on; false when the input ends first.
bool ReadMap(std::span<const std::uint8_t> input, std::size_t &at, std::uint8_t target, std::string &text)
{
    if (input.size() - at < 1 || input.size() - at - 1 < 4 * ((input[at] & 3u) + 1)) {
        return false;
    }
    const std::uint8_t shape = input[at++];
    for (std::uint64_t i = 0, next = 0; i <= (shape & 3u); ++i, at += 4) {
        const std::uint8_t rules = input[at + 2], value = input[at + 3];
        const std::uint64_t start = next + 16u * input[at], size = 16u * (input[at + 1] + 1u);
        const unsigned addressing = (rules >> 3) & 3u;
        text += "region 00:" + Hex(start) + " " + Hex(size) + (rules & 1u ? " read" : "") +
                (rules & 2u ? " write" : "") + (rules & 4u ? " rmw" : "") +
                (addressing == 1 ? " increment" : addressing == 2 ? " single" : "") + (rules & 0x20u ? " fails" : "") +
                (rules & 0x40u ? " fill=" + Hex(value, "%02llx") : "") +
                (rules & 0x80u ? " verify=" + Hex(value & 0x1fu) : "") + " align=" + Hex(1u << (value & 3u)) +
                (value & 0x0cu ? " size=" + Hex(1u << (((value >> 2) & 3u) - 1)) : "") + "\n";
        next = start + size;
    }
    text += "logical_address " + Hex(target, "%02llx") + (shape & 8u ? " " + Hex(target ^ 1u, "%02llx") : "") + "\n" +
            (shape & 4u ? "unknown_address status12\n" : "");
    return true;
}

// A read or read/modify/write command for the target asking for more than 64 KiB.
bool IsLargeRead(const Bytes &packet, std::uint8_t target, bool second_address)
{
    std::size_t at = 0;
    while (at < packet.size() && packet[at] < 32) {
        ++at;
    }
    if (packet.size() - at < 3 || packet[at + 1] != 0x01 ||
        (packet[at] != target && !(second_address && packet[at] == (target ^ 1u)))) {
        return false;
    }
    const std::uint8_t instruction = packet[at + 2];
    const std::size_t header = 16 + 4u * (instruction & 3u);
    if ((instruction & 0x40u) == 0 || (instruction & 0x20u) != 0 || packet.size() - at < header) {
        return false;
    }
    const std::uint8_t *length = &packet[at + header - 4];
    return ((std::uint32_t{length[0]} << 16) | (std::uint32_t{length[1]} << 8) | length[2]) > 64 * 1024;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    if (size < 7) {
        return -1;
    }
    const std::uint8_t flags = input[0];
    const unsigned far_end = input[1] & 3u;
    const std::uint8_t target = input[2] < 32 ? 0xFE : input[2];
    std::string map;
    std::size_t at = 7;
    if ((input[1] & 0x20u) != 0 && !ReadMap(input, at, target, map)) {
        return -1;
    }
    std::vector<Bytes> packets;
    while (at + 2 <= size && packets.size() < 16) {
        const std::size_t length = std::min((std::size_t{input[at]} << 8) | input[at + 1], size - at - 2);
        packets.emplace_back(data + at + 2, data + at + 2 + length);
        at += 2 + length;
        if (IsLargeRead(packets.back(), target, !map.empty() && (input[7] & 8u) != 0)) {
            return -1;
        }
    }

    const ScratchDir &scratch = fuzz_support::Scratch();
    std::remove((scratch / "trace").c_str());
    std::string settings = "devices=0:0;far_end=" + std::string(kFarEnds[far_end]) + ";target=" + Hex(target, "%02llx");
    settings += flags & 0x80u ? ";key=" + Hex(input[3], "%02llx") : "";
    if (!map.empty()) {
        scratch.Write("map.txt", map);
        settings += ";memory_map=" + (scratch / "map.txt").string();
    }
    FUZZ_CHECK(vantor_sim::ApplySettings(settings + ";trace=" + (scratch / "trace").string()));
    DeviceHandle device = nullptr;
    FUZZ_CHECK(Vantor_Open(&device, 0) != 0 && device != nullptr);
    if ((flags & 0x40u) != 0) {
        FUZZ_CHECK(Vantor_SetTimeout(device, kInstant) != 0);
    }
    const bool registered = (flags & 0x02u) == 0;
    if (registered) {
        FUZZ_CHECK(Vantor_RegisterReceiveOnAllPorts(device) != 0);
    }
    FUZZ_CHECK(Vantor_EnableSendEEPs(device, static_cast<unsigned char>(flags & 1u)) != 0);
    Bytes buffer(((unsigned{input[4]} << 8) | input[5]) + 1);
    std::vector<PacketProperties> properties(((input[1] >> 2) & 7u) + 1);
    const bool waiting = (flags & 0x20u) == 0;
    TransferId read = nullptr;
    const auto start = [&](bool wait) {
        std::fill(properties.begin(), properties.end(), PacketProperties{99, 99, 0});
        Vantor_ReadPackets(device, buffer.data(), static_cast<unsigned int>(buffer.size()),
                           static_cast<unsigned int>(properties.size()), wait, properties.data(), &read);
        FUZZ_CHECK(read != nullptr);
    };
    // Releases the read: true when it received something or ended for a full
    // buffer, so that another read may find more.
    const auto finish = [&] {
        const TransferStatus status = waiting ? Vantor_WaitOnReadCompleting(device, read, 1) : Vantor_GetReadStatus(device, read);
        std::size_t used = 0;
        for (const PacketProperties &entry : properties) {
            FUZZ_CHECK(entry.len <= buffer.size() - used);
            used += entry.len;
        }
        FUZZ_CHECK(Vantor_FreeRead(device, read) == 1 && Vantor_FreeRead(device, read) == 0);
        return used > 0 || status == VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL;
    };
    if ((flags & 0x04u) != 0) {
        start(false);
    }

    const int wait = (flags & 0x10u) != 0;
    std::vector<void *> pointers; // the calls take non-const pointers
    std::vector<unsigned int> lengths;
    for (Bytes &packet : packets) {
        pointers.push_back(packet.empty() ? nullptr : packet.data());
        lengths.push_back(static_cast<unsigned int>(packet.size()));
    }
    for (std::size_t i = 0; i < packets.size(); ++i) {
        TransferId id = nullptr;
        if ((flags & 0x08u) == 0) {
            Vantor_SendPacket(device, pointers[i], lengths[i], wait, &id);
        } else if (i == 0) {
            Vantor_SendMultiplePacketLengths(device, pointers.data(), lengths.data(),
                                             static_cast<unsigned int>(packets.size()), wait, &id);
        }
        if (id != nullptr) {
            Vantor_WaitOnSendCompleting(device, id, 1);
            FUZZ_CHECK(Vantor_FreeSend(device, id) == 1 && Vantor_FreeSend(device, id) == 0 &&
                       Vantor_WaitOnSendCompleting(device, id, 1) == VANTOR_TRANSFER_ERROR_NOT_FOUND);
        }
    }

    if ((flags & 0x04u) != 0) {
        finish();
    }
    for (int i = 0; i < 64; ++i) {
        start(waiting);
        if (!finish()) {
            break;
        }
    }
    if (registered) {
        FUZZ_CHECK(Vantor_UnregisterReceiveOnAllPorts(device) != 0);
    }
    FUZZ_CHECK(vantor_sim::LiveTransferCount() == 0);
    return 0;
}
