// Built commands compared byte for byte with packets worked out by hand from
// the RMAP formats; the CRC bytes were computed separately from the
// polynomial and are checked again here with the bitwise reference.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/quill_rmap.h"
#include "reference_crc.h"

namespace {

using rmap_test::Bytes;
using rmap_test::ReferenceCrc;

struct FreePacket {
    void operator()(unsigned char *packet) const { RMAP_FreeBuffer(packet); }
};
using Packet = std::unique_ptr<unsigned char, FreePacket>;

struct Built {
    Packet packet;
    unsigned int length = 0;
    RmapPacketInfo info{};
    Bytes Copy() const { return packet ? Bytes(packet.get(), packet.get() + length) : Bytes{}; }
};

struct WriteArgs {
    Bytes target, reply;
    bool verify, acknowledge, increment;
    std::uint8_t key;
    std::uint16_t id;
    std::uint32_t address;
    std::uint8_t extended;
    Bytes data;
};

Built BuildWrite(const WriteArgs &a) {
    Built b;
    b.packet.reset(RMAP_BuildWriteCommandPacket(
        a.target.data(), static_cast<unsigned>(a.target.size()), a.reply.data(),
        static_cast<unsigned char>(a.reply.size()), a.verify, a.acknowledge, a.increment, a.key, a.id,
        a.address, a.extended, a.data.data(), static_cast<unsigned>(a.data.size()), &b.length, &b.info, 1));
    return b;
}

struct ReadArgs {
    Bytes target, reply;
    bool increment;
    std::uint8_t key;
    std::uint16_t id;
    std::uint32_t address;
    std::uint8_t extended;
    std::uint32_t length;
};

Built BuildRead(const ReadArgs &a) {
    Built b;
    b.packet.reset(RMAP_BuildReadCommandPacket(a.target.data(), static_cast<unsigned>(a.target.size()),
                                               a.reply.data(), static_cast<unsigned char>(a.reply.size()),
                                               a.increment, a.key, a.id, a.address, a.extended, a.length,
                                               &b.length, &b.info, 1));
    return b;
}

struct RmwArgs {
    Bytes target, reply;
    std::uint8_t key;
    std::uint16_t id;
    std::uint32_t address;
    std::uint8_t extended;
    std::uint8_t length;
    Bytes data, mask;
};

Built BuildRmw(const RmwArgs &a) {
    Built b;
    b.packet.reset(RMAP_BuildReadModifyWriteCommandPacket(
        a.target.data(), static_cast<unsigned>(a.target.size()), a.reply.data(),
        static_cast<unsigned char>(a.reply.size()), a.key, a.id, a.address, a.extended, a.length,
        a.data.data(), a.mask.data(), &b.length, &b.info, 1));
    return b;
}

// Checks the packet, then that the CRC locations point at the CRC bytes.
void ExpectPacket(const Built &built, const Bytes &expected, std::size_t header_crc_index,
                  std::ptrdiff_t data_crc_index) {
    ASSERT_NE(built.packet, nullptr);
    EXPECT_EQ(built.Copy(), expected);
    EXPECT_EQ(built.info.packet, built.packet.get());
    EXPECT_EQ(built.info.packet_length, expected.size());
    EXPECT_EQ(built.info.header_crc_location, built.packet.get() + header_crc_index);
    EXPECT_EQ(RMAP_GetHeaderCRC(&built.info), expected[header_crc_index]);
    if (data_crc_index < 0) {
        EXPECT_EQ(built.info.data_crc_location, nullptr);
    } else {
        EXPECT_EQ(built.info.data_crc_location, built.packet.get() + data_crc_index);
        EXPECT_EQ(RMAP_GetDataCRC(&built.info), expected[static_cast<std::size_t>(data_crc_index)]);
    }
}

// The hand-computed CRC bytes must agree with the polynomial itself.
void ExpectCrcsConsistent(const Bytes &packet, std::size_t header_start, std::size_t header_crc_index) {
    const Bytes header(packet.begin() + static_cast<std::ptrdiff_t>(header_start),
                       packet.begin() + static_cast<std::ptrdiff_t>(header_crc_index));
    EXPECT_EQ(ReferenceCrc(header), packet[header_crc_index]);
    if (packet.size() > header_crc_index + 1) {
        const Bytes data(packet.begin() + static_cast<std::ptrdiff_t>(header_crc_index) + 1, packet.end() - 1);
        EXPECT_EQ(ReferenceCrc(data), packet.back());
    }
}

TEST(BuildWrite, AcknowledgedIncrementingWithoutReplyPath) {
    const Bytes expected{0xFE, 0x01, 0x6C, 0x00, 0x20, 0x00, 0x07, 0x00, 0x00, 0x00, 0x10,
                         0x00, 0x00, 0x00, 0x04, 0x78, 0x01, 0x02, 0x03, 0x04, 0x5D};
    ExpectCrcsConsistent(expected, 0, 15);
    const Built b = BuildWrite({{0xFE}, {0x20}, false, true, true, 0x00, 0x0007, 0x1000, 0x00, {1, 2, 3, 4}});
    ExpectPacket(b, expected, 15, 20);
    EXPECT_EQ(RMAP_GetPacketType(&b.info), RMAP_PACKET_TYPE_WRITE_COMMAND);
}

TEST(BuildWrite, VerifiedUnacknowledgedWithTargetPathAndReplyPath) {
    // Target path 03 05 stays in front, outside the header CRC; reply path
    // 07 01 is padded in front to one word.
    const Bytes expected{0x03, 0x05, 0xFE, 0x01, 0x71, 0x20, 0x00, 0x00, 0x07, 0x01, 0x20, 0xAB,
                         0xCD, 0x9A, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01, 0x22, 0xAA, 0x35};
    ExpectCrcsConsistent(expected, 2, 21);
    const Built b =
        BuildWrite({{0x03, 0x05, 0xFE}, {0x07, 0x01, 0x20}, true, false, false, 0x20, 0xABCD, 0x12345678, 0x9A, {0xAA}});
    ExpectPacket(b, expected, 21, 23);
}

TEST(BuildWrite, AllFlagsWithTwelveByteReplyPath) {
    const Bytes expected{0xFE, 0x01, 0x7F, 0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                         0x09, 0x0A, 0x0B, 0x0C, 0x20, 0x34, 0x56, 0x01, 0x02, 0x03, 0x04, 0x05,
                         0x00, 0x00, 0x03, 0xC5, 0x0A, 0x0B, 0x0C, 0x70};
    ExpectCrcsConsistent(expected, 0, 27);
    const Built b = BuildWrite({{0xFE},
                                {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x20},
                                true, true, true, 0x5A, 0x3456, 0x02030405, 0x01, {0x0A, 0x0B, 0x0C}});
    ExpectPacket(b, expected, 27, 31);
}

TEST(BuildWrite, NoDataGivesZeroLengthAndCrcOfNothing) {
    const Bytes expected{0xFE, 0x01, 0x68, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x5C, 0x00};
    ExpectCrcsConsistent(expected, 0, 15);
    Built b;
    b.packet.reset(RMAP_BuildWriteCommandPacket(expected.data(), 1, expected.data() + 4, 1, 0, 1, 0, 0, 0, 0, 0,
                                                nullptr, 0, &b.length, &b.info, 1));
    ExpectPacket(b, expected, 15, 16);
}

TEST(BuildRead, IncrementingWithoutReplyPath) {
    const Bytes expected{0xFE, 0x01, 0x4C, 0x00, 0x20, 0x00, 0x01, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x72};
    ExpectCrcsConsistent(expected, 0, 15);
    const Built b = BuildRead({{0xFE}, {0x20}, true, 0x00, 0x0001, 0x00000000, 0x00, 4});
    ExpectPacket(b, expected, 15, -1);
    EXPECT_EQ(RMAP_GetPacketType(&b.info), RMAP_PACKET_TYPE_READ_COMMAND);
}

TEST(BuildRead, SingleAddressWithFiveByteReplyPathAndTopValues) {
    const Bytes expected{0xFE, 0x01, 0x4A, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05,
                         0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xC1};
    ExpectCrcsConsistent(expected, 0, 23);
    const Built b =
        BuildRead({{0xFE}, {0x01, 0x02, 0x03, 0x04, 0x05, 0x20}, false, 0xFF, 0xFFFF, 0xFFFFFFFF, 0xFF, 0xFFFFFF});
    ExpectPacket(b, expected, 23, -1);
}

TEST(BuildReadModifyWrite, DataThenMask) {
    const Bytes expected{0xFE, 0x01, 0x5C, 0x01, 0x20, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00,
                         0x10, 0x00, 0x00, 0x04, 0x55, 0x11, 0x22, 0xF0, 0x0F, 0x8D};
    ExpectCrcsConsistent(expected, 0, 15);
    const Built b = BuildRmw({{0xFE}, {0x20}, 0x01, 0x0102, 0x10, 0x00, 4, {0x11, 0x22}, {0xF0, 0x0F}});
    ExpectPacket(b, expected, 15, 20);
    EXPECT_EQ(RMAP_GetPacketType(&b.info), RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND);
}

TEST(BuildReadModifyWrite, ZeroLengthWithNullBuffers) {
    const Bytes expected{0xFE, 0x01, 0x5C, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00};
    ExpectCrcsConsistent(expected, 0, 15);
    const Bytes target{0xFE}, reply{0x20};
    Built b;
    b.packet.reset(RMAP_BuildReadModifyWriteCommandPacket(target.data(), 1, reply.data(), 1, 0, 0, 0, 0, 0,
                                                          nullptr, nullptr, &b.length, &b.info, 1));
    ExpectPacket(b, expected, 15, 16);
}

TEST(BuildCommand, InstructionBitsForEveryWriteFlagCombination) {
    // 0x60 write command, then verify 0x10, reply 0x08, increment 0x04.
    for (unsigned flags = 0; flags < 8; ++flags) {
        const bool verify = (flags & 4) != 0, acknowledge = (flags & 2) != 0, increment = (flags & 1) != 0;
        const Built b = BuildWrite({{0xFE}, {0x20}, verify, acknowledge, increment, 0, 0, 0, 0, {0x55}});
        ASSERT_NE(b.packet, nullptr);
        EXPECT_EQ(b.packet.get()[2], 0x60 | (verify ? 0x10 : 0) | (acknowledge ? 0x08 : 0) | (increment ? 0x04 : 0))
            << flags;
        EXPECT_EQ(RMAP_GetVerifyBeforeWrite(&b.info), verify ? 1 : 0);
        EXPECT_EQ(RMAP_GetIncrementAddress(&b.info), increment ? 1 : 0);
    }
}

TEST(BuildCommand, ReplyAddressFieldGrowsInWholeWords) {
    // Reply path length -> words in the instruction's low bits.
    const struct {
        std::size_t path;
        unsigned words;
    } cases[] = {{0, 0}, {1, 1}, {4, 1}, {5, 2}, {8, 2}, {9, 3}, {12, 3}};
    for (const auto &c : cases) {
        Bytes reply(c.path, 0x11);
        reply.push_back(0x20);
        const Built b = BuildRead({{0xFE}, reply, true, 0, 0, 0, 0, 1});
        ASSERT_NE(b.packet, nullptr) << c.path;
        EXPECT_EQ(b.packet.get()[2] & 0x03u, c.words) << c.path;
        EXPECT_EQ(b.length, 16 + 4 * c.words) << c.path;
        // Padding zeros, then the path, then the initiator logical address.
        for (std::size_t i = 0; i < 4 * c.words; ++i)
            EXPECT_EQ(b.packet.get()[4 + i], i < 4 * c.words - c.path ? 0x00 : 0x11) << c.path << " " << i;
        EXPECT_EQ(b.packet.get()[4 + 4 * c.words], 0x20);
    }
}

TEST(BuildCommand, NonZeroFlagValuesCountAsSet) {
    const Bytes target{0xFE}, reply{0x20};
    Built c;
    c.packet.reset(RMAP_BuildWriteCommandPacket(target.data(), 1, reply.data(), 1, 0x80, 0x02, 0xFF, 0, 0, 0, 0,
                                                nullptr, 0, &c.length, &c.info, 1));
    ASSERT_NE(c.packet, nullptr);
    EXPECT_EQ(c.packet.get()[2], 0x7C);
}

} // namespace

