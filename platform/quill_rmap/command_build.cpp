#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <span>

#include "byte_cursor.h"
#include "device/quill_rmap.h"
#include "packet_info.h"
#include "quill_rmap_target.h"
#include "rmap_format.h"

namespace quill_rmap::detail {
namespace {

// What the three command builders have in common.
struct CommandRequest {
    std::span<const std::uint8_t> target_address; // path, then target logical address
    std::span<const std::uint8_t> reply_address;  // reply path, then initiator logical address
    std::uint8_t instruction_bits = 0;            // write, verify, reply and increment bits
    std::uint8_t key = 0;
    std::uint16_t transaction_id = 0;
    std::uint32_t address = 0;
    std::uint8_t extended_address = 0;
    std::uint32_t data_length = 0;
    bool has_data = false;                        // write and read/modify/write carry data
    std::span<const std::uint8_t> data;           // data (and mask) in packet order
    std::span<const std::uint8_t> mask;
};

// A null pointer is an empty field when its count is 0, and unusable otherwise.
bool AsBytes(const unsigned char *bytes, std::size_t count, std::span<const std::uint8_t> &out) {
    if (count == 0) {
        out = {};
        return true;
    }
    if (bytes == nullptr) return false;
    out = std::span<const std::uint8_t>(bytes, count);
    return true;
}

unsigned char *Fail(unsigned int *packet_length, RmapPacketInfo *info) {
    if (packet_length != nullptr) *packet_length = 0;
    if (info != nullptr) ClearPacketInfo(*info);
    return nullptr;
}

// Built packets come from malloc and go back through RMAP_FreeBuffer.
struct FreePacket {
    void operator()(unsigned char *packet) const { std::free(packet); }
};

// Inlined into each builder, so that the request never exists in memory: a
// request built on the stack had to be cleared first, and clearing it cost
// as much as writing the packet.
[[gnu::always_inline]] inline unsigned char *Build(const CommandRequest &request, unsigned int *packet_length,
                                                   RmapPacketInfo *info) {
    if (request.target_address.empty() || request.reply_address.empty()) return Fail(packet_length, info);
    const std::size_t reply_path_length = request.reply_address.size() - 1;
    if (reply_path_length > kMaxReplyPathLength) return Fail(packet_length, info);
    if (request.data_length > kMaxDataLength) return Fail(packet_length, info);

    const std::size_t words = (reply_path_length + 3) / 4;
    const std::size_t field_length = 4 * words;
    const std::size_t header_start = request.target_address.size() - 1;
    const std::uint64_t header_end = std::uint64_t{header_start} + 16 + field_length;
    const std::uint64_t total =
        header_end + (request.has_data ? std::uint64_t{request.data.size()} + request.mask.size() + 1 : 0);
    if (total > std::numeric_limits<unsigned int>::max()) return Fail(packet_length, info);

    std::unique_ptr<unsigned char, FreePacket> packet(static_cast<unsigned char *>(std::malloc(total)));
    if (!packet) return Fail(packet_length, info);
    const std::span<std::uint8_t> bytes(packet.get(), total);

    const auto instruction =
        static_cast<std::uint8_t>(kCommandBit | request.instruction_bits | static_cast<std::uint8_t>(words));
    ByteWriter writer(bytes);
    writer.Bytes(request.target_address);
    writer.U8(kProtocolId);
    writer.U8(instruction);
    writer.U8(request.key);
    writer.Zeros(field_length - reply_path_length);
    writer.Bytes(request.reply_address);
    writer.U16(request.transaction_id);
    writer.U8(request.extended_address);
    writer.U32(request.address);
    writer.U24(request.data_length);
    const std::uint8_t header_crc = Crc8(bytes.subspan(header_start, header_end - 1 - header_start));
    writer.U8(header_crc);
    std::uint8_t data_crc = 0;
    if (request.has_data) {
        writer.Bytes(request.data);
        writer.Bytes(request.mask);
        data_crc = Crc8(bytes.subspan(header_end, total - header_end - 1));
        writer.U8(data_crc);
    }
    if (!writer.Full()) return Fail(packet_length, info);

    if (packet_length != nullptr) *packet_length = static_cast<unsigned int>(total);
    if (info != nullptr) {
        // Read back as a received command would be: leading zero bytes of the
        // reply path are padding, except a last one (the field holds zeros only).
        std::size_t skipped = 0;
        while (skipped + 1 < reply_path_length && request.reply_address[skipped] == 0) ++skipped;
        // Filled in the caller's record itself: a record built aside and
        // copied over cost more than the rest of the build.
        RmapPacketInfo &described = *info;
        ClearPacketInfo(described);
        described.packet_type = (instruction & kWriteBit) != 0 ? RMAP_PACKET_TYPE_WRITE_COMMAND
                                : IsReadModifyWrite(instruction) ? RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND
                                                                 : RMAP_PACKET_TYPE_READ_COMMAND;
        described.instruction = instruction;
        described.key = request.key;
        described.transaction_id = request.transaction_id;
        described.extended_address = request.extended_address;
        described.address = request.address;
        described.data_length = request.data_length;
        described.packet = packet.get();
        described.packet_length = static_cast<unsigned int>(total);
        described.target_address = packet.get();
        described.target_address_length = request.target_address.size();
        described.reply_address = packet.get() + header_start + 4 + field_length - reply_path_length + skipped;
        described.reply_address_length = request.reply_address.size() - skipped;
        described.header_crc = header_crc;
        described.header_crc_location = packet.get() + header_end - 1;
        if (request.has_data) {
            described.data = packet.get() + header_end;
            described.data_count = static_cast<unsigned int>(total - header_end - 1);
            described.data_crc = data_crc;
            described.data_crc_location = packet.get() + total - 1;
        }
    }
    return packet.release();
}

} // namespace
} // namespace quill_rmap::detail

