// The faulty far end: reply_fault and reply_fault_every, checked against
// replies built by hand and spoilt by hand.
#include <string>
#include <utility>

#include "adapter_fixture.h"
#include "hand_rmap.h"
#include "support/scratch_dir.h"

namespace {

using namespace hand_rmap;

// A packet as it arrived: its bytes and its ending.
using Arrival = std::pair<Bytes, int>;
using Arrivals = std::vector<Arrival>;

class Faults : public Adapter {
protected:
    void StartWith(const std::string &settings) { Start(settings.c_str()); }

    // Everything waiting in device 0's queue, oldest first, read one packet at a time.
    Arrivals Arrived()
    {
        Arrivals arrivals;
        for (int guard = 0; guard < 64 && vantor_sim::GetDeviceState(0).queued_packets > 0; ++guard) {
            Read read = StartRead(4096, 1);
            EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_SUCCESS);
            arrivals.emplace_back(PacketOf(read, 0), read.properties[0].eop);
            Vantor_FreeRead(device_, read.id);
        }
        return arrivals;
    }
};

Bytes Flipped(Bytes bytes, std::size_t at)
{
    bytes.at(at) ^= 0xff;
    return bytes;
}

Bytes WithoutLast(Bytes bytes)
{
    bytes.pop_back();
    return bytes;
}

Bytes Padded(Bytes bytes)
{
    bytes.push_back(0x00);
    return bytes;
}

CommandFields WithTransaction(CommandFields fields, std::uint16_t transaction)
{
    fields.transaction = transaction;
    return fields;
}

// One command of each reply shape.
const CommandFields kWriteCommand{.instruction = kCommand | kWrite | kReply | kIncrement, .transaction = 0x0a0b,
                           .address = 0x100};
const Bytes kWriteData{0xaa, 0xbb};
const CommandFields kReadCommand{.transaction = 0x1234, .address = 0x20, .length = 4};
const CommandFields kPathRead{.instruction = kReadIncrementing | 0x01, .reply_field = {0x00, 0x00, 0x00, 0x05},
                              .transaction = 0xffff, .address = 0x41, .length = 1};
const CommandFields kRmw{.instruction = kReadModifyWrite, .transaction = 0x00ff, .address = 0x30};
const Bytes kRmwDataAndMask{0x5a, 0x0f};

