// RMAP packets put together byte by byte from the packet formats, with the
// CRC worked bit by bit from its polynomial, so that the codec and the
// simulated target are checked against the formats and never against the
// codec itself.
#ifndef ZARK_TESTS_SUPPORT_HAND_RMAP_H
#define ZARK_TESTS_SUPPORT_HAND_RMAP_H

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace hand_rmap {

using Bytes = std::vector<std::uint8_t>;

// Instruction bits.
constexpr std::uint8_t kCommand = 0x40, kWrite = 0x20, kVerify = 0x10, kReply = 0x08, kIncrement = 0x04;
constexpr std::uint8_t kReadIncrementing = kCommand | kReply | kIncrement;
constexpr std::uint8_t kReadModifyWrite = kCommand | kVerify | kReply | kIncrement;
constexpr std::uint8_t kWriteAcked = kCommand | kWrite | kReply | kIncrement;

// x^8 + x^2 + x + 1, initial 0, bits least significant first: a register
// shifting right whose taps are the polynomial reversed (0xe0).
inline std::uint8_t Crc(std::span<const std::uint8_t> bytes)
{
    unsigned crc = 0;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xe0u : crc >> 1;
    }
    return static_cast<std::uint8_t>(crc);
}

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Bytes WithCrc(Bytes bytes) { return Cat({bytes, {Crc(bytes)}}); }

inline Bytes Flip(Bytes bytes, std::size_t at, std::uint8_t bits = 0xff)
{
    bytes.at(at) ^= bits;
    return bytes;
}

inline Bytes First(Bytes bytes, std::size_t count)
{
    bytes.resize(count);
    return bytes;
}

struct CommandFields {
    Bytes path{}; // target path in front, outside the header CRC
    std::uint8_t target = 0xfe;
    std::uint8_t instruction = kReadIncrementing; // reply address words are added from reply_path
    std::uint8_t key = 0x00;
    Bytes reply_path{}; // padded in front with zeros to whole words
    std::uint8_t initiator = 0x20;
    std::uint16_t transaction = 0x1234;
    std::uint8_t extended = 0x00;
    std::uint32_t address = 0;
    std::uint32_t length = 0;
};

inline std::size_t Words(const CommandFields &f) { return (f.reply_path.size() + 3) / 4; }
inline std::uint8_t InstructionOf(const CommandFields &f)
{
    return static_cast<std::uint8_t>(f.instruction | Words(f));
}

// A field of count bytes, most significant first.
inline Bytes BigEndian(std::uint32_t v, int count)
{
    Bytes out;
    while (count-- > 0) out.push_back(static_cast<std::uint8_t>(v >> (8 * count)));
    return out;
}

// Path, then the header with its CRC.
inline Bytes Header(const CommandFields &f)
{
    const Bytes padding(4 * Words(f) - f.reply_path.size(), 0);
    return Cat({f.path, WithCrc(Cat({{f.target, 0x01, InstructionOf(f), f.key}, padding, f.reply_path, {f.initiator},
                                     BigEndian(f.transaction, 2), {f.extended}, BigEndian(f.address, 4),
                                     BigEndian(f.length, 3)}))});
}

// Header, data and data CRC; the length is the data's.
inline Bytes WithData(CommandFields f, const Bytes &data)
{
    f.length = static_cast<std::uint32_t>(data.size());
    return Cat({Header(f), WithCrc(data)});
}

// Replies as they reach the initiator, reply path taken off.
inline Bytes ReplyHeader(const CommandFields &f, std::uint8_t status)
{
    return Cat({{f.initiator, 0x01, static_cast<std::uint8_t>(InstructionOf(f) & 0x3f), status, f.target},
                BigEndian(f.transaction, 2)});
}

inline Bytes WriteReply(const CommandFields &f, std::uint8_t status) { return WithCrc(ReplyHeader(f, status)); }

inline Bytes ReadReply(const CommandFields &f, std::uint8_t status, const Bytes &data)
{
    return Cat({WithCrc(Cat({ReplyHeader(f, status), {0x00}, BigEndian(static_cast<std::uint32_t>(data.size()), 3)})),
                WithCrc(data)});
}

} // namespace hand_rmap

#endif
