// Sends, reads and their completion through the loopback; refused arguments,
// unknown identifiers, injected send faults and the trace file.  The plain
// loopback, EEP endings and injected read faults are also exercised by the
// SpaceWire goldens.
#include <chrono>
#include <limits>
#include <thread>
#include <tuple>

#include "adapter_fixture.h"
#include "support/scratch_dir.h"

namespace {

using namespace std::chrono_literals;

const auto kUnknownHandle = reinterpret_cast<DeviceHandle>(0x7777);
const auto kNeverIssued = reinterpret_cast<TransferId>(std::numeric_limits<std::uintptr_t>::max());

TEST_F(Adapter, PacketsFillTheOldestReadOrWaitForTheNext)
{
    for (const Bytes &packet : {Bytes{0xaa}, Bytes{0xbb, 0xcc}}) Send(packet);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 2u);
    Read a = StartRead(16, 1), b = StartRead(16, 2), c = StartRead(16, 1);
    EXPECT_EQ(a.started, VANTOR_TRANSFER_STARTED); // even when queued packets complete it at once
    for (const Bytes &packet : {Bytes{1}, Bytes{2}}) Send(packet);
    EXPECT_TRUE(PacketOf(a, 0) == Bytes{0xaa} && PacketOf(b, 0) == (Bytes{0xbb, 0xcc}));
    EXPECT_TRUE(PacketOf(b, 1) == Bytes{1} && PacketOf(c, 0) == Bytes{2});
    EXPECT_TRUE(Status(a) == VANTOR_TRANSFER_SUCCESS && Status(b) == VANTOR_TRANSFER_SUCCESS &&
                Status(c) == VANTOR_TRANSFER_SUCCESS);
    for (const Read *r : {&a, &b, &c}) Free(*r);
}

// Packets queue while no read is pending; reads taking some of them while
// more arrive must still get every one whole, in order, with its ending.
TEST_F(Adapter, QueuedPacketsKeepTheirBytesEndingsAndOrder)
{
    Arrivals sent;
    auto send_more = [&](int count) {
        for (int k = 0; k < count; ++k) {
            const auto i = static_cast<std::uint8_t>(sent.size());
            Bytes packet(1 + sent.size() % 40, i);
            packet[0] = 0x55; // no RMAP command: looped back
            const int eop = sent.size() % 7 == 3 ? VANTOR_EOP_EEP : VANTOR_EOP_EOP;
            Vantor_EnableSendEEPs(device_, eop == VANTOR_EOP_EEP ? 1 : 0);
            Send(packet);
            sent.emplace_back(packet, eop);
        }
        Vantor_EnableSendEEPs(device_, 0);
    };
    Arrivals received;
    auto receive = [&](int count) {
        for (int k = 0; k < count; ++k) {
            Read read = StartRead(64, 1);
            ASSERT_EQ(Status(read), VANTOR_TRANSFER_SUCCESS);
            received.emplace_back(PacketOf(read, 0), read.properties[0].eop);
            Free(read);
        }
    };
    // Most of the queue taken before more comes: what was taken is dropped from it.
    send_more(300);
    receive(200);
    send_more(100);
    receive(200);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
    EXPECT_TRUE(received == sent);
}

TEST_F(Adapter, PacketsLieBackToBackUntilTheBufferIsFull)
{
    Read read = StartRead(12, 3);
    Bytes p0{0x10, 0x11}, p1{0x20, 0x21, 0x22, 0x23, 0x24}, p2{0x30, 0x31, 0x32};
    void *packets[] = {p0.data(), p1.data(), p2.data()};
    unsigned lengths[] = {2, 5, 3};
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 3, 1, &send), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, send);
    EXPECT_EQ(Status(read), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(read.buffer, (Bytes{0x10, 0x11, 0x20, 0x21, 0x22, 0x23, 0x24, 0x30, 0x31, 0x32, 0xcc, 0xcc}));
    EXPECT_TRUE(read.properties[0].len == 2 && read.properties[1].len == 5 && read.properties[2].len == 3);
    // A packet that fills the room left exactly completes a read; one larger
    // ends it with status 10 and is lost.
    Read exact = StartRead(4, 2), full = StartRead(3, 2);
    for (const Bytes &packet : {Bytes{1, 2}, Bytes{3, 4}, Bytes{5, 6}, Bytes{7, 8}}) Send(packet);
    EXPECT_EQ(Status(exact), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(exact.buffer, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, full.id, 0), VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL);
    EXPECT_TRUE(full.properties[0].len == 2 && full.properties[1].len == 0 && full.buffer[2] == 0xcc);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
    for (const Read *r : {&read, &exact, &full}) Free(*r);
}