namespace {

// A failed build hands back nothing and leaves no stale description.
void ExpectNothingBuilt(unsigned char *packet, unsigned int length, const RmapPacketInfo &info, const char *name) {
    EXPECT_EQ(packet, nullptr) << name;
    RMAP_FreeBuffer(packet);
    EXPECT_EQ(length, 0u) << name;
    EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_INVALID) << name;
    EXPECT_EQ(info.header_crc_location, nullptr) << name;
    EXPECT_EQ(info.data_crc_location, nullptr) << name;
}

TEST(BuildFailure, WriteCommand) {
    const Bytes fe{0xFE}, twenty{0x20}, data{1, 2, 3};
    const Bytes path13{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0x20};
    const struct {
        const char *name;
        const unsigned char *target;
        unsigned target_count;
        const unsigned char *reply;
        unsigned char reply_count;
        const unsigned char *data;
        unsigned data_count;
    } cases[] = {
        {"empty target address", fe.data(), 0, twenty.data(), 1, data.data(), 3},
        {"null target address", nullptr, 0, twenty.data(), 1, data.data(), 3},
        {"null target with count", nullptr, 1, twenty.data(), 1, data.data(), 3},
        {"empty reply address", fe.data(), 1, twenty.data(), 0, data.data(), 3},
        {"null reply with count", fe.data(), 1, nullptr, 1, data.data(), 3},
        {"reply path of 13 bytes", fe.data(), 1, path13.data(), 14, data.data(), 3},
        {"null data with count", fe.data(), 1, twenty.data(), 1, nullptr, 3},
        {"data length 2^24", fe.data(), 1, twenty.data(), 1, data.data(), 0x1000000},
        {"data length at the top", fe.data(), 1, twenty.data(), 1, data.data(), 0xFFFFFFFFu},
    };
    for (const auto &c : cases) {
        unsigned int length = 99;
        RmapPacketInfo info;
        info.packet_type = RMAP_PACKET_TYPE_WRITE_COMMAND;
        unsigned char *packet = RMAP_BuildWriteCommandPacket(c.target, c.target_count, c.reply, c.reply_count, 1, 1,
                                                             1, 0, 0, 0, 0, c.data, c.data_count, &length, &info, 1);
        ExpectNothingBuilt(packet, length, info, c.name);
    }
}