TEST_F(Faults, EachKindSpoilsEachReplyShapeAsDocumented)
{
    const Bytes write = WriteReply(kWriteCommand, 0);
    const Bytes read = ReadReply(kReadCommand, 0, {0x20, 0x21, 0x22, 0x23});
    const Bytes path_read = ReadReply(kPathRead, 0, {0x41});
    const Bytes rmw = ReadReply(kRmw, 0, {0x30});
    const int eop = VANTOR_EOP_EOP;

    struct Case {
        const char *kind;
        Arrivals write, read, path_read, rmw;
    };
    const Case cases[] = {
        {"none", {{write, eop}}, {{read, eop}}, {{path_read, eop}}, {{rmw, eop}}},
        // Header CRC: byte 7 of a write reply, byte 11 of the others.
        {"header_crc",
         {{Flipped(write, 7), eop}},
         {{Flipped(read, 11), eop}},
         {{Flipped(path_read, 11), eop}},
         {{Flipped(rmw, 11), eop}}},
        // A write reply has no data CRC to spoil.
        {"data_crc",
         {{write, eop}},
         {{Flipped(read, 16), eop}},
         {{Flipped(path_read, 13), eop}},
         {{Flipped(rmw, 13), eop}}},
        {"truncate",
         {{WithoutLast(write), eop}},
         {{WithoutLast(read), eop}},
         {{WithoutLast(path_read), eop}},
         {{WithoutLast(rmw), eop}}},
        {"pad", {{Padded(write), eop}}, {{Padded(read), eop}}, {{Padded(path_read), eop}}, {{Padded(rmw), eop}}},
        // The identifier goes up by one, carrying into its first byte and
        // wrapping after ffff; the header CRC fits the new identifier.
        {"transaction_id",
         {{WriteReply(WithTransaction(kWriteCommand, 0x0a0c), 0), eop}},
         {{ReadReply(WithTransaction(kReadCommand, 0x1235), 0, {0x20, 0x21, 0x22, 0x23}), eop}},
         {{ReadReply(WithTransaction(kPathRead, 0x0000), 0, {0x41}), eop}},
         {{ReadReply(WithTransaction(kRmw, 0x0100), 0, {0x30}), eop}}},
        {"eep",
         {{write, VANTOR_EOP_EEP}},
         {{read, VANTOR_EOP_EEP}},
         {{path_read, VANTOR_EOP_EEP}},
         {{rmw, VANTOR_EOP_EEP}}},
        {"duplicate",
         {{write, eop}, {write, eop}},
         {{read, eop}, {read, eop}},
         {{path_read, eop}, {path_read, eop}},
         {{rmw, eop}, {rmw, eop}}},
        {"drop", {}, {}, {}, {}},
    };
    for (const Case &c : cases) {
        StartWith(std::string("reply_fault=") + c.kind);
        Send(WithData(kWriteCommand, kWriteData));
        EXPECT_EQ(Arrived(), c.write) << c.kind << " write";
        Send(Header(kReadCommand));
        EXPECT_EQ(Arrived(), c.read) << c.kind << " read";
        Send(Header(kPathRead));
        EXPECT_EQ(Arrived(), c.path_read) << c.kind << " read with reply path";
        Send(WithData(kRmw, kRmwDataAndMask));
        EXPECT_EQ(Arrived(), c.rmw) << c.kind << " read/modify/write";
        // Only the reply is spoilt: the command did its work.
        EXPECT_EQ(vantor_sim::ReadTargetMemory(0x100, 2), kWriteData) << c.kind;
        EXPECT_EQ(vantor_sim::ReadTargetMemory(0x30, 1), Bytes{0x3a}) << c.kind;
    }
}

// A failed read answers with no data, but still with a data CRC (0x00).
TEST_F(Faults, FailedReadReplyStillHasADataCrc)
{
    const Bytes refused = ReadReply(kReadCommand, 3, {});
    ASSERT_EQ(refused.size(), 13u);
    struct Case {
        const char *kind;
        Bytes expected;
    };
    const Case cases[] = {
        {"data_crc", Flipped(refused, 12)},
        {"header_crc", Flipped(refused, 11)},
        {"truncate", WithoutLast(refused)},
        {"transaction_id", ReadReply(WithTransaction(kReadCommand, 0x1235), 3, {})},
    };
    for (const Case &c : cases) {
        StartWith(std::string("key=20; reply_fault=") + c.kind);
        Send(Header(kReadCommand)); // key 00
        EXPECT_EQ(Arrived(), (Arrivals{{c.expected, VANTOR_EOP_EOP}})) << c.kind;
    }
}

// Reads of transaction 1, 2, 3...; each reply is told apart by its identifier.
Bytes ReadNumber(std::uint16_t n) { return Header(WithTransaction(kReadCommand, n)); }
Bytes ReplyNumber(std::uint16_t n) { return ReadReply(WithTransaction(kReadCommand, n), 0, {0x20, 0x21, 0x22, 0x23}); }

TEST_F(Faults, EveryNthTargetReplyCountingOnlyReplies)
{
    StartWith("reply_fault=drop; reply_fault_every=3");
    const Bytes plain{0x99};
    CommandFields silent_write{.instruction = kCommand | kWrite | kIncrement, .address = 0x500};
    Bytes bad_crc = Header(kReadCommand);
    bad_crc.back() ^= 0x01;
    Arrivals expected;
    for (std::uint16_t n = 1; n <= 7; ++n) {
        Send(ReadNumber(n));
        // None of these is a target reply: not counted.
        Send(plain);
        Send(WithData(silent_write, {0x01}));
        Send(bad_crc);
        if (n % 3 != 0) {
            expected.emplace_back(ReplyNumber(n), VANTOR_EOP_EOP);
        }
        expected.emplace_back(plain, VANTOR_EOP_EOP);
    }
    EXPECT_EQ(Arrived(), expected);

    // Applying the settings again starts the count again.
    StartWith("reply_fault=drop; reply_fault_every=3");
    for (std::uint16_t n = 1; n <= 3; ++n) {
        Send(ReadNumber(n));
    }
    EXPECT_EQ(Arrived(), (Arrivals{{ReplyNumber(1), VANTOR_EOP_EOP}, {ReplyNumber(2), VANTOR_EOP_EOP}}));
}

