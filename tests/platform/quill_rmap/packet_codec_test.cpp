// The codec, a C library with a contract of its own, where the goldens do
// not reach: builds refused at their limits, every malformed shape of a
// packet with its own code, and the reply path in front of a reply (the
// simulated links take it off).
// The goldens' traces show, byte for byte, the commands the program builds
// and the replies the target builds and the program reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <tuple>

#include "device/quill_rmap.h"
#include "quill_rmap_target.h"
#include "support/hand_rmap.h"

namespace {

using namespace hand_rmap;
using quill_rmap::Command;
using quill_rmap::CommandCheck;
using quill_rmap::DecodeCommand;

// Every field of a record, pointers as offsets from base (-1 for null), so
// that records describing copies of a packet compare equal.
auto Fields(const RmapPacketInfo &i, const void *base)
{
    const auto at = [base](const void *p) {
        return p == nullptr ? std::ptrdiff_t{-1}
                            : static_cast<const unsigned char *>(p) - static_cast<const unsigned char *>(base);
    };
    return std::tuple(i.packet_type, i.instruction, i.key, i.status, i.transaction_id, i.extended_address, i.address,
                      i.data_length, at(i.packet), i.packet_length, at(i.target_address), i.target_address_length,
                      at(i.reply_address), i.reply_address_length, at(i.data), i.data_count, i.header_crc, i.data_crc,
                      at(i.header_crc_location), at(i.data_crc_location));
}

RmapPacketInfo Filled(unsigned char byte)
{
    RmapPacketInfo info;
    std::memset(&info, byte, sizeof info);
    return info;
}

// A cleared record: nothing but the invalid packet type.
const auto kCleared = [] {
    RmapPacketInfo info = Filled(0x00);
    info.packet_type = RMAP_PACKET_TYPE_INVALID;
    return Fields(info, nullptr);
}();

struct Built {
    std::unique_ptr<unsigned char, decltype(&RMAP_FreeBuffer)> packet{nullptr, RMAP_FreeBuffer};
    unsigned length = 99; // a failed build must clear it
    RmapPacketInfo info{};
    Bytes bytes() const { return packet ? Bytes(packet.get(), packet.get() + length) : Bytes{}; }
};

// Which builder to call, named by the packet type it builds.
enum Kind : int { kReadCall = RMAP_PACKET_TYPE_READ_COMMAND, kWriteCall = RMAP_PACKET_TYPE_WRITE_COMMAND,
                  kRmwCall = RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND };

// The builders' arguments.  A null_ flag passes a null pointer with the count kept.
struct Args {
    Kind kind = kWriteCall;
    Bytes target{0xfe}, reply{0x20};
    unsigned char verify = 0, acknowledge = 1, increment = 1, key = 0;
    unsigned short id = 0x1234;
    unsigned address = 0;
    unsigned char extended = 0;
    Bytes data{}, mask{};
    std::optional<unsigned> length{}; // write data count, read length, read/modify/write data length
    bool null_target = false, null_reply = false, null_data = false, null_mask = false;
};

// Built into a record that held zeros and one that held 0xa5: the builder
// writes the caller's record field by field, and nothing may show through.
Built Build(const Args &a)
{
    const unsigned char *t = a.null_target ? nullptr : a.target.data(), *r = a.null_reply ? nullptr : a.reply.data();
    const unsigned char *d = a.null_data ? nullptr : a.data.data(), *m = a.null_mask ? nullptr : a.mask.data();
    const auto tn = static_cast<unsigned>(a.target.size()), rn = static_cast<unsigned>(a.reply.size());
    const auto n = static_cast<unsigned>(a.data.size() + a.mask.size());
    Built b[2];
    for (Built &one : b) {
        one.info = Filled(&one == b ? 0x00 : 0xa5);
        if (a.kind == kWriteCall)
            one.packet.reset(RMAP_BuildWriteCommandPacket(t, tn, r, rn, a.verify, a.acknowledge, a.increment, a.key,
                                                          a.id, a.address, a.extended, d, a.length.value_or(n),
                                                          &one.length, &one.info, 1));
        else if (a.kind == kReadCall)
            one.packet.reset(RMAP_BuildReadCommandPacket(t, tn, r, rn, a.increment, a.key, a.id, a.address,
                                                         a.extended, a.length.value_or(4), &one.length, &one.info, 1));
        else
            one.packet.reset(RMAP_BuildReadModifyWriteCommandPacket(
                t, tn, r, rn, a.key, a.id, a.address, a.extended, static_cast<unsigned char>(a.length.value_or(n)),
                d, m, &one.length, &one.info, 1));
    }
    EXPECT_EQ(b[0].bytes(), b[1].bytes());
    EXPECT_EQ(Fields(b[0].info, b[0].packet.get()), Fields(b[1].info, b[1].packet.get()));
    return std::move(b[0]);
}

// Checked into a record that held zeros, one that held 0xa5 and none: the
// same result, nothing the record held shows through, a failure clears it.
int Check(const unsigned char *bytes, std::size_t length, RmapPacketInfo &info)
{
    const auto n = static_cast<unsigned>(length);
    RmapPacketInfo dirty = Filled(0xa5);
    info = Filled(0x00);
    const int result = RMAP_CheckPacketValid(bytes, n, &info, 1);
    EXPECT_EQ(std::tuple(RMAP_CheckPacketValid(bytes, n, &dirty, 1), RMAP_CheckPacketValid(bytes, n, nullptr, 1)),
              std::tuple(result, result));
    EXPECT_EQ(Fields(dirty, bytes), Fields(info, bytes));
    EXPECT_TRUE(result == RMAP_CHECK_OK || Fields(info, nullptr) == kCleared);
    return result;
}

// A heap copy of exactly the packet's length: no slack to read into.
int Check(const Bytes &bytes)
{
    std::unique_ptr<unsigned char[]> exact(new unsigned char[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    RmapPacketInfo info;
    return Check(exact.get(), bytes.size(), info);
}

// An address or data field through its accessor, copied out.
template <typename Count>
Bytes Field(const unsigned char *(*get)(const RmapPacketInfo *, Count *), const RmapPacketInfo *info)
{
    Count n = 0;
    const unsigned char *bytes = get(info, &n);
    return bytes != nullptr ? Bytes(bytes, bytes + n) : Bytes{};
}

Bytes Of(std::span<const std::uint8_t> bytes) { return Bytes(bytes.begin(), bytes.end()); }

// Refused builds leave no packet and a cleared record; the longest reply
// path and the largest write are built, and the write's last byte is needed.
TEST(BuildCommand, ArgumentsAtTheirLimits)
{
    const Bytes path13(14, 1), five(5, 1);
    const Args refused[] = {
        {.target = {}}, {.reply = {}}, {.reply = path13}, {.length = 0x1000000}, {.null_target = true},
        {.null_reply = true}, {.data = {1}, .null_data = true}, {.kind = kReadCall, .target = {}},
        {.kind = kReadCall, .reply = path13}, {.kind = kReadCall, .length = 0x1000000},
        {.kind = kRmwCall, .data = five, .mask = five}, {.kind = kRmwCall, .data = five, .mask = five, .length = 3},
        {.kind = kRmwCall, .data = {1}, .mask = {2}, .null_data = true},
        {.kind = kRmwCall, .data = {1}, .mask = {2}, .null_mask = true},
    };
    for (const Args &a : refused) {
        const Built b = Build(a);
        EXPECT_TRUE(b.packet == nullptr && b.length == 0 && Fields(b.info, nullptr) == kCleared) << &a - refused;
    }
    RMAP_FreeBuffer(nullptr); // harmless
    // The longest reply path, twelve bytes in front of the initiator, is built.
    const Bytes path12(12, 7);
    EXPECT_EQ(Build({.kind = kReadCall, .reply = Cat({path12, {0x20}})}).bytes(),
              Header({.reply_path = path12, .length = 4}));
    const Bytes data(0xffffff, 0x5a);
    const Built b = Build({.data = data});
    ASSERT_TRUE(b.bytes() == WithData({.instruction = kWriteAcked}, data));
    EXPECT_EQ(RMAP_CheckPacketValid(b.packet.get(), b.length, nullptr, 1), RMAP_CHECK_OK);
    EXPECT_EQ(RMAP_CheckPacketValid(b.packet.get(), b.length - 1, nullptr, 1), RMAP_CHECK_DATA_TRUNCATED);
}

TEST(CheckPacket, EveryMalformedShapeHasItsCode)
{
    const CommandFields w{.instruction = kWriteAcked};
    const Bytes write = WithData(w, {1, 2}), read = Header({.length = 4});
    const Bytes read_reply = ReadReply({}, 0, {1, 2}), write_reply = WriteReply(w, 0);
    const struct {
        const char *name;
        Bytes packet;
        int expected;
    } cases[] = {
        {"empty", {}, RMAP_CHECK_TOO_SHORT},
        {"path bytes, then two bytes", {0x01, 0x1f, 0x00, 0xfe, 0x01}, RMAP_CHECK_TOO_SHORT},
        {"protocol 0", Flip(read, 1, 0x01), RMAP_CHECK_PROTOCOL_ID},
        {"command reserved bit", Header({.instruction = 0xcc}), RMAP_CHECK_RESERVED_BIT},
        {"reply reserved bit", Flip(read_reply, 2, 0x80), RMAP_CHECK_RESERVED_BIT},
        {"command code 0110", Header({.instruction = kCommand | kVerify | kReply}), RMAP_CHECK_COMMAND_CODE},
        {"reply code 0110", Flip(read_reply, 2, 0x14), RMAP_CHECK_COMMAND_CODE},
        {"write reply without reply bit", Flip(write_reply, 2, kReply), RMAP_CHECK_COMMAND_CODE},
        {"reply address field missing", Header({.instruction = kReadIncrementing | 2}), RMAP_CHECK_HEADER_TRUNCATED},
        {"read reply header cut", First(read_reply, 11), RMAP_CHECK_HEADER_TRUNCATED},
        {"command header CRC", Flip(read, 15, 0x01), RMAP_CHECK_HEADER_CRC},
        {"read reply header CRC", Flip(read_reply, 11), RMAP_CHECK_HEADER_CRC},
        {"write data CRC missing", First(write, 18), RMAP_CHECK_DATA_TRUNCATED},
        {"read reply data cut", First(read_reply, 13), RMAP_CHECK_DATA_TRUNCATED},
        {"write extra byte", Cat({write, {0}}), RMAP_CHECK_TOO_LONG},
        {"read with data", Cat({read, {1, 2}}), RMAP_CHECK_TOO_LONG},
        {"write reply extra byte", Cat({write_reply, {0}}), RMAP_CHECK_TOO_LONG},
        {"read reply extra byte", Cat({read_reply, {0}}), RMAP_CHECK_TOO_LONG},
        {"write data CRC", Flip(write, 18, 0x01), RMAP_CHECK_DATA_CRC},
        {"read reply data CRC", Flip(read_reply, 12, 0x04), RMAP_CHECK_DATA_CRC},
        {"rmw length 3", WithData({.instruction = kReadModifyWrite}, {1, 2, 3}), RMAP_CHECK_READ_MODIFY_WRITE_LENGTH},
        {"rmw length 10", WithData({.instruction = kReadModifyWrite}, Bytes(10, 1)),
         RMAP_CHECK_READ_MODIFY_WRITE_LENGTH},
        {"rmw reply length 5", ReadReply({.instruction = kReadModifyWrite}, 0, Bytes(5, 1)),
         RMAP_CHECK_READ_MODIFY_WRITE_LENGTH},
    };
    for (const auto &c : cases) EXPECT_EQ(Check(c.packet), c.expected) << c.name;
    RmapPacketInfo info;
    EXPECT_EQ(std::tuple(Check(nullptr, 16, info), Check(nullptr, 0, info)),
              std::tuple(RMAP_CHECK_NULL_BYTES, RMAP_CHECK_TOO_SHORT));
    // A null record reads as a cleared one.
    EXPECT_TRUE(RMAP_GetPacketType(nullptr) == RMAP_PACKET_TYPE_INVALID && RMAP_GetStatus(nullptr) == 0 &&
                RMAP_GetTransactionID(nullptr) == 0 && Field(RMAP_GetReplyAddress, nullptr).empty() &&
                Field(RMAP_GetData, nullptr).empty());
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
