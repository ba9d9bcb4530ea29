// RMAP packets put together byte by byte from the packet formats, so that
// the target is checked against the formats and not against its own codec.
#ifndef ZARK_TESTS_PLATFORM_VANTOR_HAND_RMAP_H
#define ZARK_TESTS_PLATFORM_VANTOR_HAND_RMAP_H

#include <cstdint>
#include <vector>

namespace hand_rmap {

using Bytes = std::vector<std::uint8_t>;

// Instruction bytes of commands.
constexpr std::uint8_t kCommand = 0x40;
constexpr std::uint8_t kWrite = 0x20;
constexpr std::uint8_t kVerify = 0x10;
constexpr std::uint8_t kReply = 0x08;
constexpr std::uint8_t kIncrement = 0x04;
constexpr std::uint8_t kReadIncrementing = kCommand | kReply | kIncrement;      // 0x4c
constexpr std::uint8_t kReadSingle = kCommand | kReply;                         // 0x48
constexpr std::uint8_t kReadModifyWrite = kCommand | kVerify | kReply | kIncrement; // 0x5c

// Bit by bit, least significant bit first, with the reflected polynomial.
inline std::uint8_t Crc(const Bytes &bytes, std::size_t from = 0, std::size_t to = SIZE_MAX)
{
    std::uint8_t crc = 0;
    for (std::size_t i = from; i < bytes.size() && i < to; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint8_t>((crc >> 1) ^ 0xe0) : static_cast<std::uint8_t>(crc >> 1);
        }
    }
    return crc;
}

struct CommandFields {
    Bytes path{};                // in front, not covered by the header CRC
    std::uint8_t target = 0xfe;
    std::uint8_t instruction = kReadIncrementing;
    std::uint8_t key = 0x00;
    Bytes reply_field{};         // 0, 4, 8 or 12 bytes; the instruction's low bits must match
    std::uint8_t initiator = 0x67;
    std::uint16_t transaction = 0x1234;
    std::uint8_t extended = 0x00;
    std::uint32_t address = 0;
    std::uint32_t length = 0;
};

// The header, its CRC included, behind the path.
inline Bytes Header(const CommandFields &f)
{
    Bytes packet = f.path;
    std::size_t start = packet.size();
    packet.insert(packet.end(), {f.target, 0x01, f.instruction, f.key});
    packet.insert(packet.end(), f.reply_field.begin(), f.reply_field.end());
    packet.insert(packet.end(),
                  {f.initiator, static_cast<std::uint8_t>(f.transaction >> 8), static_cast<std::uint8_t>(f.transaction),
                   f.extended, static_cast<std::uint8_t>(f.address >> 24), static_cast<std::uint8_t>(f.address >> 16),
                   static_cast<std::uint8_t>(f.address >> 8), static_cast<std::uint8_t>(f.address),
                   static_cast<std::uint8_t>(f.length >> 16), static_cast<std::uint8_t>(f.length >> 8),
                   static_cast<std::uint8_t>(f.length)});
    packet.push_back(Crc(packet, start));
    return packet;
}

// Header, data and data CRC; length is taken from the data.
inline Bytes WithData(CommandFields f, const Bytes &data)
{
    f.length = static_cast<std::uint32_t>(data.size());
    Bytes packet = Header(f);
    packet.insert(packet.end(), data.begin(), data.end());
    packet.push_back(Crc(data));
    return packet;
}

inline Bytes WriteReply(const CommandFields &f, std::uint8_t status)
{
    Bytes reply{f.initiator, 0x01, static_cast<std::uint8_t>(f.instruction & 0x3f), status, f.target,
                static_cast<std::uint8_t>(f.transaction >> 8), static_cast<std::uint8_t>(f.transaction)};
    reply.push_back(Crc(reply));
    return reply;
}

inline Bytes ReadReply(const CommandFields &f, std::uint8_t status, const Bytes &data)
{
    Bytes reply{f.initiator,
                0x01,
                static_cast<std::uint8_t>(f.instruction & 0x3f),
                status,
                f.target,
                static_cast<std::uint8_t>(f.transaction >> 8),
                static_cast<std::uint8_t>(f.transaction),
                0x00,
                static_cast<std::uint8_t>(data.size() >> 16),
                static_cast<std::uint8_t>(data.size() >> 8),
                static_cast<std::uint8_t>(data.size())};
    reply.push_back(Crc(reply));
    reply.insert(reply.end(), data.begin(), data.end());
    reply.push_back(Crc(data));
    return reply;
}

} // namespace hand_rmap

#endif
