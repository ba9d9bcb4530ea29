// The target's side of the codec: the CRC, decoding commands with the status
// a target answers, and building its replies.
#include <gtest/gtest.h>

#include <tuple>

#include "quill_rmap_target.h"
#include "support/hand_rmap.h"

namespace {

using namespace hand_rmap;
using quill_rmap::Command;
using quill_rmap::CommandCheck;
using quill_rmap::Crc8;
using quill_rmap::DecodeCommand;

Bytes Of(std::span<const std::uint8_t> bytes) { return Bytes(bytes.begin(), bytes.end()); }

// The bitwise CRC of these tests is pinned by the standard's check values,
// and the codec's table-driven one must agree with it on every byte.
TEST(Crc8, CheckValuesAndEveryTableEntry)
{
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, eight{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(std::tuple(Crc8(digits), Crc(digits), Crc8(eight), Crc(eight)), std::tuple(0x20, 0x20, 0xb0, 0xb0));
    for (unsigned i = 0; i < 256; ++i) {
        const Bytes one{static_cast<std::uint8_t>(i)};
        EXPECT_EQ(Crc8(one), Crc(one)) << i;
    }
    EXPECT_EQ(Crc8(Bytes{0x30, 0x40}, Crc8(Bytes{0x10, 0x20})), Crc(Bytes{0x10, 0x20, 0x30, 0x40}));
    // Lengths around the blocks the codec takes at once, at every alignment,
    // with a start value carried in.
    Bytes mixed(80);
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        mixed[i] = static_cast<std::uint8_t>(i * 167 + 13);
    }
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t length = 0; start + length <= mixed.size(); ++length) {
            const std::span<const std::uint8_t> before(mixed.data(), start);
            const std::span<const std::uint8_t> part(mixed.data() + start, length);
            ASSERT_EQ(Crc8(part, Crc8(before)), Crc(std::span(mixed.data(), start + length))) << start << " " << length;
        }
    }
}

// The tests' own packet builder against packets worked out on paper.
TEST(HandBuiltPackets, MatchPacketsWorkedOutOnPaper)
{
    EXPECT_EQ(WithData({{3, 5}, 0xfe, kCommand | kWrite | kVerify, 0x20, {7, 1}, 0x20, 0xabcd, 0x9a, 0x12345678}, {0xaa}),
              (Bytes{0x03, 0x05, 0xfe, 0x01, 0x71, 0x20, 0x00, 0x00, 0x07, 0x01, 0x20, 0xab,
                     0xcd, 0x9a, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x01, 0x22, 0xaa, 0x35}));
    EXPECT_EQ(ReadReply({.transaction = 1}, 0, {0xde, 0xad, 0xbe, 0xef}),
              (Bytes{0x20, 0x01, 0x0c, 0x00, 0xfe, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x83, 0xde, 0xad, 0xbe, 0xef, 0x48}));
    EXPECT_EQ(WriteReply({.instruction = kWriteAcked, .reply_path = {7, 1}, .transaction = 0xabcd}, 0),
              (Bytes{0x20, 0x01, 0x2d, 0x00, 0xfe, 0xab, 0xcd, 0x38}));
}

TEST(DecodeCommand, EveryField)
{
    // The decoded spans point into the packet: it must outlive the checks.
    const Bytes write = WithData({{}, 0xfe, kWriteAcked | kVerify, 0x5a, {3, 0, 4, 0, 5}, 0x40, 0xabcd, 0x9a, 0x12345678},
                                 {0xa1, 0xa2, 0xa3});
    Command c;
    ASSERT_EQ(DecodeCommand(write, c), CommandCheck::Ok);
    EXPECT_EQ(std::tuple(c.target_logical_address, c.instruction, c.key, c.initiator_logical_address, c.transaction_id,
                         c.extended_address, c.address, c.data_length),
              std::tuple(0xfe, 0x7e, 0x5a, 0x40, 0xabcd, 0x9a, 0x12345678u, 3u));
    EXPECT_TRUE(c.write && c.verify && c.reply && c.increment && !c.read_modify_write);
    EXPECT_EQ(Of(quill_rmap::ReplyPath(c)), (Bytes{3, 0, 4, 0, 5})); // only leading zeros are padding
    EXPECT_EQ(Of(c.data), (Bytes{0xa1, 0xa2, 0xa3}));
    EXPECT_TRUE(c.mask.empty());
}

