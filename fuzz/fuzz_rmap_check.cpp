// RMAP_CheckPacketValid and every accessor on arbitrary bytes.
//
// Input: the bytes of one packet, as received.
//
// The verdict is compared with a reference judged here from the packet
// formats alone (field layout, CRC, command codes, the documented order of
// checks).  On success every field, pointer and length the description
// hands out is compared with the bytes, and every byte it points at is
// read, so that a pointer past the packet shows up under AddressSanitizer.
// On failure the description must be the cleared one.
#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "device/quill_rmap.h"
#include "fuzz/fuzz_support.h"

namespace {

using fuzz_support::RmapCrc;

constexpr std::uint8_t kCommandBit = 0x40;
constexpr std::uint8_t kWriteBit = 0x20;
constexpr std::uint8_t kReplyBit = 0x08;

unsigned Code(std::uint8_t instruction) { return (instruction >> 2) & 0x0Fu; }

// Read single, read incrementing, read/modify/write, and every write.
bool CodeExists(std::uint8_t instruction)
{
    const unsigned code = Code(instruction);
    return code == 0x2 || code == 0x3 || code == 0x7 || code >= 0x8;
}

bool IsReadModifyWrite(std::uint8_t instruction) { return Code(instruction) == 0x7; }

std::uint32_t Field24(const std::uint8_t *at) { return (std::uint32_t{at[0]} << 16) | (std::uint32_t{at[1]} << 8) | at[2]; }

struct Layout {
    std::size_t start = 0;        // the logical address after the path bytes
    std::size_t header_length = 0; // logical address through header CRC
    std::uint32_t data_length = 0; // the header's field (0 for a write reply)
    bool carries_data = false;     // a data field and data CRC follow the header
};

// The verdict the packet formats give, and where the fields lie.
int Judge(std::span<const std::uint8_t> bytes, Layout &layout)
{
    std::size_t start = 0;
    while (start < bytes.size() && bytes[start] < 32) {
        ++start;
    }
    layout.start = start;
    const std::span<const std::uint8_t> packet = bytes.subspan(start);
    if (packet.size() < 3) {
        return RMAP_CHECK_TOO_SHORT;
    }
    if (packet[1] != 0x01) {
        return RMAP_CHECK_PROTOCOL_ID;
    }
    const std::uint8_t instruction = packet[2];
    const bool command = (instruction & kCommandBit) != 0;
    const bool write = (instruction & kWriteBit) != 0;
    const bool rmw = IsReadModifyWrite(instruction);

    if (command) {
        layout.header_length = 16 + 4u * (instruction & 3u);
        if (packet.size() < layout.header_length) {
            return RMAP_CHECK_HEADER_TRUNCATED;
        }
        if (RmapCrc(packet.first(layout.header_length)) != 0) {
            return RMAP_CHECK_HEADER_CRC;
        }
        if ((instruction & 0x80u) != 0) {
            return RMAP_CHECK_RESERVED_BIT;
        }
        if (!CodeExists(instruction)) {
            return RMAP_CHECK_COMMAND_CODE;
        }
        layout.data_length = Field24(&packet[layout.header_length - 4]);
        layout.carries_data = write || rmw;
    } else {
        if ((instruction & 0x80u) != 0) {
            return RMAP_CHECK_RESERVED_BIT;
        }
        if (!CodeExists(instruction) || (instruction & kReplyBit) == 0) {
            return RMAP_CHECK_COMMAND_CODE;
        }
        layout.header_length = write ? 8 : 12;
        if (packet.size() < layout.header_length) {
            return RMAP_CHECK_HEADER_TRUNCATED;
        }
        if (RmapCrc(packet.first(layout.header_length)) != 0) {
            return RMAP_CHECK_HEADER_CRC;
        }
        layout.data_length = write ? 0 : Field24(&packet[8]);
        layout.carries_data = !write;
    }

    const std::size_t rest = packet.size() - layout.header_length;
    if (!layout.carries_data) {
        return rest == 0 ? RMAP_CHECK_OK : RMAP_CHECK_TOO_LONG;
    }
    const std::uint64_t needed = std::uint64_t{layout.data_length} + 1;
    if (rest < needed) {
        return RMAP_CHECK_DATA_TRUNCATED;
    }
    if (rest > needed) {
        return RMAP_CHECK_TOO_LONG;
    }
    if (RmapCrc(packet.subspan(layout.header_length)) != 0) {
        return RMAP_CHECK_DATA_CRC;
    }
    if (rmw && (command ? (layout.data_length > 8 || layout.data_length % 2 != 0) : layout.data_length > 4)) {
        return RMAP_CHECK_READ_MODIFY_WRITE_LENGTH;
    }
    return RMAP_CHECK_OK;
}

bool Within(std::span<const std::uint8_t> bytes, const unsigned char *pointer, unsigned long long count)
{
    if (count == 0) {
        return true;
    }
    if (pointer == nullptr || pointer < bytes.data()) {
        return false;
    }
    const auto offset = static_cast<std::size_t>(pointer - bytes.data());
    return offset <= bytes.size() && count <= bytes.size() - offset;
}

// Reads every byte, so that AddressSanitizer sees a pointer past the packet.
std::uint8_t Touch(const unsigned char *pointer, unsigned long long count)
{
    std::uint8_t sum = 0;
    for (unsigned long long i = 0; i < count; ++i) {
        sum = static_cast<std::uint8_t>(sum + pointer[i]);
    }
    return sum;
}

void CheckCleared(const RmapPacketInfo &info)
{
    FUZZ_CHECK(RMAP_GetPacketType(&info) == RMAP_PACKET_TYPE_INVALID);
    unsigned long long length = 1;
    FUZZ_CHECK(RMAP_GetReplyAddress(&info, &length) == nullptr && length == 0);
    length = 1;
    FUZZ_CHECK(RMAP_GetTargetAddress(&info, &length) == nullptr && length == 0);
    unsigned int count = 1;
    FUZZ_CHECK(RMAP_GetData(&info, &count) == nullptr && count == 0);
    FUZZ_CHECK(RMAP_GetVerifyBeforeWrite(&info) == 0 && RMAP_GetIncrementAddress(&info) == 0);
    FUZZ_CHECK(RMAP_GetStatus(&info) == 0 && RMAP_GetTransactionID(&info) == 0);
    FUZZ_CHECK(RMAP_GetHeaderCRC(&info) == 0 && RMAP_GetDataCRC(&info) == 0);
    FUZZ_CHECK(info.packet == nullptr && info.packet_length == 0 && info.header_crc_location == nullptr &&
               info.data_crc_location == nullptr && info.data_length == 0 && info.key == 0 &&
               info.address == 0 && info.extended_address == 0 && info.instruction == 0);
}

void CheckDescription(std::span<const std::uint8_t> bytes, const Layout &layout, const RmapPacketInfo &info)
{
    const std::uint8_t *header = bytes.data() + layout.start;
    const std::uint8_t instruction = header[2];
    const bool command = (instruction & kCommandBit) != 0;
    const bool write = (instruction & kWriteBit) != 0;
    const bool rmw = IsReadModifyWrite(instruction);
    const int kind = write ? 32 : rmw ? 16 : 0;
    FUZZ_CHECK(RMAP_GetPacketType(&info) == (command ? kind + 64 : kind));
    FUZZ_CHECK(info.instruction == instruction);
    FUZZ_CHECK(info.packet == bytes.data() && info.packet_length == bytes.size());
    FUZZ_CHECK(info.header_crc_location == nullptr && info.data_crc_location == nullptr);
    FUZZ_CHECK(RMAP_GetVerifyBeforeWrite(&info) == ((instruction >> 4) & 1u));
    FUZZ_CHECK(RMAP_GetIncrementAddress(&info) == ((instruction >> 2) & 1u));
    FUZZ_CHECK(RMAP_GetHeaderCRC(&info) == header[layout.header_length - 1]);

    unsigned long long reply_length = 0;
    const unsigned char *reply = RMAP_GetReplyAddress(&info, &reply_length);
    unsigned long long target_length = 0;
    const unsigned char *target = RMAP_GetTargetAddress(&info, &target_length);
    unsigned int data_count = 0;
    const unsigned char *data = RMAP_GetData(&info, &data_count);
    FUZZ_CHECK(Within(bytes, reply, reply_length) && Within(bytes, target, target_length) &&
               Within(bytes, data, data_count));
    volatile std::uint8_t sink = 0;
    sink = static_cast<std::uint8_t>(sink + Touch(reply, reply_length) + Touch(target, target_length) +
                                     Touch(data, data_count));

    if (command) {
        const std::size_t words = instruction & 3u;
        const std::uint8_t *after_reply = header + 4 + 4 * words; // initiator logical address
        FUZZ_CHECK(target == bytes.data() && target_length == layout.start + 1);
        FUZZ_CHECK(reply_length >= 1 && reply + reply_length - 1 == after_reply);
        // Zero bytes in front of the reply path are padding, not path.
        for (const unsigned char *p = header + 4; p < reply; ++p) {
            FUZZ_CHECK(*p == 0);
        }
        // A path begins with a non-zero byte, except that a field of zeros only is the path 00.
        const bool all_zeros = std::all_of(header + 4, after_reply, [](std::uint8_t b) { return b == 0; });
        FUZZ_CHECK(reply == after_reply || *reply != 0 || (all_zeros && reply + 1 == after_reply));
        FUZZ_CHECK(info.key == header[3]);
        FUZZ_CHECK(RMAP_GetStatus(&info) == 0);
        FUZZ_CHECK(RMAP_GetTransactionID(&info) == ((after_reply[1] << 8) | after_reply[2]));
        FUZZ_CHECK(info.extended_address == after_reply[3]);
        FUZZ_CHECK(info.address == ((std::uint32_t{after_reply[4]} << 24) | (std::uint32_t{after_reply[5]} << 16) |
                                    (std::uint32_t{after_reply[6]} << 8) | after_reply[7]));
        FUZZ_CHECK(info.data_length == layout.data_length);
    } else {
        FUZZ_CHECK(reply == bytes.data() && reply_length == layout.start + 1);
        FUZZ_CHECK(target == header + 4 && target_length == 1);
        FUZZ_CHECK(RMAP_GetStatus(&info) == header[3]);
        FUZZ_CHECK(RMAP_GetTransactionID(&info) == ((header[5] << 8) | header[6]));
        FUZZ_CHECK(info.key == 0 && info.address == 0 && info.extended_address == 0);
        FUZZ_CHECK(info.data_length == layout.data_length);
    }

    if (layout.carries_data) {
        FUZZ_CHECK(data_count == layout.data_length);
        FUZZ_CHECK(data_count == 0 || data == header + layout.header_length);
        FUZZ_CHECK(RMAP_GetDataCRC(&info) == bytes.back());
        FUZZ_CHECK(RmapCrc(std::span<const std::uint8_t>(header + layout.header_length, data_count)) ==
                   RMAP_GetDataCRC(&info));
    } else {
        FUZZ_CHECK(data_count == 0 && RMAP_GetDataCRC(&info) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 0xFFFFFFFFu) {
        return -1;
    }
    const std::span<const std::uint8_t> bytes(data, size);
    const auto length = static_cast<unsigned int>(size);

    // Garbage in every field first: a field the check forgets to set shows.
    RmapPacketInfo info;
    std::memset(&info, 0xA5, sizeof info);
    const int result = RMAP_CheckPacketValid(data, length, &info, 1);
    FUZZ_CHECK(RMAP_CheckPacketValid(data, length, nullptr, 1) == result);

    Layout layout;
    const int expected = Judge(bytes, layout);
    if (result != expected) {
        std::fprintf(stderr, "verdict %d, expected %d\n", result, expected);
    }
    FUZZ_CHECK(result == expected);
    if (result == RMAP_CHECK_OK) {
        CheckDescription(bytes, layout, info);
    } else {
        CheckCleared(info);
    }
    return 0;
}
