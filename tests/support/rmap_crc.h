// The RMAP CRC worked bit by bit from its polynomial, the one reference the
// tests and the fuzz targets judge packets by, so that the codec is never
// checked against itself.
#ifndef ZARK_TESTS_SUPPORT_RMAP_CRC_H
#define ZARK_TESTS_SUPPORT_RMAP_CRC_H

#include <cstdint>
#include <span>

namespace reference {

// x^8 + x^2 + x + 1, initial 0, bits least significant first: a register
// shifting right whose taps are the polynomial reversed (0xe0).
inline std::uint8_t RmapCrc(std::span<const std::uint8_t> bytes)
{
    unsigned crc = 0;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xe0u : crc >> 1;
    }
    return static_cast<std::uint8_t>(crc);
}

} // namespace reference

#endif
