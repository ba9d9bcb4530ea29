// Validation of received bytes: round trips through the builders, replies
// laid out by hand, every malformed shape with its code, and arbitrary
// lengths.  Packets under test are copied into buffers of exactly their
// length so that the sanitizer build catches any read past the end.
#include <gtest/gtest.h>

#include <memory>

#include "device/quill_rmap.h"
#include "reference_crc.h"

namespace {

using rmap_test::Bytes;
using rmap_test::Concat;
using rmap_test::WithCrc;

struct FreePacket {
    void operator()(unsigned char *packet) const { RMAP_FreeBuffer(packet); }
};
using Packet = std::unique_ptr<unsigned char, FreePacket>;

int Check(const Bytes &bytes, RmapPacketInfo &info) {
    // A heap copy of exactly the packet's length: no slack to read into.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    const int result = RMAP_CheckPacketValid(exact.get(), static_cast<unsigned>(bytes.size()), &info, 1);
    // The record must not point into the copy after it is gone.
    info.packet = nullptr;
    info.target_address = info.reply_address = info.data = nullptr;
    return result;
}

int Check(const Bytes &bytes) {
    RmapPacketInfo info;
    return Check(bytes, info);
}

Bytes ReplyAddressOf(const RmapPacketInfo &info) {
    unsigned long long length = 0;
    const unsigned char *bytes = RMAP_GetReplyAddress(&info, &length);
    return bytes != nullptr ? Bytes(bytes, bytes + length) : Bytes{};
}

Bytes TargetAddressOf(const RmapPacketInfo &info) {
    unsigned long long length = 0;
    const unsigned char *bytes = RMAP_GetTargetAddress(&info, &length);
    return bytes != nullptr ? Bytes(bytes, bytes + length) : Bytes{};
}

Bytes DataOf(const RmapPacketInfo &info) {
    unsigned int length = 0;
    const unsigned char *bytes = RMAP_GetData(&info, &length);
    return bytes != nullptr ? Bytes(bytes, bytes + length) : Bytes{};
}

// A command header from target logical address to data length, without CRC.
Bytes CommandHeader(std::uint8_t instruction, std::uint32_t length, Bytes reply_field = {}) {
    return Concat({{0xFE, 0x01, instruction, 0x00},
                   reply_field,
                   {0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, static_cast<std::uint8_t>(length >> 16),
                    static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)}});
}

