// The RMAP target at the far end: what each command does to memory and what
// it answers, checked through the device calls.
#include <optional>

#include "adapter_fixture.h"
#include "hand_rmap.h"

namespace {

using namespace hand_rmap;
using vantor_sim::Address40;

class Target : public Adapter {
protected:
    // Sends a packet with a read started first; the packet that came back, if any.
    std::optional<Bytes> Exchange(Bytes packet)
    {
        Read read = StartRead(4096, 1);
        Send(std::move(packet));
        TransferStatus status = Vantor_GetReadStatus(device_, read.id);
        Vantor_FreeRead(device_, read.id);
        if (status != VANTOR_TRANSFER_SUCCESS) {
            EXPECT_EQ(status, VANTOR_TRANSFER_STARTED);
            return std::nullopt;
        }
        EXPECT_EQ(read.properties[0].eop, VANTOR_EOP_EOP);
        return PacketOf(read, 0);
    }

    static Bytes Memory(std::uint8_t extended, std::uint32_t address, std::size_t count)
    {
        return vantor_sim::ReadTargetMemory(Address40(extended, address), count);
    }
};

TEST_F(Target, TheReferenceCrcOfTheseTestsIsTheStandardOne)
{
    Bytes text{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc(text), 0x20);
    EXPECT_EQ(Crc(Bytes{1, 2, 3, 4, 5, 6, 7, 8}), 0xb0);
}

TEST_F(Target, UnwrittenMemoryReadsAsItsAddress)
{
    CommandFields read{.extended = 0x01, .address = 0x000001fe, .length = 4};
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 0, {0xfe, 0xff, 0x00, 0x01}));
    // The last byte of the 40-bit space is followed by the first.
    CommandFields top{.extended = 0xff, .address = 0xffffffff, .length = 2};
    EXPECT_EQ(Exchange(Header(top)), ReadReply(top, 0, {0xff, 0x00}));
    EXPECT_EQ(Memory(0x00, 0x12345678, 3), (Bytes{0x78, 0x79, 0x7a}));
}

TEST_F(Target, WriteThenReadBack)
{
    CommandFields write{.instruction = kCommand | kWrite | kReply | kIncrement, .transaction = 0x0102,
                        .extended = 0x02, .address = 0x00001000};
    Bytes data{0xde, 0xad, 0xbe, 0xef, 0x42};
    EXPECT_EQ(Exchange(WithData(write, data)), WriteReply(write, 0));
    EXPECT_EQ(Memory(0x02, 0x1000, 6), (Bytes{0xde, 0xad, 0xbe, 0xef, 0x42, 0x05}));
    EXPECT_EQ(Memory(0x00, 0x1000, 1), Bytes{0x00}); // other extended address untouched

    CommandFields read{.transaction = 0xfffe, .extended = 0x02, .address = 0x00000fff, .length = 7};
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 0, {0xff, 0xde, 0xad, 0xbe, 0xef, 0x42, 0x05}));
}

TEST_F(Target, VerifiedWriteAndWriteWithoutReply)
{
    CommandFields verified{.instruction = kCommand | kWrite | kVerify | kReply | kIncrement, .address = 0x200};
    EXPECT_EQ(Exchange(WithData(verified, {1, 2})), WriteReply(verified, 0));
    CommandFields silent{.instruction = kCommand | kWrite | kIncrement, .address = 0x300};
    EXPECT_EQ(Exchange(WithData(silent, {3, 4})), std::nullopt);
    EXPECT_EQ(Memory(0, 0x200, 2), (Bytes{1, 2}));
    EXPECT_EQ(Memory(0, 0x300, 2), (Bytes{3, 4}));
}

TEST_F(Target, SingleAddressReadsAndWrites)
{
    vantor_sim::WriteTargetMemory(Address40(0, 0x40), Bytes{0x11, 0x22});
    CommandFields read{.instruction = kReadSingle, .address = 0x40, .length = 3};
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 0, {0x11, 0x11, 0x11}));

    CommandFields write{.instruction = kCommand | kWrite | kReply, .address = 0x80};
    EXPECT_EQ(Exchange(WithData(write, {7, 8, 9})), WriteReply(write, 0));
    EXPECT_EQ(Memory(0, 0x80, 3), (Bytes{9, 0x81, 0x82}));
}