using quill_rmap::detail::AsBytes;
using quill_rmap::detail::CommandRequest;
using quill_rmap::detail::Fail;

extern "C" {

unsigned char *RMAP_BuildWriteCommandPacket(
    const unsigned char *target_address, unsigned int target_address_length,
    const unsigned char *reply_address, unsigned char reply_address_length,
    unsigned char verify, unsigned char acknowledge, unsigned char increment,
    unsigned char key, unsigned short transaction_id, unsigned int address,
    unsigned char extended_address, const unsigned char *data, unsigned int data_length,
    unsigned int *packet_length, RmapPacketInfo *info, unsigned char /*always_one*/) {
    using namespace quill_rmap::detail;
    CommandRequest request;
    if (!AsBytes(target_address, target_address_length, request.target_address) ||
        !AsBytes(reply_address, reply_address_length, request.reply_address) ||
        data_length > kMaxDataLength || !AsBytes(data, data_length, request.data))
        return Fail(packet_length, info);
    request.instruction_bits = static_cast<std::uint8_t>(kWriteBit | (verify != 0 ? kVerifyBit : 0) |
                                                         (acknowledge != 0 ? kReplyBit : 0) |
                                                         (increment != 0 ? kIncrementBit : 0));
    request.key = key;
    request.transaction_id = transaction_id;
    request.address = address;
    request.extended_address = extended_address;
    request.data_length = data_length;
    request.has_data = true;
    return Build(request, packet_length, info);
}

unsigned char *RMAP_BuildReadCommandPacket(
    const unsigned char *target_address, unsigned int target_address_length,
    const unsigned char *reply_address, unsigned char reply_address_length,
    unsigned char increment, unsigned char key, unsigned short transaction_id,
    unsigned int address, unsigned char extended_address, unsigned int read_length,
    unsigned int *packet_length, RmapPacketInfo *info, unsigned char /*always_one*/) {
    using namespace quill_rmap::detail;
    CommandRequest request;
    if (!AsBytes(target_address, target_address_length, request.target_address) ||
        !AsBytes(reply_address, reply_address_length, request.reply_address))
        return Fail(packet_length, info);
    request.instruction_bits = static_cast<std::uint8_t>(kReplyBit | (increment != 0 ? kIncrementBit : 0));
    request.key = key;
    request.transaction_id = transaction_id;
    request.address = address;
    request.extended_address = extended_address;
    request.data_length = read_length;
    return Build(request, packet_length, info);
}

unsigned char *RMAP_BuildReadModifyWriteCommandPacket(
    const unsigned char *target_address, unsigned int target_address_length,
    const unsigned char *reply_address, unsigned char reply_address_length,
    unsigned char key, unsigned short transaction_id, unsigned int address,
    unsigned char extended_address, unsigned char data_length,
    const unsigned char *data, const unsigned char *mask,
    unsigned int *packet_length, RmapPacketInfo *info, unsigned char /*always_one*/) {
    using namespace quill_rmap::detail;
    CommandRequest request;
    if (!IsReadModifyWriteCommandLength(data_length) ||
        !AsBytes(target_address, target_address_length, request.target_address) ||
        !AsBytes(reply_address, reply_address_length, request.reply_address) ||
        !AsBytes(data, data_length / 2u, request.data) || !AsBytes(mask, data_length / 2u, request.mask))
        return Fail(packet_length, info);
    request.instruction_bits = static_cast<std::uint8_t>(kVerifyBit | kReplyBit | kIncrementBit);
    request.key = key;
    request.transaction_id = transaction_id;
    request.address = address;
    request.extended_address = extended_address;
    request.data_length = data_length;
    request.has_data = true;
    return Build(request, packet_length, info);
}

void RMAP_FreeBuffer(unsigned char *packet) { std::free(packet); }

} // extern "C"
