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

// whole: every byte given; header_start: where the logical address stands.
int CheckCommand(std::span<const std::uint8_t> whole, std::size_t header_start, RmapPacketInfo &info) {
    const std::span<const std::uint8_t> packet = whole.subspan(header_start);
    Command command;
    std::size_t header_length = 0;
    const int result = ParseCommand(packet, command, header_length);
    if (result != RMAP_CHECK_OK) return result;

    DescribeInstruction(command.instruction, info);
    info.key = command.key;
    info.transaction_id = command.transaction_id;
    info.extended_address = command.extended_address;
    info.address = command.address;
    info.data_length = command.data_length;
    info.target_address = whole.data();
    info.target_address_length = header_start + 1;
    // The reply path and the initiator logical address stand side by side.
    // The reply path ends right at the initiator logical address, which is
    // followed by 11 more header bytes.
    const std::size_t reply_address_length = ReplyPath(command).size() + 1;
    info.reply_address = packet.data() + (header_length - 11 - reply_address_length);
    info.reply_address_length = reply_address_length;
    info.header_crc = packet[header_length - 1];
    if (header_length < packet.size()) {
        info.data = packet.data() + header_length;
        info.data_count = command.data_length;
        info.data_crc = packet.back();
    }
    return RMAP_CHECK_OK;
}

int CheckReply(std::span<const std::uint8_t> whole, std::size_t header_start, RmapPacketInfo &info) {
    const std::span<const std::uint8_t> packet = whole.subspan(header_start);
    const std::uint8_t instruction = packet[2];
    if ((instruction & kReservedBit) != 0) return RMAP_CHECK_RESERVED_BIT;
    if (!CommandCodeExists(instruction) || (instruction & kReplyBit) == 0) return RMAP_CHECK_COMMAND_CODE;
    const bool write = (instruction & kWriteBit) != 0;
    const std::size_t header_length = write ? kWriteReplyLength : kReadReplyHeaderLength;
    if (packet.size() < header_length) return RMAP_CHECK_HEADER_TRUNCATED;
    if (Crc8(packet.first(header_length)) != 0) return RMAP_CHECK_HEADER_CRC;

    ByteReader reader(packet);
    std::uint8_t initiator = 0, protocol_id = 0, instruction_again = 0, target = 0, reserved = 0;
    std::uint32_t data_length = 0;
    bool ok = reader.ReadU8(initiator) && reader.ReadU8(protocol_id) && reader.ReadU8(instruction_again) &&
              reader.ReadU8(info.status) && reader.ReadU8(target) && reader.ReadU16(info.transaction_id);
    if (!write) ok = ok && reader.ReadU8(reserved) && reader.ReadU24(data_length);
    ok = ok && reader.ReadU8(info.header_crc);
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
        info.data = packet.data() + header_length;
        info.data_count = data_length;
        info.data_length = data_length;
        info.data_crc = packet.back();
    }
    DescribeInstruction(instruction, info);
    info.target_address = packet.data() + 4;
    info.target_address_length = 1;
    info.reply_address = whole.data();
    info.reply_address_length = header_start + 1;
    return RMAP_CHECK_OK;
}

int Check(const void *bytes, unsigned int length, RmapPacketInfo &info) {
    if (bytes == nullptr) return length == 0 ? RMAP_CHECK_TOO_SHORT : RMAP_CHECK_NULL_BYTES;
    const std::span<const std::uint8_t> whole(static_cast<const std::uint8_t *>(bytes), length);
    std::size_t header_start = 0;
    while (header_start < whole.size() && whole[header_start] < kFirstLogicalAddress) ++header_start;
    if (whole.size() - header_start < 3) return RMAP_CHECK_TOO_SHORT;
    if (whole[header_start + 1] != kProtocolId) return RMAP_CHECK_PROTOCOL_ID;
    info.packet = whole.data();
    info.packet_length = length;
    return (whole[header_start + 2] & kCommandBit) != 0 ? CheckCommand(whole, header_start, info)
                                                        : CheckReply(whole, header_start, info);
}

} // namespace
} // namespace quill_rmap::detail

extern "C" int RMAP_CheckPacketValid(const void *bytes, unsigned int length, RmapPacketInfo *info,
                                     unsigned char /*always_one*/) {
    RmapPacketInfo described = quill_rmap::detail::EmptyPacketInfo();
    const int result = quill_rmap::detail::Check(bytes, length, described);
    if (info != nullptr) *info = result == RMAP_CHECK_OK ? described : quill_rmap::detail::EmptyPacketInfo();
    return result;
}
