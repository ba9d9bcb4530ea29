#include "device/quill_rmap.h"
#include "byte_cursor.h"
#include "command_parse.h"
#include "rmap_format.h"

namespace quill_rmap {
namespace detail {

int ParseCommand(std::span<const std::uint8_t> packet, Command &command, std::size_t &header_length) {
    command = Command{};
    header_length = 0;
    if (packet.size() < 3) return RMAP_CHECK_TOO_SHORT;
    if (packet[1] != kProtocolId) return RMAP_CHECK_PROTOCOL_ID;
    const std::uint8_t instruction = packet[2];
    if ((instruction & kCommandBit) == 0) return kNotACommand;
    const std::size_t length = CommandHeaderLength(instruction);
    if (packet.size() < length) return RMAP_CHECK_HEADER_TRUNCATED;
    header_length = length;

    ByteReader reader(packet);
    std::uint8_t protocol_id = 0;
    bool ok = reader.ReadU8(command.target_logical_address) && reader.ReadU8(protocol_id) &&
              reader.ReadU8(command.instruction) && reader.ReadU8(command.key) &&
              reader.Take(ReplyAddressFieldLength(instruction), command.reply_address_field) &&
              reader.ReadU8(command.initiator_logical_address) && reader.ReadU16(command.transaction_id) &&
              reader.ReadU8(command.extended_address) && reader.ReadU32(command.address) &&
              reader.ReadU24(command.data_length);
    std::uint8_t header_crc = 0;
    ok = ok && reader.ReadU8(header_crc);
    if (!ok) return RMAP_CHECK_HEADER_TRUNCATED; // cannot happen: the length was checked above
    command.write = (instruction & kWriteBit) != 0;
    command.verify = (instruction & kVerifyBit) != 0;
    command.reply = (instruction & kReplyBit) != 0;
    command.increment = (instruction & kIncrementBit) != 0;
    command.read_modify_write = IsReadModifyWrite(instruction);

    // Running the CRC over the header and its own CRC byte leaves zero.
    if (Crc8(packet.first(length)) != 0) return RMAP_CHECK_HEADER_CRC;
    if ((instruction & kReservedBit) != 0) return RMAP_CHECK_RESERVED_BIT;
    if (!CommandCodeExists(instruction)) return RMAP_CHECK_COMMAND_CODE;

    const std::size_t rest = reader.Remaining();
    if (!command.write && !command.read_modify_write) return rest == 0 ? RMAP_CHECK_OK : RMAP_CHECK_TOO_LONG;

    // Data length plus its CRC, in 64 bits: a 24-bit length near the top
    // must not wrap.
    const std::uint64_t needed = std::uint64_t{command.data_length} + 1;
    if (rest < needed) return RMAP_CHECK_DATA_TRUNCATED;
    if (rest > needed) return RMAP_CHECK_TOO_LONG;
    std::span<const std::uint8_t> data;
    reader.Take(command.data_length, data);
    // The data is handed over even when its CRC is wrong: a target that
    // writes without verifying has stored it by the time the CRC arrives.
    const bool length_ok = !command.read_modify_write || IsReadModifyWriteCommandLength(command.data_length);
    if (!command.read_modify_write) {
        command.data = data;
    } else if (length_ok) {
        command.data = data.first(data.size() / 2);
        command.mask = data.subspan(data.size() / 2);
    }
    if (Crc8(packet.subspan(length)) != 0) return RMAP_CHECK_DATA_CRC;
    return length_ok ? RMAP_CHECK_OK : RMAP_CHECK_READ_MODIFY_WRITE_LENGTH;
}

} // namespace detail

CommandCheck DecodeCommand(std::span<const std::uint8_t> packet, Command &command) {
    std::size_t header_length = 0;
    switch (detail::ParseCommand(packet, command, header_length)) {
    case RMAP_CHECK_OK:
        return CommandCheck::Ok;
    case RMAP_CHECK_HEADER_CRC:
        return CommandCheck::HeaderCrcError;
    case RMAP_CHECK_RESERVED_BIT:
    case RMAP_CHECK_COMMAND_CODE:
        return CommandCheck::InvalidCommandCode;
    case RMAP_CHECK_DATA_TRUNCATED:
        return CommandCheck::EarlyEop;
    case RMAP_CHECK_TOO_LONG:
        return CommandCheck::TooMuchData;
    case RMAP_CHECK_DATA_CRC:
        return CommandCheck::DataCrcError;
    case RMAP_CHECK_READ_MODIFY_WRITE_LENGTH:
        return CommandCheck::RmwLengthError;
    default:
        return CommandCheck::NotACommand;
    }
}

std::span<const std::uint8_t> ReplyPath(const Command &command) {
    std::span<const std::uint8_t> field = command.reply_address_field;
    // A field of zeros only is the one-byte path 00 (a router's port 0), not
    // no path at all: the last zero always stays.
    std::size_t padding = 0;
    while (padding + 1 < field.size() && field[padding] == 0) ++padding;
    return field.subspan(padding);
}

} // namespace quill_rmap
