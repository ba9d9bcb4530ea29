// Devices, sends, reads and their completion through the loopback, as only
// the C calls show them: which read a packet fills, refused
// arguments and identifiers.  What a program run shows (time-outs,
// registration, faults, the trace) is in the golden cases.
#include <limits>
#include <tuple>

#include "adapter_fixture.h"

namespace {

constexpr int kEop = VANTOR_EOP_EOP;
const auto kUnknownHandle = reinterpret_cast<DeviceHandle>(0x7777);
const auto kNeverIssued = reinterpret_cast<TransferId>(std::numeric_limits<std::uintptr_t>::max());

// Which devices open is the start-up goldens' to show; these are the calls' own refusals.
TEST_F(Adapter, DevicesKeepTheirHandleAndOnlyUsableTimeOuts)
{
    DeviceHandle again = nullptr;
    ASSERT_NE(Vantor_SetTimeout(device_, 2.0), 0);
    for (double bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(Vantor_SetTimeout(device_, bad), 0) << bad;
    ASSERT_TRUE(Vantor_Open(&again, 0) != 0 && again == device_);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).timeout_seconds, std::optional<double>(2.0));
    EXPECT_FALSE(Vantor_Open(nullptr, 0) || Vantor_Open(&again, 32) || Vantor_Open(&again, -1) || again != nullptr ||
                 Vantor_EnableHeaderMode(kUnknownHandle, 0) || Vantor_EnableNetworkMode(kUnknownHandle, 0) ||
                 Vantor_SetTimeout(kUnknownHandle, 1) || Vantor_EnableSendEEPs(kUnknownHandle, 1) ||
                 Vantor_RegisterReceiveOnAllPorts(kUnknownHandle) || Vantor_UnregisterReceiveOnAllPorts(kUnknownHandle));
    // A reset closes every device; old handles stay unknown once it is open again.
    vantor_sim::ApplySettings("");
    EXPECT_FALSE(vantor_sim::GetDeviceState(0).open);
    ASSERT_TRUE(Vantor_Open(&again, 0) != 0 && Vantor_RegisterReceiveOnAllPorts(device_) == 0);
}