TEST_F(Faults, DefaultCountSpoilsEveryReply)
{
    StartWith("reply_fault=pad");
    for (std::uint16_t n = 1; n <= 3; ++n) {
        Send(ReadNumber(n));
    }
    EXPECT_EQ(Arrived(), (Arrivals{{Padded(ReplyNumber(1)), VANTOR_EOP_EOP},
                                   {Padded(ReplyNumber(2)), VANTOR_EOP_EOP},
                                   {Padded(ReplyNumber(3)), VANTOR_EOP_EOP}}));
}

TEST_F(Faults, CountAloneSpoilsNothing)
{
    StartWith("reply_fault_every=1");
    Send(ReadNumber(1));
    Send(ReadNumber(2));
    EXPECT_EQ(Arrived(), (Arrivals{{ReplyNumber(1), VANTOR_EOP_EOP}, {ReplyNumber(2), VANTOR_EOP_EOP}}));
}

// An unusable count is ignored, so every reply is spoilt.
TEST_F(Faults, MalformedCountKeepsTheDefault)
{
    testing::internal::CaptureStdout();
    StartWith("reply_fault=drop; reply_fault_every=0");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VANTOR_SIM: ignored malformed setting \"reply_fault_every=0\"\n");
    Send(ReadNumber(1));
    Send(ReadNumber(2));
    EXPECT_TRUE(Arrived().empty());

    testing::internal::CaptureStdout();
    StartWith("reply_fault=lose; reply_fault_every=1");
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VANTOR_SIM: ignored malformed setting \"reply_fault=lose\"\n");
    Send(ReadNumber(1));
    EXPECT_EQ(Arrived(), (Arrivals{{ReplyNumber(1), VANTOR_EOP_EOP}}));
}

// The count belongs to the far end: replies to every device, and replies lost
// at an unregistered device, are counted.
TEST_F(Faults, CountSpansDevicesAndRepliesNobodyReceives)
{
    StartWith("devices=0:0,1:0; reply_fault=pad; reply_fault_every=2");
    DeviceHandle other = nullptr;
    ASSERT_NE(Vantor_Open(&other, 1), 0);
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(other), 0);
    auto send_from_other = [&](Bytes packet) {
        TransferId id = nullptr;
        Vantor_SendPacket(other, packet.data(), static_cast<unsigned>(packet.size()), 1, &id);
        Vantor_FreeSend(other, id);
    };

    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    Send(ReadNumber(1)); // reply 1, lost
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    Send(ReadNumber(2));            // reply 2, spoilt
    send_from_other(ReadNumber(3)); // reply 3, good, at device 1
    send_from_other(ReadNumber(4)); // reply 4, spoilt, at device 1
    Send(ReadNumber(5));            // reply 5, good
    EXPECT_EQ(Arrived(), (Arrivals{{Padded(ReplyNumber(2)), VANTOR_EOP_EOP}, {ReplyNumber(5), VANTOR_EOP_EOP}}));
    EXPECT_EQ(vantor_sim::GetDeviceState(1).queued_packets, 2u);

    Bytes buffer(64, 0);
    std::vector<PacketProperties> properties(2);
    TransferId id = nullptr;
    EXPECT_EQ(Vantor_ReadPackets(other, buffer.data(), 64, 2, 1, properties.data(), &id), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeRead(other, id);
    Bytes expected = ReplyNumber(3);
    Bytes fourth = Padded(ReplyNumber(4));
    expected.insert(expected.end(), fourth.begin(), fourth.end());
    expected.resize(64, 0);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(properties[1].len, 18u);
}