// A read or read/modify/write reply header, without CRC.
Bytes ReadReplyHeader(std::uint8_t instruction, std::uint32_t length, std::uint8_t status = 0) {
    return {0x20, 0x01, instruction, status, 0xFE, 0x12, 0x34, 0x00, static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

Bytes WriteReplyHeader(std::uint8_t instruction, std::uint8_t status = 0) {
    return {0x20, 0x01, instruction, status, 0xFE, 0x12, 0x34};
}

// ---------------------------------------------------------------- round trips

struct WriteCase {
    Bytes target, reply;
    bool verify, acknowledge, increment;
    std::uint8_t key;
    std::uint16_t id;
    std::uint32_t address;
    std::uint8_t extended;
    Bytes data;
};

TEST(RoundTrip, WriteCommandsReadBackEveryField) {
    const WriteCase cases[] = {
        {{0xFE}, {0x20}, false, false, false, 0x00, 0x0000, 0x00000000, 0x00, {}},
        {{0xFE}, {0x20}, true, true, true, 0xFF, 0xFFFF, 0xFFFFFFFF, 0xFF, {0x01}},
        {{0x01, 0x1F, 0x00, 0x40}, {0x03, 0x04, 0x21}, true, false, true, 0x20, 0x1234, 0x80000001, 0x7F, {1, 2, 3}},
        {{0xFE}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF}, false, true, false, 0x01, 0x8000, 0x10, 0x01,
         Bytes(300, 0xA5)},
    };
    for (const WriteCase &c : cases) {
        RmapPacketInfo built;
        unsigned int length = 0;
        Packet packet(RMAP_BuildWriteCommandPacket(
            c.target.data(), static_cast<unsigned>(c.target.size()), c.reply.data(),
            static_cast<unsigned char>(c.reply.size()), c.verify, c.acknowledge, c.increment, c.key, c.id, c.address,
            c.extended, c.data.data(), static_cast<unsigned>(c.data.size()), &length, &built, 1));
        ASSERT_NE(packet, nullptr);
        RmapPacketInfo info;
        ASSERT_EQ(RMAP_CheckPacketValid(packet.get(), length, &info, 1), RMAP_CHECK_OK);
        EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_WRITE_COMMAND);
        EXPECT_EQ(TargetAddressOf(info), c.target);
        EXPECT_EQ(ReplyAddressOf(info), c.reply);
        EXPECT_EQ(RMAP_GetVerifyBeforeWrite(&info), c.verify ? 1 : 0);
        EXPECT_EQ(RMAP_GetIncrementAddress(&info), c.increment ? 1 : 0);
        EXPECT_EQ((info.instruction & 0x08) != 0, c.acknowledge);
        EXPECT_EQ(info.key, c.key);
        EXPECT_EQ(RMAP_GetTransactionID(&info), c.id);
        EXPECT_EQ(info.address, c.address);
        EXPECT_EQ(info.extended_address, c.extended);
        EXPECT_EQ(info.data_length, c.data.size());
        EXPECT_EQ(DataOf(info), c.data);
        EXPECT_EQ(RMAP_GetStatus(&info), 0);
        EXPECT_EQ(RMAP_GetHeaderCRC(&info), RMAP_GetHeaderCRC(&built));
        EXPECT_EQ(RMAP_GetDataCRC(&info), RMAP_GetDataCRC(&built));
        // Described in place, not copied; CRC locations belong to builds only.
        EXPECT_EQ(info.packet, packet.get());
        EXPECT_EQ(info.header_crc_location, nullptr);
        EXPECT_EQ(info.data_crc_location, nullptr);
        // The builder's own description reads the same.
        EXPECT_EQ(ReplyAddressOf(built), c.reply);
        EXPECT_EQ(TargetAddressOf(built), c.target);
        EXPECT_EQ(DataOf(built), c.data);
    }
}

TEST(RoundTrip, ReadCommands) {
    const struct {
        Bytes target, reply;
        bool increment;
        std::uint32_t length;
    } cases[] = {
        {{0xFE}, {0x20}, true, 4},
        {{0xFE}, {0x20}, false, 0},
        {{0x05, 0xFE}, {0x09, 0x08, 0x07, 0x06, 0x05, 0x20}, true, 0xFFFFFF},
    };
    for (const auto &c : cases) {
        unsigned int length = 0;
        RmapPacketInfo built;
        Packet packet(RMAP_BuildReadCommandPacket(c.target.data(), static_cast<unsigned>(c.target.size()),
                                                  c.reply.data(), static_cast<unsigned char>(c.reply.size()),
                                                  c.increment, 0x42, 0x0203, 0x01020304, 0x05, c.length, &length,
                                                  &built, 1));
        ASSERT_NE(packet, nullptr);
        RmapPacketInfo info;
        ASSERT_EQ(RMAP_CheckPacketValid(packet.get(), length, &info, 1), RMAP_CHECK_OK);
        EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_READ_COMMAND);
        EXPECT_EQ(TargetAddressOf(info), c.target);
        EXPECT_EQ(ReplyAddressOf(info), c.reply);
        EXPECT_EQ(RMAP_GetIncrementAddress(&info), c.increment ? 1 : 0);
        EXPECT_EQ(info.data_length, c.length);
        EXPECT_EQ(info.key, 0x42);
        EXPECT_EQ(RMAP_GetTransactionID(&info), 0x0203);
        EXPECT_EQ(info.address, 0x01020304u);
        EXPECT_EQ(info.extended_address, 0x05);
        EXPECT_TRUE(DataOf(info).empty());
    }
}

