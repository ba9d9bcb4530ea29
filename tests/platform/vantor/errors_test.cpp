// Refused arguments, unknown identifiers and injected faults.
#include <cstdlib>
#include <limits>

#include "adapter_fixture.h"

namespace {

const auto kUnknownHandle = reinterpret_cast<DeviceHandle>(0x7777);
const auto kNeverIssued = reinterpret_cast<TransferId>(std::numeric_limits<std::uintptr_t>::max());

TEST_F(Adapter, SendArgumentsRefusedWithNothingSent)
{
    Bytes data{1, 2, 3};
    TransferId id = kNeverIssued;
    EXPECT_EQ(Vantor_SendPacket(device_, nullptr, 3, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(id, nullptr);
    id = kNeverIssued;
    EXPECT_EQ(Vantor_SendPacket(device_, data.data(), 0, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(Vantor_SendPacket(device_, data.data(), 3, 0, nullptr), VANTOR_TRANSFER_NOT_STARTED);
    id = kNeverIssued;
    EXPECT_EQ(Vantor_SendPacket(kUnknownHandle, data.data(), 3, 1, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(id, nullptr);

    Bytes other{4};
    void *packets[] = {data.data(), other.data()};
    void *with_null[] = {data.data(), nullptr};
    unsigned lengths[] = {3, 1};
    unsigned with_zero[] = {3, 0};
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, nullptr, lengths, 2, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, nullptr, 2, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 0, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, with_null, lengths, 2, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, with_zero, 2, 0, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 2, 0, nullptr), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(kUnknownHandle, packets, lengths, 2, 0, &id),
              VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(id, nullptr);
    EXPECT_TRUE(vantor_sim::TakeSentPackets().empty());
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
}

TEST_F(Adapter, ReadArgumentsRefused)
{
    Bytes buffer(8);
    PacketProperties properties[2] = {{5, 5, 5}, {5, 5, 5}};
    TransferId id = kNeverIssued;
    EXPECT_EQ(Vantor_ReadPackets(device_, nullptr, 8, 1, 0, properties, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(Vantor_ReadPackets(device_, buffer.data(), 0, 1, 0, properties, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_ReadPackets(device_, buffer.data(), 8, 0, 0, properties, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_ReadPackets(device_, buffer.data(), 8, 1, 0, nullptr, &id), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_ReadPackets(device_, buffer.data(), 8, 1, 0, properties, nullptr), VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(Vantor_ReadPackets(kUnknownHandle, buffer.data(), 8, 1, 0, properties, &id),
              VANTOR_TRANSFER_NOT_STARTED);
    EXPECT_EQ(id, nullptr);
    // Refused reads write nothing and take no packet.
    EXPECT_EQ(properties[0].len, 5u);
    Send({1});
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 1u);
}

TEST_F(Adapter, UnknownAndReleasedTransfersGive12)
{
    Read read = StartRead(8, 1);
    TransferId send = nullptr;
    Bytes data{1};
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &send), VANTOR_TRANSFER_STARTED);

    for (TransferId bad : {static_cast<TransferId>(nullptr), kNeverIssued}) {
        EXPECT_EQ(Vantor_GetReadStatus(device_, bad), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, bad, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, bad, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_FreeRead(device_, bad), 0);
        EXPECT_EQ(Vantor_FreeSend(device_, bad), 0);
    }
    // A send is not a read and the other way round.
    EXPECT_EQ(Vantor_GetReadStatus(device_, send), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, send, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeRead(device_, send), 0);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, read.id, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeSend(device_, read.id), 0);
    // An unknown handle.
    EXPECT_EQ(Vantor_GetReadStatus(kUnknownHandle, read.id), VANTOR_TRANSFER_ERROR_UNKNOWN);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(kUnknownHandle, read.id, 0), VANTOR_TRANSFER_ERROR_UNKNOWN);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(kUnknownHandle, send, 0), VANTOR_TRANSFER_ERROR_UNKNOWN);
    EXPECT_EQ(Vantor_FreeRead(kUnknownHandle, read.id), 0);
    EXPECT_EQ(Vantor_FreeSend(kUnknownHandle, send), 0);

    // Released once, then unknown.
    EXPECT_EQ(Vantor_FreeRead(device_, read.id), 1);
    EXPECT_EQ(Vantor_FreeRead(device_, read.id), 0);
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeSend(device_, send), 1);
    EXPECT_EQ(Vantor_FreeSend(device_, send), 0);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);

    // A new transfer never takes an old identifier.
    Read again = StartRead(8, 1);
    EXPECT_NE(again.id, read.id);
    EXPECT_NE(again.id, send);
    Vantor_FreeRead(device_, again.id);
}

TEST_F(Adapter, ResetForgetsEveryTransfer)
{
    Read read = StartRead(8, 2);
    TransferId send = nullptr;
    Bytes data{1};
    Vantor_SendPacket(device_, data.data(), 1, 0, &send);
    EXPECT_EQ(read.properties[0].len, 1u);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 2u);
    Start("");
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeSend(device_, send), 0);
    // The old read's buffer is no longer written.
    Send({9});
    EXPECT_EQ(read.properties[1].len, 0u);
    EXPECT_EQ(read.buffer[1], 0xcc);
}

TEST_F(Adapter, SendStatusFault)
{
    Start("send_status=3");
    Read read = StartRead(8, 1);
    Bytes data{1, 2};
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendPacket(device_, data.data(), 2, 0, &send), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_ERROR_DISCONNECT);
    Vantor_FreeSend(device_, send);
    EXPECT_EQ(Send({3}), VANTOR_TRANSFER_ERROR_DISCONNECT);
    void *packets[] = {data.data()};
    unsigned lengths[] = {2};
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 1, 1, &send),
              VANTOR_TRANSFER_ERROR_DISCONNECT);
    Vantor_FreeSend(device_, send);
    // A failed send puts nothing on the link.
    EXPECT_TRUE(vantor_sim::TakeSentPackets().empty());
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_STARTED);
    Vantor_FreeRead(device_, read.id);
}

TEST_F(Adapter, ReadStatusFault)
{
    Start("read_status=13");
    Read read = StartRead(8, 1);
    EXPECT_EQ(read.started, VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_GetReadStatus(device_, read.id), VANTOR_TRANSFER_ERROR_USB_ERROR);
    Send({1});
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_ERROR_USB_ERROR);
    EXPECT_EQ(read.properties[0].len, 0u);
    EXPECT_EQ(read.buffer[0], 0xcc);
    // The packet was not taken by the failed read.
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 1u);
    Vantor_FreeRead(device_, read.id);
}

TEST(EnvironmentSettings, ReadOnFirstUseAndComplaintPrintedOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child process starts with a simulator not yet built.
    EXPECT_EXIT(
        {
            setenv("VANTOR_SIM", "devices=2:7;version=3.25;version=x", 1);
            testing::internal::CaptureStdout();
            bool right = Vantor_GetDriverVersion() == 3.25 && Vantor_ListDevices() == 4u &&
                         Vantor_GetUnopenedDeviceType(2) == 7 && Vantor_CountDevices() == 1;
            std::fflush(stdout);
            right = right && testing::internal::GetCapturedStdout() ==
                                 "VANTOR_SIM: ignored malformed setting \"version=x\"\n";
            std::exit(right ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