TEST_F(Adapter, UnregisteredDropsPacketsAndRefusesReads)
{
    Send({1});
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u); // the queue is discarded
    Send({2});
    EXPECT_FALSE(vantor_sim::InjectPacket(0, Bytes{3}));
    Read refused = StartRead(8, 1);
    EXPECT_EQ(refused.started, VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, refused.id, 0), VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    Free(refused);
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u); // nothing from before is delivered
}

TEST_F(Adapter, ReadsTimeOutKeepingWhatArrived)
{
    // Without a time-out, waiting on an unfinished read ends it at once.
    Read read = StartRead(16, 3);
    Send({1, 2});
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, read.id, 0), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_EQ(Status(read), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_TRUE(PacketOf(read, 0) == (Bytes{1, 2}) && read.properties[1].len == 0);
    Send({3}); // a finished read takes nothing more
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 1u);
    // With one, waiting sleeps until the deadline and polling sees it pass;
    // a read complete in time stays complete.
    ASSERT_NE(Vantor_SetTimeout(device_, 0.03), 0);
    Read complete = StartRead(8, 1); // takes the packet waiting
    const auto started = std::chrono::steady_clock::now();
    Read slow = StartRead(16, 2), polled = StartRead(8, 1);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, slow.id, 0), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 30ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Status(polled), VANTOR_TRANSFER_ERROR_TIMEOUT);
    EXPECT_EQ(Status(complete), VANTOR_TRANSFER_SUCCESS);
    for (const Read *r : {&read, &complete, &slow, &polled}) Free(*r);
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

TEST_F(Adapter, UnknownReleasedAndOtherKindIdentifiersAreNotFound)
{
    Start("devices=0:0,4:1");
    DeviceHandle other = nullptr;
    ASSERT_TRUE(Vantor_Open(&other, 4) != 0 && Vantor_RegisterReceiveOnAllPorts(other) != 0);
    Read read = StartRead(8, 1);
    TransferId send = nullptr;
    Bytes data{1};
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &send), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(vantor_sim::GetDeviceState(4).queued_packets, 0u); // the loopback answers the sender only
    // Never issued, of the other kind, or of another device: 12, and nothing released.
    for (auto [h, bad_read, bad_send] : {std::tuple(device_, kNeverIssued, kNeverIssued),
                                         std::tuple(device_, send, read.id), std::tuple(other, read.id, send)}) {
        EXPECT_EQ(Vantor_GetReadStatus(h, bad_read), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_WaitOnReadCompleting(h, bad_read, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_EQ(Vantor_WaitOnSendCompleting(h, bad_send, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
        EXPECT_FALSE(Vantor_FreeRead(h, bad_read) || Vantor_FreeSend(h, bad_send));
    }
    EXPECT_EQ(Vantor_GetReadStatus(kUnknownHandle, read.id), VANTOR_TRANSFER_ERROR_UNKNOWN);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(kUnknownHandle, send, 0), VANTOR_TRANSFER_ERROR_UNKNOWN);
    // Released once, then unknown for good; a read released while it waits is abandoned.
    EXPECT_TRUE(Vantor_FreeSend(device_, send) == 1 && Vantor_FreeSend(device_, send) == 0);
    Read waiting = StartRead(8, 1);
    Free(waiting);
    EXPECT_EQ(Status(waiting), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    Read again = StartRead(8, 1);
    EXPECT_TRUE(again.id != waiting.id && again.id != send);
    Send({5});
    EXPECT_TRUE(PacketOf(again, 0) == Bytes{5} && waiting.buffer == Bytes(8, 0xcc));
    for (const Read *r : {&read, &again}) Free(*r);
}

TEST_F(Adapter, ReleasedIdsStayUnknownWhenTheirPlaceIsTakenAgain)
{
    Read released = StartRead(8, 1);
    Free(released);
    Read next = StartRead(8, 1);
    EXPECT_NE(next.id, released.id);
    EXPECT_EQ(Status(released), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_WaitOnReadCompleting(device_, released.id, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeRead(device_, released.id), 0);
    Send({7}); // the later read is still there to take it
    EXPECT_EQ(Status(next), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(PacketOf(next, 0), Bytes{7});
    Free(next);

    Bytes data{1};
    TransferId first = nullptr, second = nullptr;
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &first), VANTOR_TRANSFER_STARTED);
    ASSERT_EQ(Vantor_FreeSend(device_, first), 1);
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &second), VANTOR_TRANSFER_STARTED);
    EXPECT_NE(second, first);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, first, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeSend(device_, first), 0);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, second, 0), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_FreeSend(device_, second), 1);
}

