// A bit-at-a-time CRC written straight from the polynomial, so that tests
// never take expected CRCs from the table-driven code they check.
#ifndef ZARK_TESTS_QUILL_RMAP_REFERENCE_CRC_H
#define ZARK_TESTS_QUILL_RMAP_REFERENCE_CRC_H

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace rmap_test {

// x^8 + x^2 + x + 1, least significant bit of each byte first: a shift
// register moving right whose feedback taps are the reversed polynomial.
inline std::uint8_t ReferenceCrc(std::span<const std::uint8_t> bytes) {
    unsigned crc = 0;
    for (std::uint8_t byte : bytes) {
        for (int bit = 0; bit < 8; ++bit) {
            const unsigned in = ((byte >> bit) ^ crc) & 1u;
            crc >>= 1;
            if (in != 0) crc ^= 0xE0u; // x^0, x^1, x^2 reversed into bits 7, 6, 5
        }
    }
    return static_cast<std::uint8_t>(crc);
}

using Bytes = std::vector<std::uint8_t>;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The bytes followed by their CRC.
inline Bytes WithCrc(Bytes bytes) {
    bytes.push_back(ReferenceCrc(bytes));
    return bytes;
}

} // namespace rmap_test

#endif