TEST(BuildFailure, ReadCommand) {
    const Bytes fe{0xFE}, twenty{0x20};
    const Bytes path13{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0x20};
    const struct {
        const char *name;
        const unsigned char *target;
        unsigned target_count;
        const unsigned char *reply;
        unsigned char reply_count;
        unsigned read_length;
    } cases[] = {
        {"empty target address", nullptr, 0, twenty.data(), 1, 4},
        {"empty reply address", fe.data(), 1, nullptr, 0, 4},
        {"reply path of 13 bytes", fe.data(), 1, path13.data(), 14, 4},
        {"read length 2^24", fe.data(), 1, twenty.data(), 1, 0x1000000},
        {"read length at the top", fe.data(), 1, twenty.data(), 1, 0xFFFFFFFFu},
    };
    for (const auto &c : cases) {
        unsigned int length = 99;
        RmapPacketInfo info;
        unsigned char *packet = RMAP_BuildReadCommandPacket(c.target, c.target_count, c.reply, c.reply_count, 1, 0,
                                                            0, 0, 0, c.read_length, &length, &info, 1);
        ExpectNothingBuilt(packet, length, info, c.name);
    }
}

TEST(BuildFailure, ReadModifyWriteCommand) {
    const Bytes fe{0xFE}, twenty{0x20}, bytes{1, 2, 3, 4};
    const struct {
        const char *name;
        unsigned char data_length;
        const unsigned char *data;
        const unsigned char *mask;
        const unsigned char *reply;
        unsigned char reply_count;
    } cases[] = {
        {"length 1", 1, bytes.data(), bytes.data(), twenty.data(), 1},
        {"length 3", 3, bytes.data(), bytes.data(), twenty.data(), 1},
        {"length 5", 5, bytes.data(), bytes.data(), twenty.data(), 1},
        {"length 7", 7, bytes.data(), bytes.data(), twenty.data(), 1},
        {"length 9", 9, bytes.data(), bytes.data(), twenty.data(), 1},
        {"length 10", 10, bytes.data(), bytes.data(), twenty.data(), 1},
        {"length 255", 255, bytes.data(), bytes.data(), twenty.data(), 1},
        {"null data", 2, nullptr, bytes.data(), twenty.data(), 1},
        {"null mask", 2, bytes.data(), nullptr, twenty.data(), 1},
        {"empty reply address", 2, bytes.data(), bytes.data(), twenty.data(), 0},
    };
    for (const auto &c : cases) {
        unsigned int length = 99;
        RmapPacketInfo info;
        unsigned char *packet = RMAP_BuildReadModifyWriteCommandPacket(
            fe.data(), 1, c.reply, c.reply_count, 0, 0, 0, 0, c.data_length, c.data, c.mask, &length, &info, 1);
        ExpectNothingBuilt(packet, length, info, c.name);
    }
}

TEST(BuildFailure, LimitsThatStillBuild) {
    // Twelve bytes of reply path and a 24-bit read length are the largest allowed.
    const Bytes fe{0xFE}, path12{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x20};
    unsigned int length = 0;
    RmapPacketInfo info;
    Packet packet(RMAP_BuildReadCommandPacket(fe.data(), 1, path12.data(), 13, 1, 0, 0, 0, 0, 0xFFFFFF, &length,
                                              &info, 1));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(length, 28u);
    // Path bytes can be as many as the caller likes.
    const Bytes long_target(1000, 0x03);
    Packet routed(RMAP_BuildReadCommandPacket(long_target.data(), 1000, path12.data(), 13, 1, 0, 0, 0, 0, 4, &length,
                                              &info, 1));
    ASSERT_NE(routed, nullptr);
    EXPECT_EQ(length, 999u + 28u);
    RMAP_FreeBuffer(nullptr); // releasing nothing is harmless
}

} // namespace
