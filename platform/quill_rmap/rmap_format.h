// Field layout of RMAP packets shared by the builders and the decoders.
#ifndef ZARK_PLATFORM_QUILL_RMAP_RMAP_FORMAT_H
#define ZARK_PLATFORM_QUILL_RMAP_RMAP_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace quill_rmap::detail {

inline constexpr std::uint8_t kProtocolId = 0x01;

// Instruction byte.
inline constexpr std::uint8_t kReservedBit = 0x80;
inline constexpr std::uint8_t kCommandBit = 0x40;
inline constexpr std::uint8_t kWriteBit = 0x20;
inline constexpr std::uint8_t kVerifyBit = 0x10;
inline constexpr std::uint8_t kReplyBit = 0x08;
inline constexpr std::uint8_t kIncrementBit = 0x04;
inline constexpr std::uint8_t kReplyAddressWordsMask = 0x03;

// Bits 5..2 of the instruction.
constexpr unsigned CommandCode(std::uint8_t instruction) { return (instruction >> 2) & 0x0Fu; }

inline constexpr unsigned kCodeReadSingle = 0b0010;
inline constexpr unsigned kCodeReadIncrementing = 0b0011;
inline constexpr unsigned kCodeReadModifyWrite = 0b0111;

constexpr bool CommandCodeExists(std::uint8_t instruction) {
    const unsigned code = CommandCode(instruction);
    return code == kCodeReadSingle || code == kCodeReadIncrementing || code == kCodeReadModifyWrite ||
           (instruction & kWriteBit) != 0;
}

constexpr bool IsReadModifyWrite(std::uint8_t instruction) {
    return CommandCode(instruction) == kCodeReadModifyWrite;
}

constexpr std::size_t ReplyAddressFieldLength(std::uint8_t instruction) {
    return 4u * (instruction & kReplyAddressWordsMask);
}

// Target logical address through header CRC.
constexpr std::size_t CommandHeaderLength(std::uint8_t instruction) {
    return 16 + ReplyAddressFieldLength(instruction);
}

// Initiator logical address through header CRC.
inline constexpr std::size_t kWriteReplyLength = 8;
inline constexpr std::size_t kReadReplyHeaderLength = 12;

inline constexpr std::uint32_t kMaxDataLength = 0xFFFFFF;
inline constexpr std::size_t kMaxReplyPathLength = 12;

// Bytes below this value in front of a packet are path addresses.
inline constexpr std::uint8_t kFirstLogicalAddress = 32;

constexpr bool IsReadModifyWriteCommandLength(std::uint32_t data_length) {
    return data_length <= 8 && data_length % 2 == 0;
}

// A reply returns the memory before the operation: half of data and mask.
inline constexpr std::uint32_t kMaxReadModifyWriteReplyLength = 4;

} // namespace quill_rmap::detail

#endif
