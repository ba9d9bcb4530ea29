#include "reply_faults.h"

#include <span>

#include "quill_rmap_target.h"

namespace vantor_sim {
namespace {

// Header lengths with their CRC, as the target builds them.
constexpr std::size_t kWriteReplyHeader = 8;
constexpr std::size_t kReadReplyHeader = 12;
constexpr std::size_t kTransactionAt = 5; // most significant byte; the least follows

void FlipByte(std::vector<std::uint8_t> &bytes, std::size_t at)
{
    if (at < bytes.size()) {
        bytes[at] = static_cast<std::uint8_t>(~bytes[at]);
    }
}

void BumpTransaction(std::vector<std::uint8_t> &bytes, std::size_t header)
{
    if (bytes.size() < header) {
        return;
    }
    auto id = static_cast<std::uint16_t>((bytes[kTransactionAt] << 8) | bytes[kTransactionAt + 1]);
    ++id; // wraps to 0 after 0xffff
    bytes[kTransactionAt] = static_cast<std::uint8_t>(id >> 8);
    bytes[kTransactionAt + 1] = static_cast<std::uint8_t>(id);
    bytes[header - 1] = quill_rmap::Crc8(std::span<const std::uint8_t>(bytes).first(header - 1));
}

} // namespace

bool IsFaultyReply(const Settings &settings, std::uint64_t number)
{
    return settings.reply_fault != ReplyFault::None && number % settings.reply_fault_every == 0;
}

std::vector<Packet> ApplyReplyFault(ReplyFault fault, std::vector<std::uint8_t> reply, bool has_data_field)
{
    const std::size_t header = has_data_field ? kReadReplyHeader : kWriteReplyHeader;
    int eop = VANTOR_EOP_EOP;
    switch (fault) {
    case ReplyFault::None:
        break;
    case ReplyFault::HeaderCrc:
        FlipByte(reply, header - 1);
        break;
    case ReplyFault::DataCrc:
        if (has_data_field && !reply.empty()) {
            FlipByte(reply, reply.size() - 1);
        }
        break;
    case ReplyFault::Truncate:
        if (!reply.empty()) {
            reply.pop_back();
        }
        break;
    case ReplyFault::Pad:
        reply.push_back(0x00);
        break;
    case ReplyFault::TransactionId:
        BumpTransaction(reply, header);
        break;
    case ReplyFault::Eep:
        eop = VANTOR_EOP_EEP;
        break;
    case ReplyFault::Duplicate:
        return {Packet{reply, eop}, Packet{std::move(reply), eop}};
    case ReplyFault::Drop:
        return {};
    }
    std::vector<Packet> packets;
    packets.push_back(Packet{std::move(reply), eop});
    return packets;
}

} // namespace vantor_sim
