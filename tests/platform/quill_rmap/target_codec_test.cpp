// The target's side of the codec: decoding commands with the status a
// target answers, and building its replies.
#include <gtest/gtest.h>

#include "quill_rmap_target.h"
#include "reference_crc.h"

namespace {

using quill_rmap::BuildReadReply;
using quill_rmap::BuildWriteReply;
using quill_rmap::Command;
using quill_rmap::CommandCheck;
using quill_rmap::DecodeCommand;
using rmap_test::Bytes;
using rmap_test::Concat;
using rmap_test::WithCrc;

Bytes Span(std::span<const std::uint8_t> s) { return Bytes(s.begin(), s.end()); }

Bytes First(Bytes bytes, std::size_t count) {
    bytes.resize(count);
    return bytes;
}

// A command header from target logical address to data length, without CRC.
Bytes Header(std::uint8_t instruction, Bytes reply_field, std::uint32_t length, std::uint8_t key = 0x00,
             std::uint16_t id = 0x0001) {
    return Concat({{0xFE, 0x01, instruction, key},
                   reply_field,
                   {0x20, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id), 0x00, 0x00, 0x00,
                    0x10, 0x00, static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
                    static_cast<std::uint8_t>(length)}});
}

TEST(DecodeCommand, WriteWithEveryField) {
    const Bytes packet = Concat({WithCrc({0xFE, 0x01, 0x7D, 0x5A, 0x00, 0x00, 0x07, 0x01, 0x40, 0xAB, 0xCD, 0x9A,
                                          0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x03}),
                                 WithCrc({0xA1, 0xA2, 0xA3})});
    Command c;
    ASSERT_EQ(DecodeCommand(packet, c), CommandCheck::Ok);
    EXPECT_EQ(c.target_logical_address, 0xFE);
    EXPECT_EQ(c.instruction, 0x7D);
    EXPECT_EQ(c.key, 0x5A);
    EXPECT_EQ(Span(c.reply_address_field), (Bytes{0x00, 0x00, 0x07, 0x01}));
    EXPECT_EQ(Span(quill_rmap::ReplyPath(c)), (Bytes{0x07, 0x01}));
    EXPECT_EQ(c.initiator_logical_address, 0x40);
    EXPECT_EQ(c.transaction_id, 0xABCD);
    EXPECT_EQ(c.extended_address, 0x9A);
    EXPECT_EQ(c.address, 0x12345678u);
    EXPECT_EQ(c.data_length, 3u);
    EXPECT_TRUE(c.write);
    EXPECT_TRUE(c.verify);
    EXPECT_TRUE(c.reply);
    EXPECT_TRUE(c.increment);
    EXPECT_FALSE(c.read_modify_write);
    EXPECT_EQ(Span(c.data), (Bytes{0xA1, 0xA2, 0xA3}));
    EXPECT_TRUE(c.mask.empty());
}

TEST(DecodeCommand, ReadModifyWriteSplitsDataAndMask) {
    const Bytes packet = Concat({WithCrc(Header(0x5C, {}, 8)), WithCrc({1, 2, 3, 4, 0xF1, 0xF2, 0xF3, 0xF4})});
    Command c;
    ASSERT_EQ(DecodeCommand(packet, c), CommandCheck::Ok);
    EXPECT_TRUE(c.read_modify_write);
    EXPECT_FALSE(c.write);
    EXPECT_EQ(Span(c.data), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Span(c.mask), (Bytes{0xF1, 0xF2, 0xF3, 0xF4}));
}

TEST(DecodeCommand, ReadSingleAndIncrementing) {
    Command c;
    ASSERT_EQ(DecodeCommand(WithCrc(Header(0x48, {}, 4)), c), CommandCheck::Ok);
    EXPECT_FALSE(c.increment);
    EXPECT_FALSE(c.write);
    EXPECT_EQ(c.data_length, 4u);
    ASSERT_EQ(DecodeCommand(WithCrc(Header(0x4C, {}, 0xFFFFFF)), c), CommandCheck::Ok);
    EXPECT_TRUE(c.increment);
    EXPECT_EQ(c.data_length, 0xFFFFFFu);
}

