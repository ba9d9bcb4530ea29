#include "byte_cursor.h"
#include "command_parse.h"
#include "device/quill_rmap.h"
#include "packet_info.h"
#include "rmap_format.h"

namespace quill_rmap::detail {
namespace {

int PacketTypeOf(std::uint8_t instruction) {
    const int kind = (instruction & kWriteBit) != 0 ? RMAP_PACKET_TYPE_WRITE_REPLY
                     : IsReadModifyWrite(instruction) ? RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY
                                                      : RMAP_PACKET_TYPE_READ_REPLY;
    return (instruction & kCommandBit) != 0 ? kind + RMAP_PACKET_TYPE_READ_COMMAND : kind;
}

void DescribeInstruction(std::uint8_t instruction, RmapPacketInfo &info) {
    info.instruction = instruction;
    info.packet_type = PacketTypeOf(instruction);
}

// The description of a packet found sound starts from a cleared record and is
// written into the caller's record directly: a record built aside and copied
// over cost as much as the checks.  Nothing is written before every check has
// passed.
RmapPacketInfo &Describe(std::span<const std::uint8_t> whole, RmapPacketInfo &info) {
    ClearPacketInfo(info);
    info.packet = whole.data();
    info.packet_length = static_cast<unsigned int>(whole.size());
    return info;
}

// whole: every byte given; header_start: where the logical address stands.
int CheckCommand(std::span<const std::uint8_t> whole, std::size_t header_start, RmapPacketInfo *info) {
    const std::span<const std::uint8_t> packet = whole.subspan(header_start);
    Command command;
    std::size_t header_length = 0;
    const int result = ParseCommand(packet, command, header_length);
    if (result != RMAP_CHECK_OK || info == nullptr) return result;

    // The reply path and the initiator logical address stand side by side.
    // The reply path ends right at the initiator logical address, which is
    // followed by 11 more header bytes.
    const std::size_t reply_address_length = ReplyPath(command).size() + 1;
    const std::uint8_t header_crc = packet[header_length - 1];
    const bool has_data = header_length < packet.size();
    const std::uint8_t data_crc = has_data ? packet.back() : 0;
    RmapPacketInfo &described = Describe(whole, *info);
    DescribeInstruction(command.instruction, described);
    described.key = command.key;
    described.transaction_id = command.transaction_id;
    described.extended_address = command.extended_address;
    described.address = command.address;
    described.data_length = command.data_length;
    described.target_address = whole.data();
    described.target_address_length = header_start + 1;
    described.reply_address = packet.data() + (header_length - 11 - reply_address_length);
    described.reply_address_length = reply_address_length;
    described.header_crc = header_crc;
    if (has_data) {
        described.data = packet.data() + header_length;
        described.data_count = command.data_length;
        described.data_crc = data_crc;
    }
    return RMAP_CHECK_OK;
}

int CheckReply(std::span<const std::uint8_t> whole, std::size_t header_start, RmapPacketInfo *info) {
    const std::span<const std::uint8_t> packet = whole.subspan(header_start);
    const std::uint8_t instruction = packet[2];
    if ((instruction & kReservedBit) != 0) return RMAP_CHECK_RESERVED_BIT;
    if (!CommandCodeExists(instruction) || (instruction & kReplyBit) == 0) return RMAP_CHECK_COMMAND_CODE;
    const bool write = (instruction & kWriteBit) != 0;
    const std::size_t header_length = write ? kWriteReplyLength : kReadReplyHeaderLength;
    if (packet.size() < header_length) return RMAP_CHECK_HEADER_TRUNCATED;
    if (Crc8(packet.first(header_length)) != 0) return RMAP_CHECK_HEADER_CRC;

    ByteReader reader(packet);
    std::uint8_t initiator = 0, protocol_id = 0, instruction_again = 0, status = 0, target = 0, reserved = 0;
    std::uint8_t header_crc = 0;
    std::uint16_t transaction_id = 0;
    std::uint32_t data_length = 0;
    bool ok = reader.ReadU8(initiator) && reader.ReadU8(protocol_id) && reader.ReadU8(instruction_again) &&
              reader.ReadU8(status) && reader.ReadU8(target) && reader.ReadU16(transaction_id);
    if (!write) ok = ok && reader.ReadU8(reserved) && reader.ReadU24(data_length);
    ok = ok && reader.ReadU8(header_crc);
    if (!ok) return RMAP_CHECK_HEADER_TRUNCATED; // cannot happen: the length was checked above

    const std::size_t rest = reader.Remaining();
    if (write) {
        if (rest != 0) return RMAP_CHECK_TOO_LONG;
    } else {
        const std::uint64_t needed = std::uint64_t{data_length} + 1;
        if (rest < needed) return RMAP_CHECK_DATA_TRUNCATED;
        if (rest > needed) return RMAP_CHECK_TOO_LONG;
        if (Crc8(packet.subspan(header_length)) != 0) return RMAP_CHECK_DATA_CRC;
        if (IsReadModifyWrite(instruction) && data_length > kMaxReadModifyWriteReplyLength)
            return RMAP_CHECK_READ_MODIFY_WRITE_LENGTH;
    }
    if (info == nullptr) return RMAP_CHECK_OK;

    const std::uint8_t data_crc = write ? 0 : packet.back();
    RmapPacketInfo &described = Describe(whole, *info);
    described.status = status;
    described.transaction_id = transaction_id;
    described.header_crc = header_crc;
    if (!write) {
        described.data = packet.data() + header_length;
        described.data_count = data_length;
        described.data_length = data_length;
        described.data_crc = data_crc;
    }
    DescribeInstruction(instruction, described);
    described.target_address = packet.data() + 4;
    described.target_address_length = 1;
    described.reply_address = whole.data();
    described.reply_address_length = header_start + 1;
    return RMAP_CHECK_OK;
}

int Check(const void *bytes, unsigned int length, RmapPacketInfo *info) {
    if (bytes == nullptr) return length == 0 ? RMAP_CHECK_TOO_SHORT : RMAP_CHECK_NULL_BYTES;
    const std::span<const std::uint8_t> whole(static_cast<const std::uint8_t *>(bytes), length);
    std::size_t header_start = 0;
    while (header_start < whole.size() && whole[header_start] < kFirstLogicalAddress) ++header_start;
    if (whole.size() - header_start < 3) return RMAP_CHECK_TOO_SHORT;
    if (whole[header_start + 1] != kProtocolId) return RMAP_CHECK_PROTOCOL_ID;
    return (whole[header_start + 2] & kCommandBit) != 0 ? CheckCommand(whole, header_start, info)
                                                        : CheckReply(whole, header_start, info);
}

} // namespace
} // namespace quill_rmap::detail

extern "C" int RMAP_CheckPacketValid(const void *bytes, unsigned int length, RmapPacketInfo *info,
                                     unsigned char /*always_one*/) {
    const int result = quill_rmap::detail::Check(bytes, length, info);
    if (result != RMAP_CHECK_OK && info != nullptr) quill_rmap::detail::ClearPacketInfo(*info);
    return result;
}