TEST_F(Target, ReadModifyWrite)
{
    vantor_sim::WriteTargetMemory(Address40(3, 0x500), Bytes{0xf0, 0x0f, 0x33});
    CommandFields rmw{.instruction = kReadModifyWrite, .extended = 3, .address = 0x500};
    // Data aa 55 33, mask 0f ff 00.
    Bytes packet = WithData(rmw, {0xaa, 0x55, 0xcc, 0x0f, 0xff, 0x00});
    EXPECT_EQ(Exchange(packet), ReadReply(rmw, 0, {0xf0, 0x0f, 0x33}));
    // (data AND mask) OR (old AND NOT mask), byte by byte.
    EXPECT_EQ(Memory(3, 0x500, 4), (Bytes{0xfa, 0x55, 0x33, 0x03}));

    // Zero length: nothing read, nothing written.
    CommandFields empty{.instruction = kReadModifyWrite, .address = 0x600};
    EXPECT_EQ(Exchange(WithData(empty, {})), ReadReply(empty, 0, {}));
}

TEST_F(Target, ReadModifyWriteLengthError)
{
    CommandFields rmw{.instruction = kReadModifyWrite, .address = 0x700};
    for (Bytes data : {Bytes{1, 2, 3}, Bytes(10, 0xff)}) {
        EXPECT_EQ(Exchange(WithData(rmw, data)), ReadReply(rmw, 11, {})) << data.size();
    }
    EXPECT_EQ(Memory(0, 0x700, 5), (Bytes{0x00, 0x01, 0x02, 0x03, 0x04}));
}

TEST_F(Target, BadDataCrc)
{
    CommandFields verified{.instruction = kCommand | kWrite | kVerify | kReply | kIncrement, .address = 0x900};
    Bytes packet = WithData(verified, {0x10, 0x20});
    packet.back() ^= 0x01;
    EXPECT_EQ(Exchange(packet), WriteReply(verified, 4));
    EXPECT_EQ(Memory(0, 0x900, 2), (Bytes{0x00, 0x01}));

    // Without verification the data was already in memory when the CRC failed.
    CommandFields plain{.instruction = kCommand | kWrite | kReply | kIncrement, .address = 0xa00};
    packet = WithData(plain, {0x10, 0x20});
    packet.back() ^= 0x80;
    EXPECT_EQ(Exchange(packet), WriteReply(plain, 4));
    EXPECT_EQ(Memory(0, 0xa00, 2), (Bytes{0x10, 0x20}));

    CommandFields rmw{.instruction = kReadModifyWrite, .address = 0xb00};
    packet = WithData(rmw, {0x10, 0xff});
    packet.back() ^= 0x01;
    EXPECT_EQ(Exchange(packet), ReadReply(rmw, 4, {}));
    EXPECT_EQ(Memory(0, 0xb00, 1), Bytes{0x00});
}

TEST_F(Target, BadHeaderCrcGetsNoReplyAndChangesNothing)
{
    CommandFields write{.instruction = kCommand | kWrite | kReply | kIncrement, .address = 0xc00};
    Bytes packet = WithData(write, {0x55});
    packet[15] ^= 0x04; // the header CRC
    EXPECT_EQ(Exchange(packet), std::nullopt);
    EXPECT_EQ(Memory(0, 0xc00, 1), Bytes{0x00});
    CommandFields read{.length = 4};
    packet = Header(read);
    packet[8] ^= 0x01; // a field under the header CRC
    EXPECT_EQ(Exchange(packet), std::nullopt);
    // Discarded, not looped back.
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
}

TEST_F(Target, KeyChecked)
{
    Start("key=20");
    CommandFields read{.key = 0x21, .address = 0x10, .length = 2};
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 3, {}));
    CommandFields write{.instruction = kCommand | kWrite | kReply | kIncrement, .key = 0x00, .address = 0x10};
    EXPECT_EQ(Exchange(WithData(write, {0xee})), WriteReply(write, 3));
    CommandFields rmw{.instruction = kReadModifyWrite, .key = 0x02, .address = 0x10};
    EXPECT_EQ(Exchange(WithData(rmw, {0xee, 0xff})), ReadReply(rmw, 3, {}));
    EXPECT_EQ(Memory(0, 0x10, 1), Bytes{0x10});
    read.key = 0x20;
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 0, {0x10, 0x11}));
    // Without key= any key is accepted.
    Start("");
    read.key = 0x99;
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 0, {0x10, 0x11}));
}

