#include <algorithm>

#include "byte_cursor.h"
#include "quill_rmap_target.h"
#include "rmap_format.h"

namespace quill_rmap {
namespace {

// A reply keeps the command's instruction bits but is marked as a reply; the
// reserved bit is cleared too, since a reply's packet type is always 00.
std::uint8_t ReplyInstruction(const Command &command) {
    return static_cast<std::uint8_t>(command.instruction & ~(detail::kReservedBit | detail::kCommandBit));
}

} // namespace

std::vector<std::uint8_t> BuildWriteReply(const Command &command, std::uint8_t status) {
    std::vector<std::uint8_t> reply;
    BuildWriteReply(command, status, reply);
    return reply;
}

std::vector<std::uint8_t> BuildReadReply(const Command &command, std::uint8_t status,
                                         std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> reply;
    BuildReadReply(command, status, data, reply);
    return reply;
}

void BuildWriteReply(const Command &command, std::uint8_t status, std::vector<std::uint8_t> &reply) {
    const std::span<const std::uint8_t> path = ReplyPath(command);
    reply.resize(path.size() + detail::kWriteReplyLength);
    detail::ByteWriter writer(reply);
    writer.Bytes(path);
    writer.U8(command.initiator_logical_address);
    writer.U8(detail::kProtocolId);
    writer.U8(ReplyInstruction(command));
    writer.U8(status);
    writer.U8(command.target_logical_address);
    writer.U16(command.transaction_id);
    writer.U8(Crc8(std::span<const std::uint8_t>(reply).subspan(path.size(), detail::kWriteReplyLength - 1)));
}

void BuildReadReply(const Command &command, std::uint8_t status, std::span<const std::uint8_t> data,
                    std::vector<std::uint8_t> &reply) {
    // A failed command returns no data; a length field cannot describe more
    // than 24 bits' worth.
    if (status != 0) data = {};
    data = data.first(std::min<std::size_t>(data.size(), detail::kMaxDataLength));

    const std::span<const std::uint8_t> path = ReplyPath(command);
    const std::size_t header_start = path.size();
    reply.resize(header_start + detail::kReadReplyHeaderLength + data.size() + 1);
    detail::ByteWriter writer(reply);
    writer.Bytes(path);
    writer.U8(command.initiator_logical_address);
    writer.U8(detail::kProtocolId);
    writer.U8(ReplyInstruction(command));
    writer.U8(status);
    writer.U8(command.target_logical_address);
    writer.U16(command.transaction_id);
    writer.U8(0);
    writer.U24(static_cast<std::uint32_t>(data.size()));
    const std::span<const std::uint8_t> bytes(reply);
    writer.U8(Crc8(bytes.subspan(header_start, detail::kReadReplyHeaderLength - 1)));
    writer.Bytes(data);
    writer.U8(Crc8(data));
}

} // namespace quill_rmap