TEST_F(Adapter, ManyOutstandingReadsFillInTheOrderTheyStarted)
{
    // Enough reads to need more than one block of bookkeeping.  Some are
    // released while they wait, at the front, in the middle and at the back:
    // every third, then, in the second half, the one after each of those.
    constexpr unsigned kReads = 10000;
    std::vector<Read> reads;
    reads.reserve(kReads);
    for (unsigned i = 0; i < kReads; ++i) reads.push_back(StartRead(4, 1));
    static_assert((kReads - 1) % 3 == 0, "the last read is among those released");
    const auto released = [](unsigned i) { return i % 3 == 0 || (i % 3 == 1 && i >= kReads / 2); };
    for (unsigned i = 0; i < kReads; ++i) {
        if (i % 3 == 0) Free(reads[i]);
    }
    for (unsigned i = kReads / 2; i < kReads; ++i) {
        if (i % 3 == 1) Free(reads[i]);
    }
    std::vector<const Read *> kept;
    for (unsigned i = 0; i < kReads; ++i) {
        if (!released(i)) kept.push_back(&reads[i]);
    }
    const Read late = StartRead(4, 1); // behind all the others, the last one gone
    kept.push_back(&late);
    EXPECT_EQ(vantor_sim::LiveTransferCount(), kept.size());
    for (std::size_t k = 0; k < kept.size(); ++k) {
        Send({static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)});
    }
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
    for (std::size_t k = 0; k < kept.size(); ++k) {
        ASSERT_EQ(Status(*kept[k]), VANTOR_TRANSFER_SUCCESS) << k;
        ASSERT_EQ(PacketOf(*kept[k], 0), (Bytes{static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k)})) << k;
    }
    for (const Read *read : kept) Free(*read);
}

TEST_F(Adapter, IdsFromBeforeAResetAreUnknownAfterIt)
{
    Read old_read = StartRead(8, 1);
    Bytes data{1};
    TransferId old_send = nullptr;
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &old_send), VANTOR_TRANSFER_STARTED);
    Start();
    EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    EXPECT_EQ(Status(old_read), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeRead(device_, old_read.id), 0);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, old_send, 0), VANTOR_TRANSFER_ERROR_NOT_FOUND);
    EXPECT_EQ(Vantor_FreeSend(device_, old_send), 0);
    // Transfers started after the reset get ids of their own.
    Read read = StartRead(8, 1);
    TransferId send = nullptr;
    ASSERT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &send), VANTOR_TRANSFER_STARTED);
    EXPECT_TRUE(read.id != old_read.id && send != old_send);
    EXPECT_EQ(Status(read), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_SUCCESS);
    EXPECT_TRUE(Vantor_FreeRead(device_, read.id) == 1 && Vantor_FreeSend(device_, send) == 1);
}

TEST_F(Adapter, SentLogKeepsTheMostRecentPacketsInOrder)
{
    Start("far_end=silent");
    const std::size_t sent = vantor_sim::kSentLogLimit + 3;
    const auto packet = [](std::size_t i) {
        return Bytes{static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
    };
    for (std::size_t i = 0; i < sent; ++i) Send(packet(i));
    std::vector<vantor_sim::SentPacket> log = vantor_sim::TakeSentPackets();
    ASSERT_EQ(log.size(), vantor_sim::kSentLogLimit);
    for (std::size_t k = 0; k < log.size(); ++k) ASSERT_EQ(log[k].packet.bytes, packet(k + 3)) << k;
    Send({0xaa, 0xbb});
    Send({0xcc});
    log = vantor_sim::TakeSentPackets();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].packet.bytes == (Bytes{0xaa, 0xbb}) && log[1].packet.bytes == Bytes{0xcc});
}

TEST_F(Adapter, FailedSendsPutNothingOnTheLink)
{
    Start("send_status=3");
    EXPECT_EQ(Send({1, 2}), VANTOR_TRANSFER_ERROR_DISCONNECT);
    EXPECT_TRUE(vantor_sim::TakeSentPackets().empty());
    EXPECT_EQ(vantor_sim::GetDeviceState(0).queued_packets, 0u);
}

TEST_F(Adapter, TraceLinesForPacketsSentAndArrived)
{
    ScratchDir dir;
    dir.Write("trace.txt", "earlier line\n");
    Start("trace=" + (dir / "trace.txt").string());
    Send({0x00, 0xab, 0x10});
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    Send({0xff});
    vantor_sim::InjectPacket(0, Bytes{0x5a, 0x0f}, VANTOR_EOP_NONE);
    ASSERT_NE(Vantor_UnregisterReceiveOnAllPorts(device_), 0);
    vantor_sim::InjectPacket(0, Bytes{0x01}); // dropped: never reached the adapter
    EXPECT_EQ(dir.Read("trace.txt"), "earlier line\n> 00 ab 10 EOP\n< 00 ab 10 EOP\n> ff EEP\n< ff EEP\n< 5a 0f none\n");
}

} // namespace