// Both copies go where any two arriving packets would: two reads, one read
// of two packets, or one read and the queue.
TEST_F(Faults, DuplicateCopiesMeetTheReads)
{
    StartWith("reply_fault=duplicate");
    Read first = StartRead(64, 1);
    Read second = StartRead(64, 1);
    Send(ReadNumber(7));
    for (Read *read : {&first, &second}) {
        EXPECT_EQ(Vantor_GetReadStatus(device_, read->id), VANTOR_TRANSFER_SUCCESS);
        EXPECT_EQ(PacketOf(*read, 0), ReplyNumber(7));
        Vantor_FreeRead(device_, read->id);
    }
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);

    Read both = StartRead(64, 2);
    Send(ReadNumber(8));
    EXPECT_EQ(Vantor_GetReadStatus(device_, both.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(PacketOf(both, 0), ReplyNumber(8));
    EXPECT_EQ(PacketOf(both, 1), ReplyNumber(8));
    Vantor_FreeRead(device_, both.id);

    Read one = StartRead(64, 1);
    Send(ReadNumber(9));
    EXPECT_EQ(PacketOf(one, 0), ReplyNumber(9));
    Vantor_FreeRead(device_, one.id);
    EXPECT_EQ(Arrived(), (Arrivals{{ReplyNumber(9), VANTOR_EOP_EOP}}));
}

TEST_F(Faults, DroppedReplyLeavesTheReadToTimeOut)
{
    StartWith("reply_fault=drop; reply_fault_every=2");
    ASSERT_NE(Vantor_SetTimeout(device_, 0.02), 0);
    Read answered = StartRead(64, 1);
    Read waiting = StartRead(64, 1);
    Send(ReadNumber(1));
    Send(ReadNumber(2));
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, answered.id, 0), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, waiting.id, 0), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_EQ(waiting.properties[0].len, 0u);
    EXPECT_EQ(waiting.buffer, Bytes(64, 0xcc));
    Vantor_FreeRead(device_, answered.id);
    Vantor_FreeRead(device_, waiting.id);
    // The third reply is good and reaches the next read.
    Read next = StartRead(64, 1);
    Send(ReadNumber(3));
    EXPECT_EQ(PacketOf(next, 0), ReplyNumber(3));
    Vantor_FreeRead(device_, next.id);
}

// The spoilt reply's length, not the good one's, decides whether it fits.
TEST_F(Faults, SpoiltLengthMeetsTheReadBuffer)
{
    StartWith("reply_fault=pad");
    Read exact = StartRead(17, 1); // room for the good reply only
    Send(ReadNumber(1));
    EXPECT_EQ(Vantor_GetReadStatus(device_, exact.id), VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    Vantor_FreeRead(device_, exact.id);

    StartWith("reply_fault=truncate");
    Read smaller = StartRead(16, 1);
    Send(ReadNumber(1));
    EXPECT_EQ(Vantor_GetReadStatus(device_, smaller.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(PacketOf(smaller, 0), WithoutLast(ReplyNumber(1)));
    Vantor_FreeRead(device_, smaller.id);
}

std::string TraceLine(char sign, const Bytes &bytes, const char *ending = "EOP")
{
    std::string text(1, sign);
    text += ' ';
    for (std::uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x ", byte);
        text += hex;
    }
    return text + ending + "\n";
}

TEST_F(Faults, TraceShowsRepliesAsTheyArrived)
{
    struct Case {
        const char *kind;
        std::string arrived; // trace lines of the second reply
    };
    const Case cases[] = {
        {"duplicate", TraceLine('<', ReplyNumber(2)) + TraceLine('<', ReplyNumber(2))},
        {"drop", ""},
        {"truncate", TraceLine('<', WithoutLast(ReplyNumber(2)))},
        {"eep", TraceLine('<', ReplyNumber(2), "EEP")},
    };
    for (const Case &c : cases) {
        ScratchDir dir;
        StartWith("trace=" + (dir / "t").string() + "; reply_fault_every=2; reply_fault=" + c.kind);
        Send(ReadNumber(1));
        Send(ReadNumber(2));
        EXPECT_EQ(dir.Read("t"), TraceLine('>', ReadNumber(1)) + TraceLine('<', ReplyNumber(1)) +
                                     TraceLine('>', ReadNumber(2)) + c.arrived)
            << c.kind;
        Arrived();
    }
}

} // namespace
