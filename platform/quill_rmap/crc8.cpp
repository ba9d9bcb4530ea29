#include <array>

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

} // namespace

std::uint8_t Crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc) {
    for (std::uint8_t byte : bytes) crc = kTable[crc ^ byte];
    return crc;
}

} // namespace quill_rmap
