#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "quill_rmap_target.h"

namespace quill_rmap {
namespace {

// x^8 + x^2 + x + 1 with the bits of each byte taken least significant
// first: the shift register runs right, so the polynomial 0x07 appears
// bit-reversed as 0xE0.
constexpr std::array<std::uint8_t, 256> MakeTable() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xE0u : crc >> 1;
        table[i] = static_cast<std::uint8_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x91 && kTable[2] == 0xE3 && kTable[15] == 0x7B);

// The CRC is linear, so a block of bytes can be taken at once: entry x of
// table k is the register after byte x and then k zero bytes.  Each byte of
// a 16-byte block then costs one independent lookup instead of a link in a
// chain of dependent ones.
constexpr std::size_t kBlock = 16;
using SliceTables = std::array<std::array<std::uint8_t, 256>, kBlock>;

constexpr SliceTables MakeSliceTables() {
    SliceTables tables{};
    tables[0] = kTable;
    for (std::size_t k = 1; k < kBlock; ++k) {
        for (unsigned x = 0; x < 256; ++x) tables[k][x] = kTable[tables[k - 1][x]];
    }
    return tables;
}

constexpr SliceTables kSlices = MakeSliceTables();

} // namespace

std::uint8_t Crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc) {
    const std::uint8_t *p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= kBlock; left -= kBlock, p += kBlock) {
        // Two word loads instead of sixteen byte loads; the bytes are taken
        // from each word in memory order whatever the machine's byte order.
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        std::memcpy(&low, p, 8);
        std::memcpy(&high, p + 8, 8);
        if constexpr (std::endian::native == std::endian::big) {
            low = __builtin_bswap64(low);
            high = __builtin_bswap64(high);
        }
        low ^= crc;
        std::uint8_t next = 0;
        for (std::size_t i = 0; i < 8; ++i) {
            next ^= kSlices[kBlock - 1 - i][static_cast<std::uint8_t>(low >> (8 * i))];
            next ^= kSlices[7 - i][static_cast<std::uint8_t>(high >> (8 * i))];
        }
        crc = next;
    }
    for (; left > 0; --left, ++p) crc = kTable[crc ^ *p];
    return crc;
}

} // namespace quill_rmap