// Each fault with the outcome a target acts on.
TEST(DecodeCommand, FaultsInTheOrderATargetChecksThem) {
    Bytes bad_header_crc = WithCrc(Header(0x4C, {}, 4));
    bad_header_crc.back() ^= 0x01;
    const Bytes reply_bit_clear = WithCrc(Header(0x0C, {}, 4));
    Bytes invalid_code_bad_crc = WithCrc(Header(0x58, {}, 4)); // code 0110
    invalid_code_bad_crc.back() ^= 0x80;
    const struct {
        const char *name;
        Bytes packet;
        CommandCheck expected;
    } cases[] = {
        {"empty", {}, CommandCheck::NotACommand},
        {"two bytes", {0xFE, 0x01}, CommandCheck::NotACommand},
        {"protocol 2", WithCrc({0xFE, 0x02, 0x4C, 0x00, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04}),
         CommandCheck::NotACommand},
        {"reply instruction", reply_bit_clear, CommandCheck::NotACommand},
        {"header cut short", Bytes{0xFE, 0x01, 0x4C, 0x00, 0x20, 0x00}, CommandCheck::NotACommand},
        {"header one byte short", First(WithCrc(Header(0x4D, {0, 0, 0, 0x20}, 4)), 19), CommandCheck::NotACommand},
        {"header CRC", bad_header_crc, CommandCheck::HeaderCrcError},
        {"header CRC before invalid code", invalid_code_bad_crc, CommandCheck::HeaderCrcError},
        {"code 0000", WithCrc(Header(0x40, {}, 4)), CommandCheck::InvalidCommandCode},
        {"code 0001", WithCrc(Header(0x44, {}, 4)), CommandCheck::InvalidCommandCode},
        {"code 0100", WithCrc(Header(0x50, {}, 4)), CommandCheck::InvalidCommandCode},
        {"code 0101", WithCrc(Header(0x54, {}, 4)), CommandCheck::InvalidCommandCode},
        {"code 0110", WithCrc(Header(0x58, {}, 4)), CommandCheck::InvalidCommandCode},
        {"reserved packet type", WithCrc(Header(0xCC, {}, 4)), CommandCheck::InvalidCommandCode},
        {"write early EOP", Concat({WithCrc(Header(0x6C, {}, 4)), {1, 2, 3, 4}}), CommandCheck::EarlyEop},
        {"write no data at all", WithCrc(Header(0x6C, {}, 4)), CommandCheck::EarlyEop},
        {"write too much data", Concat({WithCrc(Header(0x6C, {}, 2)), {1, 2, 3, 4}}), CommandCheck::TooMuchData},
        {"read with trailing byte", Concat({WithCrc(Header(0x4C, {}, 4)), {0}}), CommandCheck::TooMuchData},
        {"write data CRC", Concat({WithCrc(Header(0x6C, {}, 2)), {1, 2, 0x00}}), CommandCheck::DataCrcError},
        {"rmw length 3", Concat({WithCrc(Header(0x5C, {}, 3)), WithCrc({1, 2, 3})}), CommandCheck::RmwLengthError},
        {"rmw length 10", Concat({WithCrc(Header(0x5C, {}, 10)), WithCrc(Bytes(10, 7))}),
         CommandCheck::RmwLengthError},
        {"rmw length 3 cut short", Concat({WithCrc(Header(0x5C, {}, 3)), {1}}), CommandCheck::EarlyEop},
    };
    for (const auto &c : cases) {
        Command command;
        EXPECT_EQ(DecodeCommand(c.packet, command), c.expected) << c.name;
    }
}

TEST(DecodeCommand, HeaderFieldsFilledWhenAFaultIsAnswered) {
    // A status reply needs the initiator, target and transaction identifier.
    const Bytes packet = Concat({WithCrc(Header(0x6D, {0, 0, 0x05, 0x06}, 4, 0x77, 0x4321)), {1, 2}});
    Command c;
    ASSERT_EQ(DecodeCommand(packet, c), CommandCheck::EarlyEop);
    EXPECT_EQ(c.target_logical_address, 0xFE);
    EXPECT_EQ(c.initiator_logical_address, 0x20);
    EXPECT_EQ(c.transaction_id, 0x4321);
    EXPECT_EQ(c.key, 0x77);
    EXPECT_TRUE(c.reply);
    EXPECT_EQ(Span(quill_rmap::ReplyPath(c)), (Bytes{0x05, 0x06}));
    EXPECT_TRUE(c.data.empty());

    const Bytes invalid = WithCrc(Header(0x58, {}, 4, 0x00, 0x0102));
    ASSERT_EQ(DecodeCommand(invalid, c), CommandCheck::InvalidCommandCode);
    EXPECT_EQ(c.transaction_id, 0x0102);
    EXPECT_TRUE(c.reply);
}