// A packet fills the oldest unfinished read, back to back after those it
// holds; one that does not fit ends the read with 10 and is lost.  Packets
// arriving with no read pending wait for the next reads; unregistered, none arrive.
TEST_F(Adapter, PacketsFillTheOldestReadOrWaitForTheNext)
{
    for (const Bytes &packet : {Bytes{0xaa}, Bytes{0xbb, 0xcc}}) Send(packet);
    const Read a = StartRead(16, 1), b = StartRead(16, 2), c = StartRead(16, 1);
    EXPECT_EQ(a.started, VANTOR_TRANSFER_STARTED); // even when queued packets complete it at once
    Bytes p1{1, 2, 3}, p2{4};
    void *packets[] = {p1.data(), p2.data()};
    unsigned lengths[] = {3, 1};
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 2, 1, &send), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, send);
    EXPECT_EQ(a.Packets(), (Arrivals{{{0xaa}, kEop}}));
    EXPECT_EQ(b.Packets(), (Arrivals{{{0xbb, 0xcc}, kEop}, {p1, kEop}}));
    EXPECT_EQ(b.buffer, (Bytes{0xbb, 0xcc, 1, 2, 3, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc, 0xcc}));
    EXPECT_EQ(c.Packets(), (Arrivals{{p2, kEop}}));
    for (const Read *r : {&a, &b, &c}) EXPECT_EQ(r->Status(), VANTOR_TRANSFER_SUCCESS);
    const Read exact = StartRead(4, 2), full = StartRead(3, 2);
    for (const Bytes &packet : {Bytes{1, 2}, Bytes{3, 4}, Bytes{5, 6}, Bytes{7, 8}}) Send(packet);
    EXPECT_EQ(exact.Status(), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(exact.buffer, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(full.Wait(), VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    EXPECT_TRUE(full.Packets() == (Arrivals{{{5, 6}, kEop}}) && full.buffer[2] == 0xcc);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
    for (const Read *r : {&a, &b, &c, &exact, &full}) r->Free();
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0); // then nothing arrives, not even into the queue
    EXPECT_FALSE(vantor_sim::InjectPacket(0, Bytes{0x01}));
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
}

TEST_F(Adapter, UnusableArgumentsRefusedWithNothingDone)
{
    Bytes data{1, 2, 3};
    PacketProperties properties[1] = {{5, 5, 5}};
    void *packets[] = {data.data(), nullptr}; // the second one null, of length 0
    void *empty_second[] = {data.data(), data.data()}; // the second one of length 0 only
    unsigned lengths[] = {3, 0};
    TransferId id = kNeverIssued;
    const TransferStatus refused[] = {
        Vantor_SendPacket(device_, nullptr, 3, 0, &id), Vantor_SendPacket(device_, data.data(), 0, 0, &id),
        Vantor_SendPacket(device_, data.data(), 3, 0, nullptr), Vantor_SendPacket(kUnknownHandle, data.data(), 3, 0, &id),
        Vantor_SendMultiplePacketLengths(device_, packets, lengths, 2, 0, &id),
        Vantor_SendMultiplePacketLengths(device_, empty_second, lengths, 2, 0, &id),
        Vantor_SendMultiplePacketLengths(device_, packets, lengths, 0, 0, &id),
        Vantor_SendMultiplePacketLengths(device_, nullptr, lengths, 1, 0, &id),
        Vantor_ReadPackets(device_, nullptr, 8, 1, 0, properties, &id),
        Vantor_ReadPackets(device_, data.data(), 0, 1, 0, properties, &id),
        Vantor_ReadPackets(device_, data.data(), 3, 0, 0, properties, &id),
        Vantor_ReadPackets(device_, data.data(), 3, 1, 0, nullptr, &id),
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], VANTOR_TRANSFER_NOT_STARTED) << i;
    EXPECT_TRUE(id == nullptr && properties[0].len == 5);
    EXPECT_TRUE(vantor_sim::TakeSentPackets().empty());
}

// Identifiers never issued, of the other kind, of another device or released
// are not found (12; 5 for an unknown handle), and nothing is released.
TEST_F(Adapter, OnlyLiveIdentifiersOfTheDeviceAreFound)
{
    Start("devices=0:0,4:1");
    DeviceHandle other = nullptr;
    ASSERT_TRUE(Vantor_Open(&other, 4) != 0 && Vantor_RegisterReceiveOnAllPorts(other) != 0);
    const Read read = StartRead(8, 1), released = StartRead(8, 1);
    released.Free(); // while it waits: abandoned
    Bytes data{1};
    TransferId send = nullptr, released_send = nullptr;
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &send), VANTOR_TRANSFER_STARTED);
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &released_send), VANTOR_TRANSFER_STARTED);
    EXPECT_TRUE(Vantor_FreeSend(device_, released_send) == 1 && Vantor_FreeSend(device_, released_send) == 0);
    EXPECT_EQ(vantor_sim::GetDeviceState(4).queued_packets, 0u); // the loopback answers the sender only
    for (auto [h, bad_read, bad_send] :
         {std::tuple(device_, kNeverIssued, kNeverIssued), std::tuple(device_, send, read.id),
          std::tuple(other, read.id, send), std::tuple(device_, released.id, released_send)}) {
        EXPECT_EQ(Vantor_GetReadStatus(h, bad_read), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_WaitOnReadCompleting(h, bad_read, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_WaitOnSendCompleting(h, bad_send, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_FALSE(Vantor_FreeRead(h, bad_read) || Vantor_FreeSend(h, bad_send));
    }
    EXPECT_EQ(Vantor_GetReadStatus(kUnknownHandle, read.id), VANTOR_TRANSFER_ERROR_UNKNOWN);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(kUnknownHandle, send, 0), VANTOR_TRANSFER_ERROR_UNKNOWN);
    EXPECT_TRUE(read.Packets() == (Arrivals{{{1}, kEop}}) && released.buffer == Bytes(8, 0xcc));
    EXPECT_EQ(Vantor_FreeSend(device_, send), 1);
    read.Free();
}

} // namespace
