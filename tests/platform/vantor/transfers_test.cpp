// Sends, reads and their completion through the loopback.
#include <chrono>
#include <thread>

#include "adapter_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST_F(Adapter, ReadStartedBeforeSendReceivesTheLoopedBackPacket)
{
    Read read = StartRead(64, 1);
    EXPECT_EQ(read.started, VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(read.properties[0].len, 0u); // cleared at the start
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_STARTED);

    Bytes packet{0x01, 0x02, 0x03};
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendPacket(device_, packet.data(), 3, 0, &send), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(read.properties[0].len, 3u);
    EXPECT_EQ(read.properties[0].eop, VANTOR_EOP_EOP);
    EXPECT_EQ(PacketOf(read, 0), packet);
    EXPECT_EQ(read.buffer[3], 0xcc); // nothing written behind the packet
    EXPECT_EQ(Vantor_FreeSend(device_, send), 1);
    EXPECT_EQ(Vantor_FreeRead(device_, read.id), 1);

    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].device, 0);
    EXPECT_EQ(sent[0].packet.bytes, packet);
    EXPECT_EQ(sent[0].packet.eop, VANTOR_EOP_EOP);
    EXPECT_TRUE(vantor_sim::TakeSentPackets().empty());
}

TEST_F(Adapter, PacketsArrivingWithoutReadWaitForTheNextRead)
{
    EXPECT_EQ(Send({0xaa}), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Send({0xbb, 0xcc}), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 2u);
    Read first = StartRead(16, 1);
    EXPECT_EQ(first.started, VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_GetReadStatus(device_, first.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(PacketOf(first, 0), Bytes{0xaa});
    Read second = StartRead(16, 1);
    EXPECT_EQ(Vantor_GetReadStatus(device_, second.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(PacketOf(second, 0), (Bytes{0xbb, 0xcc}));
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
    Vantor_FreeRead(device_, first.id);
    Vantor_FreeRead(device_, second.id);
}

TEST_F(Adapter, OldestUnfinishedReadIsFilledFirst)
{
    Read a = StartRead(16, 1);
    Read b = StartRead(16, 2);
    Read c = StartRead(16, 1);
    for (std::uint8_t byte : {1, 2, 3, 4}) {
        Send({byte});
    }
    EXPECT_EQ(PacketOf(a, 0), Bytes{1});
    EXPECT_EQ(PacketOf(b, 0), Bytes{2});
    EXPECT_EQ(PacketOf(b, 1), Bytes{3});
    EXPECT_EQ(PacketOf(c, 0), Bytes{4});
    for (Read *r : {&a, &b, &c}) {
        EXPECT_EQ(Vantor_GetReadStatus(device_, r->id), VANTOR_TRANSFER_SUCCESS);
        Vantor_FreeRead(device_, r->id);
    }
}

TEST_F(Adapter, MultiplePacketsLieBackToBack)
{
    Read read = StartRead(12, 3);
    Bytes p0{0x10, 0x11}, p1{0x20, 0x21, 0x22, 0x23, 0x24}, p2{0x30, 0x31, 0x32};
    void *packets[] = {p0.data(), p1.data(), p2.data()};
    unsigned lengths[] = {2, 5, 3};
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 3, 0, &send), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, send);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_SUCCESS);
    Bytes expected{0x10, 0x11, 0x20, 0x21, 0x22, 0x23, 0x24, 0x30, 0x31, 0x32, 0xcc, 0xcc};
    EXPECT_EQ(read.buffer, expected);
    EXPECT_EQ(read.properties[0].len, 2u);
    EXPECT_EQ(read.properties[1].len, 5u);
    EXPECT_EQ(read.properties[2].len, 3u);
    for (const auto &p : read.properties) {
        EXPECT_EQ(p.eop, VANTOR_EOP_EOP);
    }
    Vantor_FreeRead(device_, read.id);
    EXPECT_EQ(vantor_sim::TakeSentPackets().size(), 3u);
}

TEST_F(Adapter, ReadFillingItsBufferExactlyCompletes)
{
    Read read = StartRead(4, 2);
    Send({1, 2});
    Send({3, 4});
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(read.buffer, (Bytes{1, 2, 3, 4}));
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, PacketLargerThanRoomLeftEndsReadWithStatus10)
{
    Read read = StartRead(6, 3);
    Send({1, 2, 3, 4});
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_STARTED);
    Send({5, 6, 7}); // 3 bytes, 2 left
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    EXPECT_EQ(read.properties[0].len, 4u);
    EXPECT_EQ(read.properties[1].len, 0u);
    EXPECT_EQ(read.buffer[4], 0xcc);
    EXPECT_EQ(read.buffer[5], 0xcc);
    // The packet that did not fit is gone; the next one goes to the next read.
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
    Send({8});
    Read next = StartRead(6, 1);
    EXPECT_EQ(PacketOf(next, 0), Bytes{8});
    Vantor_FreeRead(device_, read.id);
    Vantor_FreeRead(device_, next.id);
}

