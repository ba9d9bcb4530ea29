// The target's side of the codec: the CRC, decoding commands with the status
// a target answers, and building its replies.  The goldens under
// tests/e2e/cases/far_end drive it through the simulated target, but there a
// reply has lost its reply path on the way back and a discarded command
// shows nothing.
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

// The reference CRC is pinned by the standard's check values; the codec's
// table-driven one agrees with it on every byte value, on every length
// around the blocks it takes at once, at every alignment, with a start value
// carried in.
TEST(Crc8, AgreesWithTheReference)
{
    EXPECT_EQ(std::tuple(Crc(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), Crc(Bytes{1, 2, 3, 4, 5, 6, 7, 8})),
              std::tuple(0x20, 0xb0));
    Bytes mixed(256 + 80); // every byte value: 167 is odd
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<std::uint8_t>(i * 167 + 13);
    const std::span<const std::uint8_t> all(mixed);
    for (std::size_t start = 0; start < 8; ++start)
        for (std::size_t end = start; end <= all.size(); ++end)
            ASSERT_EQ(Crc8(all.subspan(start, end - start), Crc8(all.first(start))), Crc(all.first(end)))
                << start << " " << end;
}

// What the goldens cannot show: commands the target discards, and which
// fault decides where two meet.  Each status alone is a far_end golden.
TEST(DecodeCommand, FaultsInTheOrderATargetChecksThem)
{
    const struct {
        const char *name;
        Bytes packet;
        CommandCheck expected;
    } cases[] = {
        {"reply instruction", Header({.instruction = kReply | kIncrement, .length = 4}), CommandCheck::NotACommand},
        {"header one byte short", First(Header({.reply_path = {0x20}, .length = 4}), 19), CommandCheck::NotACommand},
        {"header CRC before code 0110", Flip(Header({.instruction = kCommand | kVerify | kReply}), 15, 0x80),
         CommandCheck::HeaderCrcError},
        {"read with a byte behind", Cat({Header({.length = 4}), {0}}), CommandCheck::TooMuchData},
        {"rmw length 3 cut short", Cat({Header({.instruction = kReadModifyWrite, .length = 3}), {1}}),
         CommandCheck::EarlyEop},
    };
    for (const auto &row : cases) {
        Command c;
        EXPECT_EQ(DecodeCommand(row.packet, c), row.expected) << row.name;
    }
}

// A reply travels with the reply path in front: leading zeros of the reply
// address field are padding, but a field of zeros only is the path 00 (a
// router's port 0).  The command bit is cleared, the others kept.
TEST(TargetReplies, BuiltAsTheFormatsLayThemOut)
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
        const CommandFields write{.instruction = kWriteAcked, .reply_path = c.field, .transaction = 0xabcd},
            read{.reply_path = c.field, .length = 2};
        const Bytes packets[] = {WithData(write, {0x99}), Header(read)};
        Command w, r;
        ASSERT_EQ(std::tuple(DecodeCommand(packets[0], w), DecodeCommand(packets[1], r)),
                  std::tuple(CommandCheck::Ok, CommandCheck::Ok));
        EXPECT_EQ(std::tuple(Of(quill_rmap::ReplyPath(w)), Of(quill_rmap::ReplyPath(r))), std::tuple(c.path, c.path));
        EXPECT_EQ(quill_rmap::BuildWriteReply(w, 4), Cat({c.path, WriteReply(write, 4)}));
        EXPECT_EQ(quill_rmap::BuildReadReply(r, 0, data), Cat({c.path, ReadReply(read, 0, data)}));
    }
    // A failed command returns no data, whatever it is handed; a reply's
    // packet type is always 00, whatever the command carried.
    const CommandFields rmw{.instruction = kReadModifyWrite}, reserved{.instruction = 0xcc, .length = 4};
    const Bytes packets[] = {WithData(rmw, {1, 2, 3, 4}), Header(reserved)};
    Command m, x;
    ASSERT_EQ(std::tuple(DecodeCommand(packets[0], m), DecodeCommand(packets[1], x)),
              std::tuple(CommandCheck::Ok, CommandCheck::InvalidCommandCode));
    EXPECT_EQ(quill_rmap::BuildReadReply(m, 3, data), ReadReply(rmw, 3, {}));
    EXPECT_EQ(std::tuple(quill_rmap::BuildReadReply(x, 2, {}), quill_rmap::BuildWriteReply(x, 2)[2]),
              std::tuple(ReadReply({.length = 4}, 2, {}), 0x0c));
}

} // namespace