TEST_F(Target, InvalidCommandCodes)
{
    // 0110: verify and reply without write, answered with status 2.
    CommandFields odd{.instruction = kCommand | kVerify | kReply, .address = 0x10, .length = 1};
    EXPECT_EQ(Exchange(Header(odd)), ReadReply(odd, 2, {}));
    // 0000 and 0001 request no reply.
    CommandFields quiet{.instruction = kCommand, .length = 1};
    EXPECT_EQ(Exchange(Header(quiet)), std::nullopt);
    quiet.instruction = kCommand | kIncrement;
    EXPECT_EQ(Exchange(Header(quiet)), std::nullopt);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
}

TEST_F(Target, EarlyEopAndTooMuchData)
{
    CommandFields verified{.instruction = kCommand | kWrite | kVerify | kReply | kIncrement, .address = 0xd00};
    Bytes packet = WithData(verified, {1, 2, 3, 4});
    packet.resize(packet.size() - 2); // data CRC and last byte missing
    EXPECT_EQ(Exchange(packet), WriteReply(verified, 5));
    packet = WithData(verified, {1, 2, 3, 4});
    packet.push_back(0x00);
    EXPECT_EQ(Exchange(packet), WriteReply(verified, 6));
    EXPECT_EQ(Memory(0, 0xd00, 2), (Bytes{0x00, 0x01}));

    CommandFields plain{.instruction = kCommand | kWrite | kReply | kIncrement, .address = 0xe00};
    packet = WithData(plain, {1, 2, 3, 4});
    packet.resize(packet.size() - 3);
    EXPECT_EQ(Exchange(packet), WriteReply(plain, 5));
    EXPECT_EQ(Memory(0, 0xe00, 2), (Bytes{0x00, 0x01})); // not all of it arrived: nothing written
}

TEST_F(Target, EepEndedCommands)
{
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    CommandFields verified{.instruction = kCommand | kWrite | kVerify | kReply | kIncrement, .address = 0xf00};
    EXPECT_EQ(Exchange(WithData(verified, {9, 9})), WriteReply(verified, 7));
    EXPECT_EQ(Memory(0, 0xf00, 1), Bytes{0x00});
    CommandFields read{.address = 0xf00, .length = 1};
    EXPECT_EQ(Exchange(Header(read)), ReadReply(read, 7, {}));
}

TEST_F(Target, PathBytesTakenOffBothWays)
{
    // Two path bytes in front of the command; reply path 05 09 behind two padding bytes.
    CommandFields read{.path = {0x03, 0x07}, .instruction = kReadIncrementing | 0x01,
                       .reply_field = {0x00, 0x00, 0x05, 0x09}, .address = 0x20, .length = 2};
    Bytes command = Header(read);
    EXPECT_EQ(Exchange(command), ReadReply(read, 0, {0x20, 0x21}));
    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].packet.bytes, command); // sent as given, path included

    // Reply path of eight bytes, all of them path.
    CommandFields write{.instruction = kCommand | kWrite | kReply | kIncrement | 0x02,
                        .reply_field = {1, 2, 3, 4, 5, 6, 7, 8}, .address = 0x30};
    EXPECT_EQ(Exchange(WithData(write, {0xaa})), WriteReply(write, 0));
}

TEST_F(Target, OnlyCommandsForTheTargetReachIt)
{
    Start("target=30");
    CommandFields to_fe{.address = 0x20, .length = 2};
    Bytes packet = Header(to_fe);
    EXPECT_EQ(Exchange(packet), packet); // looped back unchanged
    CommandFields to_30{.target = 0x30, .address = 0x20, .length = 2};
    EXPECT_EQ(Exchange(Header(to_30)), ReadReply(to_30, 0, {0x20, 0x21}));
    // Wrong protocol identifier, or a reply rather than a command: not for the target.
    packet = Header(to_30);
    packet[1] = 0x02;
    EXPECT_EQ(Exchange(packet), packet);
    packet = Header(to_30);
    packet[2] &= static_cast<std::uint8_t>(~kCommand);
    EXPECT_EQ(Exchange(packet), packet);
}

TEST_F(Target, FarEndSettings)
{
    CommandFields read{.address = 0x20, .length = 1};
    Bytes command = Header(read);
    Start("far_end=loopback");
    EXPECT_EQ(Exchange(command), command);
    Start("far_end=target");
    EXPECT_EQ(Exchange(command), ReadReply(read, 0, {0x20}));
    Start("far_end=silent");
    EXPECT_EQ(Exchange(command), std::nullopt);
}

TEST_F(Target, ResetRestoresMemory)
{
    vantor_sim::WriteTargetMemory(Address40(0, 0x10), Bytes{0xaa});
    Start("");
    EXPECT_EQ(Memory(0, 0x10, 1), Bytes{0x10});
}


} // namespace
