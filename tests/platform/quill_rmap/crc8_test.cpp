#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "quill_rmap_target.h"
#include "reference_crc.h"

namespace {

using quill_rmap::Crc8;
using rmap_test::Bytes;
using rmap_test::ReferenceCrc;

std::uint8_t CrcOfByte(unsigned value) {
    const std::array<std::uint8_t, 1> one{static_cast<std::uint8_t>(value)};
    return Crc8(one);
}

TEST(Crc8, TableStartsAsTheStandardGivesIt) {
    // From the standard's table; the non-reflected table would start 00 07 0e 09.
    const std::array<std::uint8_t, 16> expected{0x00, 0x91, 0xe3, 0x72, 0x07, 0x96, 0xe4, 0x75,
                                                0x0e, 0x9f, 0xed, 0x7c, 0x09, 0x98, 0xea, 0x7b};
    for (unsigned i = 0; i < expected.size(); ++i) EXPECT_EQ(CrcOfByte(i), expected[i]) << i;
}

TEST(Crc8, EveryTableEntryMatchesTheBitwiseDefinition) {
    for (unsigned i = 0; i < 256; ++i) {
        const Bytes one{static_cast<std::uint8_t>(i)};
        EXPECT_EQ(CrcOfByte(i), ReferenceCrc(one)) << i;
    }
}

TEST(Crc8, TableIsLinearAndOneToOne) {
    // A CRC table is linear over XOR, and no two bytes share an entry.
    std::array<bool, 256> seen{};
    for (unsigned a = 0; a < 256; ++a) {
        const std::uint8_t entry = CrcOfByte(a);
        EXPECT_FALSE(seen[entry]) << a;
        seen[entry] = true;
        for (unsigned b = 0; b < 256; b += 17)
            ASSERT_EQ(CrcOfByte(a ^ b), CrcOfByte(a) ^ CrcOfByte(b)) << a << " " << b;
    }
}

TEST(Crc8, CheckValues) {
    const std::string_view digits = "123456789";
    const Bytes ascii(digits.begin(), digits.end());
    EXPECT_EQ(Crc8(ascii), 0x20);
    EXPECT_EQ(Crc8(Bytes{1, 2, 3, 4, 5, 6, 7, 8}), 0xb0);
    EXPECT_EQ(Crc8(Bytes{}), 0x00);
}

TEST(Crc8, FieldFollowedByItsCrcGivesZero) {
    const Bytes field{0xfe, 0x01, 0x4c, 0x00, 0x20, 0x00, 0x01};
    Bytes with = field;
    with.push_back(Crc8(field));
    EXPECT_EQ(Crc8(with), 0x00);
}

TEST(Crc8, ContinuesFromAGivenValue) {
    const Bytes whole{0x10, 0x20, 0x30, 0x40, 0x50};
    const std::span<const std::uint8_t> all(whole);
    EXPECT_EQ(Crc8(all.subspan(2), Crc8(all.first(2))), Crc8(all));
    EXPECT_EQ(Crc8(all), ReferenceCrc(whole));
}

} // namespace