TEST(RoundTrip, ReadModifyWriteCommands) {
    for (std::uint8_t field : {0, 2, 4, 6, 8}) {
        const Bytes data{0x11, 0x22, 0x33, 0x44}, mask{0xA1, 0xA2, 0xA3, 0xA4};
        const Bytes target{0xFE}, reply{0x20};
        unsigned int length = 0;
        RmapPacketInfo built;
        Packet packet(RMAP_BuildReadModifyWriteCommandPacket(target.data(), 1, reply.data(), 1, 0x09, 0x0A0B,
                                                             0x0C0D0E0F, 0x10, field, data.data(), mask.data(),
                                                             &length, &built, 1));
        ASSERT_NE(packet, nullptr) << int{field};
        RmapPacketInfo info;
        ASSERT_EQ(RMAP_CheckPacketValid(packet.get(), length, &info, 1), RMAP_CHECK_OK);
        EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND);
        EXPECT_EQ(info.data_length, field);
        const std::size_t half = field / 2u;
        const Bytes expected = Concat({Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(half)),
                                       Bytes(mask.begin(), mask.begin() + static_cast<std::ptrdiff_t>(half))});
        EXPECT_EQ(DataOf(info), expected) << int{field};
    }
}

TEST(RoundTrip, OverwrittenCrcIsSentButTheComputedOneIsKept) {
    const Bytes target{0xFE}, reply{0x20}, data{1, 2};
    unsigned int length = 0;
    RmapPacketInfo built;
    Packet packet(RMAP_BuildWriteCommandPacket(target.data(), 1, reply.data(), 1, 0, 1, 1, 0, 1, 0, 0, data.data(),
                                               2, &length, &built, 1));
    ASSERT_NE(packet, nullptr);
    const unsigned char header_crc = RMAP_GetHeaderCRC(&built);
    *built.header_crc_location = static_cast<unsigned char>(header_crc ^ 0xFF);
    EXPECT_EQ(RMAP_CheckPacketValid(packet.get(), length, nullptr, 1), RMAP_CHECK_HEADER_CRC);
    EXPECT_EQ(RMAP_GetHeaderCRC(&built), header_crc);
    *built.header_crc_location = header_crc;
    *built.data_crc_location ^= 0x01;
    EXPECT_EQ(RMAP_CheckPacketValid(packet.get(), length, nullptr, 1), RMAP_CHECK_DATA_CRC);
}

// -------------------------------------------------------------------- replies

TEST(Replies, AddressesAndDataPointIntoTheBytes) {
    // Path bytes 03 07 in front stay part of the reply address.
    const Bytes packet =
        Concat({{0x03, 0x07}, WithCrc(ReadReplyHeader(0x1C, 2)), WithCrc({0x55, 0x66})});
    RmapPacketInfo info;
    ASSERT_EQ(RMAP_CheckPacketValid(packet.data(), static_cast<unsigned>(packet.size()), &info, 1), RMAP_CHECK_OK);
    EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY);
    EXPECT_EQ(ReplyAddressOf(info), (Bytes{0x03, 0x07, 0x20}));
    EXPECT_EQ(TargetAddressOf(info), Bytes{0xFE});
    EXPECT_EQ(DataOf(info), (Bytes{0x55, 0x66}));
    EXPECT_EQ(RMAP_GetData(&info, nullptr), packet.data() + 14);
    EXPECT_EQ(RMAP_GetStatus(&info), 0);
    EXPECT_EQ(RMAP_GetTransactionID(&info), 0x1234);
    EXPECT_EQ(RMAP_GetIncrementAddress(&info), 1);
    EXPECT_EQ(RMAP_GetHeaderCRC(&info), packet[13]);
    EXPECT_EQ(RMAP_GetDataCRC(&info), packet.back());
}

TEST(Replies, WriteReplyFlagsAndTypes) {
    // Every write code with the reply bit is a write reply, verified or not.
    for (std::uint8_t instruction : {0x28, 0x29, 0x2C, 0x38, 0x3C, 0x3F}) {
        RmapPacketInfo info;
        ASSERT_EQ(Check(WithCrc(WriteReplyHeader(instruction, 1)), info), RMAP_CHECK_OK) << int{instruction};
        EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_WRITE_REPLY);
        EXPECT_EQ(RMAP_GetVerifyBeforeWrite(&info), (instruction & 0x10) != 0 ? 1 : 0);
        EXPECT_EQ(RMAP_GetIncrementAddress(&info), (instruction & 0x04) != 0 ? 1 : 0);
        EXPECT_EQ(RMAP_GetStatus(&info), 1);
        EXPECT_EQ(info.data_count, 0u);
    }
}