TEST(DecodeCommand, FaultsInTheOrderATargetChecksThem)
{
    const Bytes code_0110 = Header({.instruction = kCommand | kVerify | kReply, .length = 4});
    const auto write = [](std::uint32_t length, const Bytes &rest) {
        return Cat({Header({.instruction = kWriteAcked, .length = length}), rest});
    };
    const struct {
        const char *name;
        Bytes packet;
        CommandCheck expected;
    } cases[] = {
        {"reply instruction", Header({.instruction = kReply | kIncrement, .length = 4}), CommandCheck::NotACommand},
        {"header one byte short", First(Header({.reply_path = {0x20}, .length = 4}), 19), CommandCheck::NotACommand},
        {"header CRC before the code", Flip(code_0110, 15, 0x80), CommandCheck::HeaderCrcError},
        {"code 0110", code_0110, CommandCheck::InvalidCommandCode},
        {"write early EOP", write(4, {1, 2, 3, 4}), CommandCheck::EarlyEop},
        {"write too much data", write(2, {1, 2, 3, 4}), CommandCheck::TooMuchData},
        {"read with a byte behind", Cat({Header({.length = 4}), {0}}), CommandCheck::TooMuchData},
        {"write data CRC", write(2, {1, 2, 0}), CommandCheck::DataCrcError},
        {"rmw length 3", WithData({.instruction = kReadModifyWrite}, {1, 2, 3}), CommandCheck::RmwLengthError},
        {"rmw length 3 cut short", Cat({Header({.instruction = kReadModifyWrite, .length = 3}), {1}}),
         CommandCheck::EarlyEop},
    };
    for (const auto &c : cases) {
        Command command;
        EXPECT_EQ(DecodeCommand(c.packet, command), c.expected) << c.name;
    }
}

TEST(TargetReplies, BuiltAsTheFormatsLayThemOut)
{
    const CommandFields write{.instruction = kWriteAcked, .reply_path = {7, 1}, .transaction = 0xabcd};
    const CommandFields read{.length = 4}, rmw{.instruction = kReadModifyWrite};
    const Bytes data{0xde, 0xad, 0xbe, 0xef}, old{0x33, 0x44};
    const Bytes packets[] = {WithData(write, {0x99}), Header(read), WithData(rmw, {1, 2, 3, 4}),
                             Header({.instruction = 0xcc, .length = 4})};
    Command w, r, m, reserved;
    ASSERT_EQ(std::tuple(DecodeCommand(packets[0], w), DecodeCommand(packets[1], r), DecodeCommand(packets[2], m),
                         DecodeCommand(packets[3], reserved)),
              std::tuple(CommandCheck::Ok, CommandCheck::Ok, CommandCheck::Ok, CommandCheck::InvalidCommandCode));
    // The reply path goes in front; the command bit is cleared, the others kept.
    EXPECT_EQ(quill_rmap::BuildWriteReply(w, 4), Cat({{7, 1}, WriteReply(write, 4)}));
    EXPECT_EQ(quill_rmap::BuildReadReply(r, 0, data), ReadReply(read, 0, data));
    EXPECT_EQ(quill_rmap::BuildReadReply(r, 3, data), ReadReply(read, 3, {})); // a failed read returns no data
    EXPECT_EQ(quill_rmap::BuildReadReply(m, 0, old), ReadReply(rmw, 0, old));
    // A reply's packet type is always 00, whatever the command carried.
    EXPECT_EQ(quill_rmap::BuildReadReply(reserved, 2, {}), ReadReply(read, 2, {}));
    EXPECT_EQ(quill_rmap::BuildWriteReply(reserved, 2)[2], 0x0c);
}

// Leading zeros of the reply address field are padding, except that a field
// of zeros only is the path 00 (a router's port 0); replies carry it in front.
TEST(TargetReplies, ReplyPathOfAZeroPaddedField)
{
    const struct {
        Bytes field; // laid out as the reply path, padded to whole words
        Bytes path;
    } cases[] = {
        {{}, {}},           {{0}, {0}},       {Bytes(8, 0), {0}},         {Bytes(12, 0), {0}},
        {{0, 0, 0, 7}, {7}}, {{0, 7, 0}, {7, 0}}, {Cat({Bytes(11, 0), {9}}), {9}},
    };
    const Bytes data{0xde, 0xad};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        const CommandFields write{.instruction = kWriteAcked, .reply_path = c.field}, read{.reply_path = c.field, .length = 2};
        const Bytes packets[] = {WithData(write, {0x99}), Header(read)};
        Command w, r;
        ASSERT_EQ(std::tuple(DecodeCommand(packets[0], w), DecodeCommand(packets[1], r)),
                  std::tuple(CommandCheck::Ok, CommandCheck::Ok));
        EXPECT_EQ(std::tuple(Of(quill_rmap::ReplyPath(w)), Of(quill_rmap::ReplyPath(r))), std::tuple(c.path, c.path));
        EXPECT_EQ(quill_rmap::BuildWriteReply(w, 0), Cat({c.path, WriteReply(write, 0)}));
        EXPECT_EQ(quill_rmap::BuildReadReply(r, 0, data), Cat({c.path, ReadReply(read, 0, data)}));
    }
}

} // namespace
