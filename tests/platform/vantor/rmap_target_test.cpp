// The RMAP target at the far end: what each command does to memory and what
// it answers, checked through the device calls against packets built by hand.
#include "adapter_fixture.h"
#include "rmap_target.h"

namespace {

using namespace hand_rmap;
using vantor_sim::Address40;

constexpr std::uint8_t kPlainWrite = kCommand | kWrite | kReply | kIncrement;
constexpr std::uint8_t kVerifiedWrite = kPlainWrite | kVerify;

// How a command is damaged on its way to the target.
Bytes Intact(Bytes bytes) { return bytes; }
Bytes BadHeaderCrc(Bytes bytes) { return Flip(bytes, 15, 0x04); }
Bytes BadDataCrc(Bytes bytes) { return Flip(bytes, bytes.size() - 1, 0x01); }
Bytes CutTwo(Bytes bytes) { return First(bytes, bytes.size() - 2); }
Bytes CutThree(Bytes bytes) { return First(bytes, bytes.size() - 3); }
Bytes OneMore(Bytes bytes) { return Cat({bytes, {0x00}}); }

struct Case {
    const char *name;
    CommandFields f;
    std::optional<Bytes> data; // write and read/modify/write (data then mask)
    int status;                // of the reply; -1 when nothing comes back
    Bytes returned;            // data of a read or read/modify/write reply
    Bytes memory;              // at the command's address afterwards; empty: not checked
    Bytes (*spoil)(Bytes) = Intact;
};

// Commands executed one after the other on one memory, each at its own address.
// Unwritten bytes read as the low 8 bits of their address; 0x40 holds 11 22 and
// 3:0x500 holds f0 0f 33 beforehand.
const Case kCases[] = {
    {"read unwritten", {.extended = 1, .address = 0x1fe, .length = 4}, {}, 0, {0xfe, 0xff, 0x00, 0x01}, {}},
    {"read past 2^40", {.extended = 0xff, .address = 0xffffffff, .length = 2}, {}, 0, {0xff, 0x00}, {}},
    {"write", {.instruction = kPlainWrite, .extended = 2, .address = 0x1000}, Bytes{0xde, 0xad, 0xbe, 0xef}, 0, {},
     {0xde, 0xad, 0xbe, 0xef, 0x04}},
    {"read across a page", {.extended = 2, .address = 0xfff, .length = 6}, {}, 0, {0xff, 0xde, 0xad, 0xbe, 0xef, 4}, {}},
    {"write, no reply", {.instruction = kCommand | kWrite | kIncrement, .address = 0x300}, Bytes{3, 4}, -1, {}, {3, 4}},
    {"single-address read", {.instruction = kReadSingle, .address = 0x40, .length = 3}, {}, 0, {0x11, 0x11, 0x11}, {}},
    {"single-address write", {.instruction = kCommand | kWrite | kReply, .address = 0x80}, Bytes{7, 8, 9}, 0, {},
     {9, 0x81}}, // the last byte stays
    // (data AND mask) OR (old AND NOT mask), byte by byte; the reply holds the old bytes.
    {"read/modify/write", {.instruction = kReadModifyWrite, .extended = 3, .address = 0x500},
     Bytes{0xaa, 0x55, 0xcc, 0x0f, 0xff, 0x00}, 0, {0xf0, 0x0f, 0x33}, {0xfa, 0x55, 0x33, 0x03}},
    {"rmw of nothing", {.instruction = kReadModifyWrite, .address = 0x600}, Bytes{}, 0, {}, {0x00}},
    {"rmw length 3", {.instruction = kReadModifyWrite, .address = 0x700}, Bytes{1, 2, 3}, 11, {}, {0, 1, 2}},
    {"verified, bad data CRC", {.instruction = kVerifiedWrite, .address = 0x900}, Bytes{9, 9}, 4, {}, {0, 1}, BadDataCrc},
    // Without verification the data is in memory before its CRC arrives.
    {"bad data CRC", {.instruction = kPlainWrite, .address = 0xa00}, Bytes{9, 9}, 4, {}, {9, 9}, BadDataCrc},
    {"bad header CRC", {.instruction = kPlainWrite, .address = 0xc00}, Bytes{9}, -1, {}, {0x00}, BadHeaderCrc},
    {"code 0110", {.instruction = kCommand | kVerify | kReply, .address = 0x10, .length = 1}, {}, 2, {}, {}},
    {"code 0000, no reply", {.instruction = kCommand, .length = 1}, {}, -1, {}, {}},
    {"verified, early EOP", {.instruction = kVerifiedWrite, .address = 0xd00}, Bytes{1, 2, 3}, 5, {}, {0, 1}, CutTwo},
    {"verified, too much", {.instruction = kVerifiedWrite, .address = 0xd00}, Bytes{1, 2, 3}, 6, {}, {0, 1}, OneMore},
    {"data cut short", {.instruction = kPlainWrite, .address = 0xe00}, Bytes{1, 2, 3}, 5, {}, {0, 1}, CutThree},
    // Path bytes (up to 1f) go before the command and reply path bytes come off the reply.
    {"read with paths", {.path = {3, 0x1f}, .reply_path = {5, 9}, .address = 0x20, .length = 2}, {}, 0, {0x20, 0x21}, {}},
    {"reply path 00", {.reply_path = {0}, .address = 0x22, .length = 1}, {}, 0, {0x22}, {}},
};

TEST_F(Adapter, TargetExecutesAndAnswersEachCommand)
{
    vantor_sim::WriteTargetMemory(Address40(0, 0x40), Bytes{0x11, 0x22});
    vantor_sim::WriteTargetMemory(Address40(3, 0x500), Bytes{0xf0, 0x0f, 0x33});
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes command = c.spoil(c.data ? WithData(c.f, *c.data) : Header(c.f));
        const auto status = static_cast<std::uint8_t>(c.status);
        const Bytes reply = c.f.instruction & kWrite ? WriteReply(c.f, status) : ReadReply(c.f, status, c.returned);
        EXPECT_EQ(Exchange(command), c.status >= 0 ? std::optional(reply) : std::nullopt);
        EXPECT_EQ(vantor_sim::TakeSentPackets().at(0).packet.bytes, command); // sent as given
        EXPECT_EQ(vantor_sim::ReadTargetMemory(Address40(c.f.extended, c.f.address), c.memory.size()), c.memory);
    }
}