TEST(Replies, ErrorStatusWithNoDataAndUnknownStatusAccepted) {
    RmapPacketInfo info;
    ASSERT_EQ(Check(Concat({WithCrc(ReadReplyHeader(0x08, 0, 10)), {0x00}}), info), RMAP_CHECK_OK);
    EXPECT_EQ(RMAP_GetStatus(&info), 10);
    ASSERT_EQ(Check(Concat({WithCrc(ReadReplyHeader(0x08, 0, 200)), {0x00}}), info), RMAP_CHECK_OK);
    EXPECT_EQ(RMAP_GetStatus(&info), 200);
    EXPECT_EQ(RMAP_GetIncrementAddress(&info), 0);
}

// ---------------------------------------------------------------- rejections

Bytes Flip(Bytes bytes, std::size_t index, std::uint8_t bits) {
    bytes[index] ^= bits;
    return bytes;
}

Bytes Append(Bytes bytes, Bytes more) { return Concat({bytes, more}); }

Bytes First(Bytes bytes, std::size_t count) {
    bytes.resize(count);
    return bytes;
}

TEST(Rejections, EveryMalformedShapeHasItsCode) {
    const Bytes write = Concat({WithCrc(CommandHeader(0x6C, 2)), WithCrc({0x01, 0x02})});
    const Bytes read = WithCrc(CommandHeader(0x4C, 4));
    const Bytes read_reply = Concat({WithCrc(ReadReplyHeader(0x0C, 2)), WithCrc({0x01, 0x02})});
    const Bytes write_reply = WithCrc(WriteReplyHeader(0x2C));
    const struct {
        const char *name;
        Bytes packet;
        int expected;
    } cases[] = {
        {"empty", {}, RMAP_CHECK_TOO_SHORT},
        {"one byte", {0xFE}, RMAP_CHECK_TOO_SHORT},
        {"two bytes", {0xFE, 0x01}, RMAP_CHECK_TOO_SHORT},
        {"path bytes only", {0x01, 0x02, 0x1F, 0x00}, RMAP_CHECK_TOO_SHORT},
        {"path then two bytes", {0x01, 0xFE, 0x01}, RMAP_CHECK_TOO_SHORT},
        {"protocol 0", Flip(read, 1, 0x01), RMAP_CHECK_PROTOCOL_ID},
        {"protocol 2", Flip(read, 1, 0x03), RMAP_CHECK_PROTOCOL_ID},
        {"command reserved bit", WithCrc(CommandHeader(0xCC, 4)), RMAP_CHECK_RESERVED_BIT},
        {"reply reserved bit", Concat({WithCrc(ReadReplyHeader(0x8C, 2)), WithCrc({1, 2})}),
         RMAP_CHECK_RESERVED_BIT},
        {"command code 0000", WithCrc(CommandHeader(0x40, 4)), RMAP_CHECK_COMMAND_CODE},
        {"command code 0001", WithCrc(CommandHeader(0x44, 4)), RMAP_CHECK_COMMAND_CODE},
        {"command code 0100", WithCrc(CommandHeader(0x50, 4)), RMAP_CHECK_COMMAND_CODE},
        {"command code 0101", WithCrc(CommandHeader(0x54, 4)), RMAP_CHECK_COMMAND_CODE},
        {"command code 0110", Concat({WithCrc(CommandHeader(0x58, 2)), WithCrc({1, 2})}), RMAP_CHECK_COMMAND_CODE},
        {"reply code 0110", Concat({WithCrc(ReadReplyHeader(0x18, 2)), WithCrc({1, 2})}), RMAP_CHECK_COMMAND_CODE},
        {"write reply without reply bit", WithCrc(WriteReplyHeader(0x24)), RMAP_CHECK_COMMAND_CODE},
        {"read reply without reply bit", Concat({WithCrc(ReadReplyHeader(0x04, 2)), WithCrc({1, 2})}),
         RMAP_CHECK_COMMAND_CODE},
        {"read header cut", First(read, 15), RMAP_CHECK_HEADER_TRUNCATED},
        {"reply field missing", WithCrc(CommandHeader(0x4E, 4)), RMAP_CHECK_HEADER_TRUNCATED},
        {"write reply cut", First(write_reply, 7), RMAP_CHECK_HEADER_TRUNCATED},
        {"read reply header cut", First(read_reply, 11), RMAP_CHECK_HEADER_TRUNCATED},
        {"command header CRC", Flip(read, 15, 0x01), RMAP_CHECK_HEADER_CRC},
        {"command field changed", Flip(write, 10, 0x40), RMAP_CHECK_HEADER_CRC},
        {"write reply header CRC", Flip(write_reply, 5, 0x10), RMAP_CHECK_HEADER_CRC},
        {"read reply header CRC", Flip(read_reply, 11, 0xFF), RMAP_CHECK_HEADER_CRC},
        {"write data CRC missing", First(write, 18), RMAP_CHECK_DATA_TRUNCATED},
        {"write data missing", First(write, 16), RMAP_CHECK_DATA_TRUNCATED},
        {"read reply data cut", First(read_reply, 13), RMAP_CHECK_DATA_TRUNCATED},
        {"read reply length near 2^24",
         Concat({WithCrc(ReadReplyHeader(0x0C, 0xFFFFFF)), WithCrc({1, 2})}), RMAP_CHECK_DATA_TRUNCATED},
        {"write length near 2^24", Concat({WithCrc(CommandHeader(0x6C, 0xFFFFFE)), WithCrc({1})}),
         RMAP_CHECK_DATA_TRUNCATED},
        {"write extra byte", Append(write, {0x00}), RMAP_CHECK_TOO_LONG},
        {"read with data", Append(read, {0x01, 0x02}), RMAP_CHECK_TOO_LONG},
        {"write reply extra byte", Append(write_reply, {0x00}), RMAP_CHECK_TOO_LONG},
        {"read reply extra byte", Append(read_reply, {0x00}), RMAP_CHECK_TOO_LONG},
        {"write data CRC", Flip(write, 18, 0x01), RMAP_CHECK_DATA_CRC},
        {"write data changed", Flip(write, 16, 0x80), RMAP_CHECK_DATA_CRC},
        {"read reply data CRC", Flip(read_reply, 12, 0x04), RMAP_CHECK_DATA_CRC},
        {"rmw command length 3", Concat({WithCrc(CommandHeader(0x5C, 3)), WithCrc({1, 2, 3})}),
         RMAP_CHECK_READ_MODIFY_WRITE_LENGTH},
        {"rmw command length 10", Concat({WithCrc(CommandHeader(0x5C, 10)), WithCrc(Bytes(10, 1))}),
         RMAP_CHECK_READ_MODIFY_WRITE_LENGTH},
        {"rmw reply length 5", Concat({WithCrc(ReadReplyHeader(0x1C, 5)), WithCrc(Bytes(5, 1))}),
         RMAP_CHECK_READ_MODIFY_WRITE_LENGTH},
    };
    for (const auto &c : cases) EXPECT_EQ(Check(c.packet), c.expected) << c.name;
}