TEST(DecodeCommand, DataGivenEvenWithAWrongDataCrc) {
    // A target writing without verification has stored the data already.
    const Bytes packet = Concat({WithCrc(Header(0x6C, {}, 2)), {0x0A, 0x0B, 0x00}});
    Command c;
    ASSERT_EQ(DecodeCommand(packet, c), CommandCheck::DataCrcError);
    EXPECT_EQ(Span(c.data), (Bytes{0x0A, 0x0B}));
    const Bytes rmw = Concat({WithCrc(Header(0x5C, {}, 2)), {0x0A, 0x0B, 0x00}});
    ASSERT_EQ(DecodeCommand(rmw, c), CommandCheck::DataCrcError);
    EXPECT_EQ(Span(c.data), Bytes{0x0A});
    EXPECT_EQ(Span(c.mask), Bytes{0x0B});
    const Bytes odd = Concat({WithCrc(Header(0x5C, {}, 3)), WithCrc({1, 2, 3})});
    ASSERT_EQ(DecodeCommand(odd, c), CommandCheck::RmwLengthError);
    EXPECT_TRUE(c.data.empty());
    EXPECT_TRUE(c.mask.empty());
}

TEST(DecodeCommand, ReplyPathDropsOnlyLeadingZeros) {
    const Bytes packet = WithCrc(Header(0x4E, {0, 0, 0, 0x03, 0x00, 0x04, 0x00, 0x05}, 1));
    Command c;
    ASSERT_EQ(DecodeCommand(packet, c), CommandCheck::Ok);
    EXPECT_EQ(Span(quill_rmap::ReplyPath(c)), (Bytes{0x03, 0x00, 0x04, 0x00, 0x05}));
}

TEST(TargetReplies, WriteReplyWithReplyPath) {
    // Command bit cleared, the other instruction bits kept (0x6D -> 0x2D).
    const Bytes packet = Concat({WithCrc(Header(0x6D, {0, 0, 0x07, 0x01}, 1, 0x00, 0xABCD)), WithCrc({0x99})});
    Command c;
    ASSERT_EQ(DecodeCommand(packet, c), CommandCheck::Ok);
    EXPECT_EQ(BuildWriteReply(c, 0), (Bytes{0x07, 0x01, 0x20, 0x01, 0x2D, 0x00, 0xFE, 0xAB, 0xCD, 0x38}));
    const Bytes with_status = BuildWriteReply(c, 4);
    EXPECT_EQ(with_status, Concat({{0x07, 0x01}, WithCrc({0x20, 0x01, 0x2D, 0x04, 0xFE, 0xAB, 0xCD})}));
}

TEST(TargetReplies, ReadReplyWithData) {
    Command c;
    ASSERT_EQ(DecodeCommand(WithCrc(Header(0x4C, {}, 4)), c), CommandCheck::Ok);
    const Bytes data{0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(BuildReadReply(c, 0, data), (Bytes{0x20, 0x01, 0x0C, 0x00, 0xFE, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04,
                                                 0x83, 0xDE, 0xAD, 0xBE, 0xEF, 0x48}));
}

TEST(TargetReplies, ReadReplyWithErrorStatusCarriesNoData) {
    Command c;
    ASSERT_EQ(DecodeCommand(WithCrc(Header(0x4C, {}, 4)), c), CommandCheck::Ok);
    const Bytes data{0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(BuildReadReply(c, 3, data),
              (Bytes{0x20, 0x01, 0x0C, 0x03, 0xFE, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x42, 0x00}));
}

TEST(TargetReplies, ReadModifyWriteReply) {
    Command c;
    ASSERT_EQ(DecodeCommand(Concat({WithCrc(Header(0x5C, {}, 4, 0, 0x0102)), WithCrc({1, 2, 3, 4})}), c),
              CommandCheck::Ok);
    const Bytes old{0x33, 0x44};
    EXPECT_EQ(BuildReadReply(c, 0, old), (Bytes{0x20, 0x01, 0x1C, 0x00, 0xFE, 0x01, 0x02, 0x00, 0x00, 0x00, 0x02,
                                                0x29, 0x33, 0x44, 0xFF}));
}

} // namespace

namespace {

TEST(TargetReplies, ReplyToAReservedPacketTypeIsAPlainReply) {
    // The reply's packet type is always 00, whatever the command carried.
    quill_rmap::Command c;
    ASSERT_EQ(DecodeCommand(WithCrc(Header(0xCC, {}, 4)), c), CommandCheck::InvalidCommandCode);
    EXPECT_EQ(quill_rmap::BuildReadReply(c, 2, {}),
              Concat({WithCrc({0x20, 0x01, 0x0C, 0x02, 0xFE, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}), {0x00}}));
    EXPECT_EQ(quill_rmap::BuildWriteReply(c, 2)[2], 0x0C);
}

} // namespace
