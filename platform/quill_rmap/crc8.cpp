#include <array>
#include <cstddef>
#include <cstdint>

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
// a block then costs one independent lookup instead of a link in a chain of
// dependent ones.
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

// What the bytes of a block add to the register, apart from what the register
// held before the block: that part is kSlices[count - 1][crc], by linearity.
[[gnu::always_inline]] inline std::uint8_t BlockTerms(const std::uint8_t *p) {
    const unsigned a = kSlices[15][p[0]] ^ kSlices[14][p[1]] ^ kSlices[13][p[2]] ^ kSlices[12][p[3]];
    const unsigned b = kSlices[11][p[4]] ^ kSlices[10][p[5]] ^ kSlices[9][p[6]] ^ kSlices[8][p[7]];
    const unsigned c = kSlices[7][p[8]] ^ kSlices[6][p[9]] ^ kSlices[5][p[10]] ^ kSlices[4][p[11]];
    const unsigned d = kSlices[3][p[12]] ^ kSlices[2][p[13]] ^ kSlices[1][p[14]] ^ kSlices[0][p[15]];
    return static_cast<std::uint8_t>((a ^ b) ^ (c ^ d));
}

} // namespace

std::uint8_t Crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc) {
    const std::uint8_t *p = bytes.data();
    std::size_t left = bytes.size();
    if (left >= kBlock) {
        // The only chain from block to block is one lookup and one XOR on the
        // register.  The next block's terms are summed before they meet the
        // register, so that the compiler cannot fold the register into the
        // middle of that sum and lengthen the chain.
        std::uint8_t terms = BlockTerms(p);
        p += kBlock;
        left -= kBlock;
        for (; left >= kBlock; left -= kBlock, p += kBlock) {
            const std::uint8_t next = BlockTerms(p);
            crc = static_cast<std::uint8_t>(terms ^ kSlices[kBlock - 1][crc]);
            terms = next;
        }
        crc = static_cast<std::uint8_t>(terms ^ kSlices[kBlock - 1][crc]);
    }
    if (left == 0) return crc;
    // Fewer than a block's bytes, headers mostly: the same independent
    // lookups, each byte through the table of the bytes that follow it.
    unsigned rest = kSlices[left - 1][crc];
    for (std::size_t i = 0; i < left; ++i) rest ^= kSlices[left - 1 - i][p[i]];
    return static_cast<std::uint8_t>(rest);
}

} // namespace quill_rmap