TEST(Rejections, NullBytes) {
    RmapPacketInfo info;
    EXPECT_EQ(RMAP_CheckPacketValid(nullptr, 0, &info, 1), RMAP_CHECK_TOO_SHORT);
    EXPECT_EQ(RMAP_CheckPacketValid(nullptr, 16, &info, 1), RMAP_CHECK_NULL_BYTES);
    EXPECT_EQ(RMAP_CheckPacketValid(nullptr, 0xFFFFFFFFu, &info, 1), RMAP_CHECK_NULL_BYTES);
    EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_INVALID);
}

TEST(Rejections, FailureClearsTheRecord) {
    RmapPacketInfo info;
    ASSERT_EQ(Check(WithCrc(WriteReplyHeader(0x2C, 3)), info), RMAP_CHECK_OK);
    EXPECT_EQ(Check(Bytes{0xFE, 0x02, 0x4C}, info), RMAP_CHECK_PROTOCOL_ID);
    EXPECT_EQ(RMAP_GetPacketType(&info), RMAP_PACKET_TYPE_INVALID);
    EXPECT_EQ(RMAP_GetStatus(&info), 0);
    EXPECT_EQ(RMAP_GetTransactionID(&info), 0);
    unsigned int count = 7;
    EXPECT_EQ(RMAP_GetData(&info, &count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST(Rejections, EveryShorterPrefixOfAValidPacketIsRejected) {
    const Bytes packets[] = {
        Concat({{0x02, 0x11}, WithCrc(CommandHeader(0x6D, 3, {0, 0, 0, 0x05})), WithCrc({7, 8, 9})}),
        WithCrc(CommandHeader(0x4F, 8, Bytes(12, 0x01))),
        Concat({WithCrc(ReadReplyHeader(0x0C, 3)), WithCrc({7, 8, 9})}),
        WithCrc(WriteReplyHeader(0x3C)),
    };
    for (const Bytes &packet : packets) {
        ASSERT_EQ(Check(packet), RMAP_CHECK_OK);
        for (std::size_t length = 0; length < packet.size(); ++length)
            EXPECT_NE(Check(First(packet, length)), RMAP_CHECK_OK) << length;
    }
}

TEST(Rejections, NoSingleBitErrorIsAccepted) {
    const Bytes packets[] = {
        Concat({WithCrc(CommandHeader(0x6C, 4)), WithCrc({0x10, 0x20, 0x30, 0x40})}),
        WithCrc(CommandHeader(0x4D, 4, {0x00, 0x00, 0x00, 0x06})),
        Concat({WithCrc(ReadReplyHeader(0x0C, 2)), WithCrc({0xAB, 0xCD})}),
        WithCrc(WriteReplyHeader(0x2C)),
    };
    for (const Bytes &packet : packets) {
        ASSERT_EQ(Check(packet), RMAP_CHECK_OK);
        for (std::size_t i = 0; i < packet.size(); ++i)
            for (int bit = 0; bit < 8; ++bit)
                EXPECT_NE(Check(Flip(packet, i, static_cast<std::uint8_t>(1u << bit))), RMAP_CHECK_OK)
                    << i << " " << bit;
    }
}

TEST(Rejections, AccessorsOnANullRecord) {
    unsigned long long address_length = 5;
    unsigned int data_length = 5;
    EXPECT_EQ(RMAP_GetPacketType(nullptr), RMAP_PACKET_TYPE_INVALID);
    EXPECT_EQ(RMAP_GetReplyAddress(nullptr, &address_length), nullptr);
    EXPECT_EQ(address_length, 0u);
    EXPECT_EQ(RMAP_GetTargetAddress(nullptr, nullptr), nullptr);
    EXPECT_EQ(RMAP_GetData(nullptr, &data_length), nullptr);
    EXPECT_EQ(data_length, 0u);
    EXPECT_EQ(RMAP_GetStatus(nullptr), 0);
    EXPECT_EQ(RMAP_GetHeaderCRC(nullptr), 0);
}

// ----------------------------------------------------------- large packets

TEST(LargePackets, LargestWriteBuildsAndValidates) {
    const Bytes data(0xFFFFFF, 0x5A);
    const Bytes target{0xFE}, reply{0x20};
    unsigned int length = 0;
    RmapPacketInfo built;
    Packet packet(RMAP_BuildWriteCommandPacket(target.data(), 1, reply.data(), 1, 0, 1, 1, 0, 0, 0, 0, data.data(),
                                               0xFFFFFF, &length, &built, 1));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(length, 16u + 0xFFFFFF + 1);
    EXPECT_EQ(packet.get()[12], 0xFF);
    EXPECT_EQ(packet.get()[13], 0xFF);
    EXPECT_EQ(packet.get()[14], 0xFF);
    EXPECT_EQ(RMAP_GetDataCRC(&built), rmap_test::ReferenceCrc(data));
    RmapPacketInfo info;
    ASSERT_EQ(RMAP_CheckPacketValid(packet.get(), length, &info, 1), RMAP_CHECK_OK);
    EXPECT_EQ(info.data_count, 0xFFFFFFu);
    EXPECT_EQ(RMAP_CheckPacketValid(packet.get(), length - 1, &info, 1), RMAP_CHECK_DATA_TRUNCATED);
}

} // namespace
