// The program's side of the codec: built commands compared byte for byte
// with packets put together by hand and read back after validation, then
// received packets, sound and malformed.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <tuple>

#include "device/quill_rmap.h"
#include "support/hand_rmap.h"

namespace {

using namespace hand_rmap;

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

// fill: the byte the record holds before the call.
Built Build(const Args &a, unsigned char fill = 0)
{
    const unsigned char *t = a.null_target ? nullptr : a.target.data(), *r = a.null_reply ? nullptr : a.reply.data();
    const unsigned char *d = a.null_data ? nullptr : a.data.data(), *m = a.null_mask ? nullptr : a.mask.data();
    const auto tn = static_cast<unsigned>(a.target.size()), rn = static_cast<unsigned>(a.reply.size());
    const auto n = static_cast<unsigned>(a.data.size() + a.mask.size());
    Built b;
    std::memset(&b.info, fill, sizeof b.info);
    if (a.kind == kWriteCall)
        b.packet.reset(RMAP_BuildWriteCommandPacket(t, tn, r, rn, a.verify, a.acknowledge, a.increment, a.key, a.id,
                                                    a.address, a.extended, d, a.length.value_or(n), &b.length,
                                                    &b.info, 1));
    else if (a.kind == kReadCall)
        b.packet.reset(RMAP_BuildReadCommandPacket(t, tn, r, rn, a.increment, a.key, a.id, a.address, a.extended,
                                                   a.length.value_or(4), &b.length, &b.info, 1));
    else
        b.packet.reset(RMAP_BuildReadModifyWriteCommandPacket(t, tn, r, rn, a.key, a.id, a.address, a.extended,
                                                              static_cast<unsigned char>(a.length.value_or(n)), d,
                                                              m, &b.length, &b.info, 1));
    return b;
}

// An address or data field through its accessor, copied out.
template <typename Count>
Bytes Field(const unsigned char *(*get)(const RmapPacketInfo *, Count *), const RmapPacketInfo *info)
{
    Count n = 0;
    const unsigned char *bytes = get(info, &n);
    return bytes != nullptr ? Bytes(bytes, bytes + n) : Bytes{};
}

// The builder is called with the fields the hand-built packet is made of.
TEST(BuildCommand, LaidOutByTheFormatsAndReadBackInPlace)
{
    const Bytes path12{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const struct {
        const char *name;
        Kind kind;
        CommandFields f;
        Bytes data; // read/modify/write: data then mask
        std::optional<Bytes> read_back{}; // the reply path as the reply address gives it, when not f.reply_path
    } cases[] = {
        {"write with paths", kWriteCall,
         {{3, 5}, 0xfe, kCommand | kWrite | kVerify, 0x20, {7, 1}, 0x20, 0xabcd, 0x9a, 0x12345678}, {0xaa}},
        {"write, every flag, 12-byte reply path", kWriteCall,
         {{}, 0xfe, kWriteAcked | kVerify, 0x5a, path12, 0x20, 0x3456, 0x01, 0x02030405}, {0x0a, 0x0b, 0x0c}},
        {"write without data", kWriteCall, {.instruction = kCommand | kWrite | kReply}, {}},
        {"read, long target path", kReadCall, {.path = Bytes(999, 3), .length = 4}, {}},
        {"read single, top values", kReadCall,
         {{}, 0xfe, kReadSingle, 0xff, {1, 2, 3, 4, 5}, 0x20, 0xffff, 0xff, 0xffffffff, 0xffffff}, {}},
        {"read/modify/write", kRmwCall,
         {.instruction = kReadModifyWrite, .key = 1, .transaction = 0x0102, .address = 0x10}, {0x11, 0x22, 0xf0, 0x0f}},
        {"read/modify/write of nothing", kRmwCall, {.instruction = kReadModifyWrite}, {}},
        // Leading zeros are padding, but a field of zeros only is the path 00,
        // whatever its length.
        {"write, reply path 00", kWriteCall, {.instruction = kWriteAcked, .reply_path = {0}}, {0x01}, Bytes{0}},
        {"read, reply path 00 00 00 00 00", kReadCall, {.reply_path = Bytes(5, 0), .length = 4}, {}, Bytes{0}},
        {"read/modify/write, 12 zeros", kRmwCall, {.instruction = kReadModifyWrite, .reply_path = Bytes(12, 0)},
         {0x11, 0xf0}, Bytes{0}},
        {"read, 00 00 00 07", kReadCall, {.reply_path = {0, 0, 0, 7}, .length = 4}, {}, Bytes{7}},
        {"write, 11 zeros then 09", kWriteCall, {.instruction = kWriteAcked, .reply_path = Cat({Bytes(11, 0), {9}})},
         {}, Bytes{9}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const CommandFields &f = c.f;
        const auto half = static_cast<std::ptrdiff_t>(c.kind == kRmwCall ? c.data.size() / 2 : c.data.size());
        // Flags are passed as the instruction's bits: any non-zero value counts as set.
        const Built built = Build({c.kind, Cat({f.path, {f.target}}), Cat({f.reply_path, {f.initiator}}),
                                   static_cast<unsigned char>(f.instruction & kVerify),
                                   static_cast<unsigned char>(f.instruction & kReply),
                                   static_cast<unsigned char>(f.instruction & kIncrement), f.key, f.transaction,
                                   f.address, f.extended, Bytes(c.data.begin(), c.data.begin() + half),
                                   Bytes(c.data.begin() + half, c.data.end()),
                                   c.kind == kReadCall ? std::optional(f.length) : std::nullopt});
        const bool has_data = c.kind != kReadCall;
        const Bytes expected = has_data ? WithData(f, c.data) : Header(f);
        ASSERT_EQ(built.bytes(), expected);
        const unsigned char *packet = built.packet.get();
        const std::size_t header_crc_at = f.path.size() + 15 + 4 * Words(f);
        EXPECT_EQ(built.info.header_crc_location, packet + header_crc_at);
        EXPECT_EQ(built.info.data_crc_location, has_data ? packet + expected.size() - 1 : nullptr);
        RmapPacketInfo checked;
        ASSERT_EQ(RMAP_CheckPacketValid(packet, built.length, &checked, 1), RMAP_CHECK_OK);
        EXPECT_EQ(checked.header_crc_location, nullptr); // overwriting CRCs is for built packets
        const RmapPacketInfo *both[] = {&built.info, &checked};
        for (const RmapPacketInfo *info : both) {
            // Where the packet is, its type, length, instruction and its flags, key, identifier, addresses, data length, CRCs.
            EXPECT_EQ(std::tuple(info->packet, RMAP_GetPacketType(info), info->packet_length, info->instruction,
                                 RMAP_GetVerifyBeforeWrite(info) != 0, RMAP_GetIncrementAddress(info) != 0, info->key,
                                 RMAP_GetTransactionID(info), info->extended_address, info->address,
                                 info->data_length, RMAP_GetHeaderCRC(info), RMAP_GetDataCRC(info)),
                      std::tuple(packet, int{c.kind}, unsigned(expected.size()), InstructionOf(f), (f.instruction & kVerify) != 0,
                                 (f.instruction & kIncrement) != 0, f.key, f.transaction, f.extended, f.address,
                                 has_data ? unsigned(c.data.size()) : f.length, expected[header_crc_at],
                                 has_data ? expected.back() : std::uint8_t{0}));
            EXPECT_EQ(Field(RMAP_GetTargetAddress, info), Cat({f.path, {f.target}}));
            EXPECT_EQ(Field(RMAP_GetReplyAddress, info), Cat({c.read_back.value_or(f.reply_path), {f.initiator}}));
            EXPECT_EQ(Field(RMAP_GetData, info), c.data);
        }
    }
}

TEST(BuildCommand, RefusedArgumentsBuildNothing)
{
    const Bytes path13(14, 1), five(5, 1);
    const Built cases[] = {
        Build({.target = {}}), Build({.reply = {}}), Build({.reply = path13}), Build({.length = 0x1000000}),
        Build({.null_target = true}), Build({.null_reply = true}), Build({.data = {1}, .null_data = true}),
        Build({.kind = kReadCall, .target = {}}), Build({.kind = kReadCall, .reply = path13}),
        Build({.kind = kReadCall, .length = 0x1000000}), Build({.kind = kRmwCall, .data = five, .mask = five}),
        Build({.kind = kRmwCall, .data = five, .mask = five, .length = 3}),
        Build({.kind = kRmwCall, .data = {1}, .mask = {2}, .null_data = true}),
        Build({.kind = kRmwCall, .data = {1}, .mask = {2}, .null_mask = true}),
    };
    for (const Built &c : cases)
        EXPECT_TRUE(c.packet == nullptr && c.length == 0 && c.info.header_crc_location == nullptr &&
                    RMAP_GetPacketType(&c.info) == RMAP_PACKET_TYPE_INVALID) << &c - cases;
    RMAP_FreeBuffer(nullptr); // harmless
}

TEST(BuildCommand, LargestWriteBuildsAndValidates)
{
    const Bytes data(0xffffff, 0x5a);
    const Built b = Build({.data = data});
    ASSERT_TRUE(b.bytes() == WithData({.instruction = kWriteAcked}, data));
    EXPECT_EQ(RMAP_CheckPacketValid(b.packet.get(), b.length, nullptr, 1), RMAP_CHECK_OK);
    EXPECT_EQ(RMAP_CheckPacketValid(b.packet.get(), b.length - 1, nullptr, 1), RMAP_CHECK_DATA_TRUNCATED);
}

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

// Builders and checks write the caller's record in place, field by field:
// nothing it held before may show through, on success or failure.
TEST(BuildCommand, RecordWrittenWholeWhateverItHeld)
{
    const Args cases[] = {
        {.kind = kReadCall, .reply = {0, 0, 3, 0x20}, .key = 9, .address = 0x12345678, .extended = 7},
        {.target = {1, 2, 0xfe}, .verify = 1, .data = {1, 2, 3}},
        {.kind = kRmwCall, .data = {1, 2}, .mask = {3, 4}},
        {.reply = Bytes(14, 1)}, // refused
    };
    for (const Args &c : cases) {
        const Built clean = Build(c, 0x00), dirty = Build(c, 0xa5);
        ASSERT_EQ(clean.bytes(), dirty.bytes()) << &c - cases;
        EXPECT_EQ(Fields(clean.info, clean.packet.get()), Fields(dirty.info, dirty.packet.get())) << &c - cases;
    }
}

TEST(CheckPacket, RecordWrittenWholeWhateverItHeld)
{
    const Bytes packets[] = {
        WithData({.path = {2}, .instruction = kWriteAcked | kVerify, .key = 9, .reply_path = {0, 3}, .extended = 7,
                  .address = 0x12345678},
                 {1, 2, 3}),
        Header({.reply_path = {5, 6}, .length = 4}),
        Cat({{0x03}, ReadReply({}, 0, {1, 2})}),
        WriteReply({.instruction = kWriteAcked}, 3),
        Flip(ReadReply({}, 0, {1, 2}), 12, 0x04), // data CRC
    };
    for (const Bytes &packet : packets) {
        RmapPacketInfo clean, dirty;
        std::memset(&clean, 0x00, sizeof clean);
        std::memset(&dirty, 0xa5, sizeof dirty);
        const auto length = static_cast<unsigned>(packet.size());
        ASSERT_EQ(RMAP_CheckPacketValid(packet.data(), length, &clean, 1),
                  RMAP_CheckPacketValid(packet.data(), length, &dirty, 1)) << &packet - packets;
        EXPECT_EQ(Fields(clean, packet.data()), Fields(dirty, packet.data())) << &packet - packets;
    }
}

// A heap copy of exactly the packet's length: no slack to read into.
int Check(const Bytes &bytes)
{
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    return RMAP_CheckPacketValid(exact.get(), static_cast<unsigned>(bytes.size()), nullptr, 1);
}

TEST(CheckPacket, RepliesDescribedInPlace)
{
    // A read/modify/write reply of the longest length, with path bytes in
    // front, and a write reply with a status the standard does not define.
    const Bytes rmw = Cat({{0x03, 0x07}, ReadReply({.instruction = kReadModifyWrite}, 0, {1, 2, 3, 4})});
    const Bytes write = WriteReply({.instruction = kWriteAcked | kVerify}, 200);
    RmapPacketInfo info;
    ASSERT_EQ(RMAP_CheckPacketValid(rmw.data(), static_cast<unsigned>(rmw.size()), &info, 1), RMAP_CHECK_OK);
    EXPECT_TRUE(info.packet == rmw.data() && RMAP_GetPacketType(&info) == RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY);
    EXPECT_EQ(Field(RMAP_GetReplyAddress, &info), (Bytes{0x03, 0x07, 0x20}));
    EXPECT_EQ(Field(RMAP_GetTargetAddress, &info), Bytes{0xfe});
    EXPECT_EQ(Field(RMAP_GetData, &info), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(RMAP_GetTransactionID(&info) == 0x1234 && RMAP_GetDataCRC(&info) == rmw.back());
    ASSERT_EQ(RMAP_CheckPacketValid(write.data(), static_cast<unsigned>(write.size()), &info, 1), RMAP_CHECK_OK);
    EXPECT_TRUE(RMAP_GetPacketType(&info) == RMAP_PACKET_TYPE_WRITE_REPLY && RMAP_GetStatus(&info) == 200 &&
                RMAP_GetVerifyBeforeWrite(&info) != 0 && RMAP_GetIncrementAddress(&info) != 0 &&
                RMAP_GetHeaderCRC(&info) == write[7]);
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
}

TEST(CheckPacket, NoShorterPrefixAndNoSingleBitErrorIsAccepted)
{
    const Bytes packets[] = {
        WithData({.instruction = kWriteAcked, .reply_path = {5}}, {7, 8, 9}),
        Header({.instruction = kReadIncrementing, .reply_path = Bytes(12, 1), .length = 8}),
        ReadReply({}, 0, {7, 8, 9}),
        WriteReply({.instruction = kWriteAcked | kVerify}, 0),
    };
    for (const Bytes &packet : packets) {
        ASSERT_EQ(Check(packet), RMAP_CHECK_OK);
        for (std::size_t length = 0; length < packet.size(); ++length) EXPECT_NE(Check(First(packet, length)), 0);
        for (std::size_t i = 0; i < packet.size(); ++i)
            for (int bit = 0; bit < 8; ++bit)
                EXPECT_NE(Check(Flip(packet, i, static_cast<std::uint8_t>(1u << bit))), RMAP_CHECK_OK) << i << bit;
    }
}

TEST(CheckPacket, NullBytesAndFailuresLeaveACleanRecord)
{
    RmapPacketInfo info;
    const Bytes reply = WriteReply({.instruction = kWriteAcked}, 3);
    ASSERT_EQ(RMAP_CheckPacketValid(reply.data(), static_cast<unsigned>(reply.size()), &info, 1), RMAP_CHECK_OK);
    EXPECT_EQ(RMAP_CheckPacketValid(nullptr, 16, &info, 1), RMAP_CHECK_NULL_BYTES);
    EXPECT_EQ(RMAP_CheckPacketValid(nullptr, 0, nullptr, 1), RMAP_CHECK_TOO_SHORT);
    // A failed check and a null record both read as nothing.
    const RmapPacketInfo *records[] = {&info, nullptr};
    for (const RmapPacketInfo *record : records) {
        EXPECT_TRUE(RMAP_GetPacketType(record) == RMAP_PACKET_TYPE_INVALID && RMAP_GetStatus(record) == 0 &&
                    RMAP_GetTransactionID(record) == 0 && Field(RMAP_GetReplyAddress, record).empty() &&
                    Field(RMAP_GetData, record).empty());
    }
}

} // namespace