TEST_F(Adapter, EepEndingsWhileEnabled)
{
    Read read = StartRead(16, 3);
    Send({1});
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    Send({2});
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 0), 0);
    Send({3});
    EXPECT_EQ(read.properties[0].eop, VANTOR_EOP_EOP);
    EXPECT_EQ(read.properties[1].eop, VANTOR_EOP_EEP);
    EXPECT_EQ(read.properties[2].eop, VANTOR_EOP_EOP);
    auto sent = vantor_sim::TakeSentPackets();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].packet.eop, VANTOR_EOP_EEP);
    EXPECT_EQ(sent[2].packet.eop, VANTOR_EOP_EOP);
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, InjectedPacketsKeepTheirEnding)
{
    Read read = StartRead(16, 3);
    Bytes a{9}, b{8, 7}, c{6};
    EXPECT_TRUE(vantor_sim::InjectPacket(0, a, VANTOR_EOP_NONE));
    EXPECT_TRUE(vantor_sim::InjectPacket(0, b, VANTOR_EOP_EEP));
    EXPECT_TRUE(vantor_sim::InjectPacket(0, c));
    EXPECT_EQ(read.properties[0].eop, VANTOR_EOP_NONE);
    EXPECT_EQ(read.properties[1].eop, VANTOR_EOP_EEP);
    EXPECT_EQ(read.properties[2].eop, VANTOR_EOP_EOP);
    EXPECT_EQ(read.buffer[1], 8);
    EXPECT_FALSE(vantor_sim::InjectPacket(1, a)); // not attached
    EXPECT_FALSE(vantor_sim::InjectPacket(-1, a));
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, UnregisteredDropsPacketsAndRefusesReads)
{
    Send({1});
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u); // the queue is discarded
    Send({2});
    Bytes injected{3};
    EXPECT_FALSE(vantor_sim::InjectPacket(0, injected));
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);

    Read refused = StartRead(8, 1);
    EXPECT_EQ(refused.started, VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    ASSERT_NE(refused.id, nullptr);
    EXPECT_EQ(Vantor_GetReadStatus(device_, refused.id), VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, refused.id, 0), VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    EXPECT_EQ(Vantor_FreeRead(device_, refused.id), 1);

    // Registered again, nothing from before is delivered.
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    Read read = StartRead(8, 1);
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_STARTED);
    Send({4});
    EXPECT_EQ(PacketOf(read, 0), Bytes{4});
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, ReadReleasedWhileWaitingIsAbandoned)
{
    Read abandoned = StartRead(8, 1);
    EXPECT_EQ(Vantor_FreeRead(device_, abandoned.id), 1);
    Read read = StartRead(8, 1);
    Send({5});
    EXPECT_EQ(PacketOf(read, 0), Bytes{5});
    EXPECT_EQ(abandoned.buffer, Bytes(8, 0xcc));
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, WaitWithoutTimeoutEndsAtOnceKeepingWhatArrived)
{
    Read read = StartRead(16, 3);
    Send({1, 2});
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_EQ(read.properties[0].len, 2u);
    EXPECT_EQ(read.properties[1].len, 0u);
    EXPECT_EQ(read.properties[2].len, 0u);
    EXPECT_EQ(PacketOf(read, 0), (Bytes{1, 2}));
    // A finished read takes nothing more.
    Send({3});
    EXPECT_EQ(read.properties[1].len, 0u);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 1u);
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, WaitWithTimeoutSleepsUntilTheDeadline)
{
    ASSERT_NE(Vantor_SetTimeout(device_, 0.05), 0);
    auto started = Clock::now();
    Read read = StartRead(16, 3);
    Send({1});
    Send({2});
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(50));
    EXPECT_EQ(read.properties[0].len, 1u);
    EXPECT_EQ(read.properties[1].len, 1u);
    EXPECT_EQ(read.properties[2].len, 0u);
    EXPECT_EQ(read.buffer[1], 2);
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, PolledStatusTurnsTo6AfterTheTimeout)
{
    ASSERT_NE(Vantor_SetTimeout(device_, 0.01), 0);
    Read early = StartRead(8, 1);
    EXPECT_EQ(Vantor_GetReadStatus(device_, early.id), VANTOR_TRANSFER_STARTED);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    // A packet arriving after the deadline does not go to the expired read.
    Read late = StartRead(8, 1);
    Send({7});
    EXPECT_EQ(Vantor_GetReadStatus(device_, early.id), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_EQ(early.properties[0].len, 0u);
    EXPECT_EQ(Vantor_GetReadStatus(device_, late.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(PacketOf(late, 0), Bytes{7});
    Vantor_FreeRead(device_, early.id);
    Vantor_FreeRead(device_, late.id);
}

TEST_F(Adapter, CompleteReadIsNotTimedOut)
{
    ASSERT_NE(Vantor_SetTimeout(device_, 0.01), 0);
    Read read = StartRead(8, 1);
    Send({1});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, WaitingCallsReturnFinalStatus)
{
    Bytes buffer(8);
    PacketProperties properties{};
    TransferId read = nullptr;
    Send({4, 5});
    EXPECT_EQ(Vantor_ReadPackets(device_, buffer.data(), 8, 1, 1, &properties, &read), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(properties.len, 2u);
    Vantor_FreeRead(device_, read);
    EXPECT_EQ(Vantor_ReadPackets(device_, buffer.data(), 8, 1, 1, &properties, &read), VANTOR_TRANSFER_ERROR_TIMEOUT);
    Vantor_FreeRead(device_, read);

    Bytes a{1}, b{2};
    void *packets[] = {a.data(), b.data()};
    unsigned lengths[] = {1, 1};
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 2, 1, &send), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, send);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 2u);
}

TEST_F(Adapter, LoopbackReturnsToTheSendingDeviceOnly)
{
    Start("devices=0:0,4:1");
    DeviceHandle other = nullptr;
    ASSERT_NE(Vantor_Open(&other, 4), 0);
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(other), 0);
    Send({1});
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 1u);
    EXPECT_EQ(vantor_sim::GetDeviceState(4).queued_packets, 0u);
    // Ids belong to their device.
    Read read = StartRead(8, 1);
    EXPECT_EQ(Vantor_GetReadStatus(other, read.id), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeRead(other, read.id), 0);
    EXPECT_EQ(Vantor_FreeRead(device_, read.id), 1);
}

} // namespace