// A reply leaves the target with its reply path in front, for the routers on
// the way back to take off: a field of zeros only is the path 00.
TEST(TargetReply, ReplyPathInFront)
{
    const struct {
        Bytes field; // laid out as the reply path, padded to whole words
        Bytes path;
    } cases[] = {{{}, {}}, {{5, 9}, {5, 9}}, {{0}, {0}}, {Bytes(12, 0), {0}}, {{0, 0, 0, 7}, {7}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        const CommandFields write{.instruction = kPlainWrite, .reply_path = c.field, .address = 0x100};
        vantor_sim::TargetMemory memory;
        const auto reply = vantor_sim::ExecuteTargetCommand(WithData(write, {1}), VANTOR_EOP_EOP, {}, memory);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(std::tuple(reply->bytes, reply->path_length), std::tuple(Cat({c.path, WriteReply(write, 0)}), c.path.size()));
    }
}

TEST_F(Adapter, KeyCheckedOnlyWhenOneIsSet)
{
    Start("key=20");
    const CommandFields read{.key = 0x21, .address = 0x10, .length = 2}, right{.key = 0x20, .length = 1};
    const CommandFields write{.instruction = kPlainWrite, .address = 0x10}, rmw{.instruction = kReadModifyWrite, .key = 2};
    const CommandFields code_0110{.instruction = kCommand | kVerify | kReply, .length = 1}; // the code is judged first
    EXPECT_EQ(Exchange(Header(code_0110)), ReadReply(code_0110, 2, {}));
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 3, {}));
    EXPECT_EQ(Exchange(WithData(write, {0xee})), WriteReply(write, 3));
    EXPECT_EQ(Exchange(WithData(rmw, {0xee, 0xff})), ReadReply(rmw, 3, {}));
    EXPECT_TRUE(vantor_sim::ReadTargetMemory(0, 1) == Bytes{0} && vantor_sim::ReadTargetMemory(0x10, 1) == Bytes{0x10});
    EXPECT_EQ(Exchange(Header(right)), ReadReply(right, 0, {0x00}));
    Start("");
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 0, {0x10, 0x11}));
}

TEST_F(Adapter, EepEndedCommandsAnswerStatus7)
{
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    const CommandFields write{.instruction = kVerifiedWrite, .address = 0xf00}, read{.address = 0xf00, .length = 1};
    EXPECT_EQ(Exchange(WithData(write, {9, 9})), WriteReply(write, 7));
    EXPECT_EQ(vantor_sim::ReadTargetMemory(0xf00, 1), Bytes{0x00});
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 7, {}));
}

// A packet that is no command for the target comes back as it was sent, as
// far_end allows; a command is answered as far_end allows.
TEST_F(Adapter, FarEndChoosesWhatAnswers)
{
    const CommandFields to_30{.target = 0x30, .address = 0x20, .length = 2};
    const Bytes command = Header(to_30), to_fe = Header({.address = 0x20, .length = 2});
    const Bytes not_commands[] = {Flip(command, 1, 0x03), Flip(command, 2, kCommand), to_fe, {0x20, 0x01, 0x48}};
    const struct {
        const char *settings;
        bool target, loopback;
    } cases[] = {{"target=30", true, true},
                 {"target=30;far_end=target", true, false},
                 {"target=30;far_end=loopback", false, true},
                 {"target=30;far_end=silent", false, false}};
    for (const auto &c : cases) {
        Start(c.settings);
        const Bytes reply = ReadReply(to_30, 0, {0x20, 0x21});
        EXPECT_EQ(Exchange(command), c.target ? reply : c.loopback ? std::optional(command) : std::nullopt) << c.settings;
        for (const Bytes &packet : not_commands)
            EXPECT_EQ(Exchange(packet), c.loopback ? std::optional(packet) : std::nullopt) << c.settings;
    }
}

} // namespace
