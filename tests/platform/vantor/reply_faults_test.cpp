// The faulty far end: reply_fault and reply_fault_every, checked against
// replies built by hand and spoilt by hand.
#include "adapter_fixture.h"

namespace {

using namespace hand_rmap;

constexpr int kEop = VANTOR_EOP_EOP;

// A command and its reply, sound and with the transaction identifier plus 1.
struct Shape {
    Bytes command, reply, next_id;
};
Shape MakeShape(CommandFields f, const std::optional<Bytes> &data, std::uint8_t status, const Bytes &returned)
{
    const auto reply = [&] { return f.instruction & kWrite ? WriteReply(f, status) : ReadReply(f, status, returned); };
    Shape shape{data ? WithData(f, *data) : Header(f), reply(), {}};
    f.transaction = static_cast<std::uint16_t>(f.transaction + 1);
    shape.next_id = reply();
    return shape;
}

TEST_F(Adapter, EachFaultSpoilsEachReplyShapeAsDocumented)
{
    // Under key=20: a write, a read, a read with a reply path whose identifier
    // wraps, a read/modify/write whose identifier carries, and a refused read
    // (no data, but a data CRC).
    const Shape shapes[] = {
        MakeShape({.instruction = kCommand | kWrite | kReply | kIncrement, .key = 0x20, .address = 0x100},
                  Bytes{0xaa, 0xbb}, 0, {}),
        MakeShape({.key = 0x20, .address = 0x20, .length = 4}, {}, 0, {0x20, 0x21, 0x22, 0x23}),
        MakeShape({.key = 0x20, .reply_path = {5}, .transaction = 0xffff, .address = 0x41, .length = 1}, {}, 0, {0x41}),
        MakeShape({.instruction = kReadModifyWrite, .key = 0x20, .transaction = 0x00ff, .address = 0x30},
                  Bytes{0x5a, 0x0f}, 0, {0x30}),
        MakeShape({.length = 4}, {}, 3, {}),
    };
    // The header CRC is byte 7 of a write reply (8 bytes, no data CRC) and byte 11 of the others.
    const struct {
        const char *kind;
        Bytes (*arrives)(const Shape &);
        int ending, copies;
    } cases[] = {
        {"none", [](const Shape &s) { return s.reply; }, kEop, 1},
        {"header_crc", [](const Shape &s) { return Flip(s.reply, s.reply.size() == 8 ? 7 : 11); }, kEop, 1},
        {"data_crc", [](const Shape &s) { return s.reply.size() == 8 ? s.reply : Flip(s.reply, s.reply.size() - 1); },
         kEop, 1},
        {"truncate", [](const Shape &s) { return First(s.reply, s.reply.size() - 1); }, kEop, 1},
        {"pad", [](const Shape &s) { return Cat({s.reply, {0x00}}); }, kEop, 1},
        {"transaction_id", [](const Shape &s) { return s.next_id; }, kEop, 1},
        {"eep", [](const Shape &s) { return s.reply; }, VANTOR_EOP_EEP, 1},
        {"duplicate", [](const Shape &s) { return s.reply; }, kEop, 2},
        {"drop", [](const Shape &s) { return s.reply; }, kEop, 0},
    };
    for (const auto &c : cases) {
        Start(std::string("key=20; reply_fault=") + c.kind);
        for (const Shape &s : shapes) {
            Send(s.command);
            EXPECT_EQ(Arrived(), Arrivals(c.copies, {c.arrives(s), c.ending})) << c.kind << " " << &s - shapes;
        }
        // Only the replies are spoilt: the commands did their work.
        EXPECT_TRUE(vantor_sim::ReadTargetMemory(0x100, 2) == (Bytes{0xaa, 0xbb}) &&
                    vantor_sim::ReadTargetMemory(0x30, 1) == Bytes{0x3a}) << c.kind;
    }
}

// Reads of transaction 1, 2, 3...: each reply is told apart by its identifier.
Bytes ReadNumber(std::uint16_t n) { return Header({.transaction = n, .length = 1}); }
Bytes ReplyNumber(std::uint16_t n) { return ReadReply({.transaction = n, .length = 1}, 0, {0x00}); }

TEST_F(Adapter, EveryNthTargetReplyCountingOnlyReplies)
{
    Start("reply_fault=drop; reply_fault_every=3");
    const Bytes silent_write = WithData({.instruction = kCommand | kWrite | kIncrement, .address = 0x500}, {1});
    Arrivals expected;
    for (std::uint16_t n = 1; n <= 7; ++n) {
        Send(ReadNumber(n));
        // None of these is a target reply: not counted.
        Send({0x99});
        Send(silent_write);
        Send(Flip(ReadNumber(n), 15));
        if (n % 3 != 0) expected.emplace_back(ReplyNumber(n), kEop);
        expected.emplace_back(Bytes{0x99}, kEop);
    }
    EXPECT_EQ(Arrived(), expected);
    Start("reply_fault=drop; reply_fault_every=3"); // counts again from 1
    for (std::uint16_t n = 1; n <= 3; ++n) Send(ReadNumber(n));
    EXPECT_EQ(Arrived(), (Arrivals{{ReplyNumber(1), kEop}, {ReplyNumber(2), kEop}}));
}

// The count belongs to the far end: replies to every device count, and so do
// replies lost at an unregistered device.
TEST_F(Adapter, FaultCountSpansDevicesAndRepliesNobodyReceives)
{
    Start("devices=0:0,1:0; reply_fault=pad; reply_fault_every=2");
    DeviceHandle other = nullptr;
    ASSERT_TRUE(Vantor_Open(&other, 1) != 0 && Vantor_UnregisterReceiveOnAllPorts(device_) != 0);
    Send(ReadNumber(1)); // lost
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    Send(ReadNumber(2));        // spoilt
    Send(ReadNumber(3), other); // lost at device 1
    Send(ReadNumber(4));        // spoilt
    EXPECT_EQ(Arrived(), (Arrivals{{Cat({ReplyNumber(2), {0x00}}), kEop}, {Cat({ReplyNumber(4), {0x00}}), kEop}}));
}

} // namespace
