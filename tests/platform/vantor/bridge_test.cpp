// The bridge device against a scripted SSDTP2 peer on 127.0.0.1: frames cut
// anywhere, endings, time-codes, a peer that goes away or breaks the format,
// opening failures, registration, time-outs and the idle rule, bulk and
// pipelined transfers, and two bridges at once.  Every test uses the C calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "adapter_fixture.h"
#include "support/capture_stdout.h"
#include "support/hand_rmap.h"
#include "support/scratch_dir.h"
#include "support/ssdtp_peer.h"
#include "vantor_sim_control.h"

namespace {

namespace wire = ssdtp_wire;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hand_rmap::Cat, hand_rmap::First;
using wire::Bytes, wire::Frame, wire::Header, wire::Received, wire::TimeCode;
constexpr int kEop = VANTOR_EOP_EOP, kEep = VANTOR_EOP_EEP;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Polls until done() holds; false after two seconds.
bool Until(const std::function<bool()> &done)
{
    for (const auto until = Clock::now() + 2s; Clock::now() < until; std::this_thread::sleep_for(1ms)) {
        if (done()) return true;
    }
    return done();
}

long Lines(const std::string &out) { return std::ranges::count(out, '\n'); }

// How many lines of out report on device 0 and name every one of words.
int Reports(const std::string &out, std::initializer_list<std::string> words)
{
    int count = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        bool all = line.rfind("VANTOR_SIM: device 0", 0) == 0;
        for (const std::string &word : words) all = all && line.find(word) != std::string::npos;
        count += all ? 1 : 0;
    }
    return count;
}

class Bridge : public testing::Test {
protected:
    // Device 0 a bridge to the peer, opened (a fresh connection) and, unless told otherwise, registered.
    void Start(const std::string &extra = "", bool registered = true)
    {
        const int before = peer_.Accepted();
        vantor_sim::ApplySettings("devices=0:0@" + peer_.endpoint() + ";idle_wait=0.2;stall_limit=0.5;" + extra);
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        ASSERT_TRUE(!registered || Vantor_RegisterReceiveOnAllPorts(device_) != 0);
        ASSERT_TRUE(peer_.WaitAccepted(before + 1));
    }
    void TearDown() override
    {
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
        vantor_sim::ApplySettings(""); // closes the connections before the peers go
    }

    TransferStatus Send(Bytes bytes) { return SendWaiting(device_, std::move(bytes)); }

    struct Read {
        Bytes buffer;
        std::vector<PacketProperties> properties;
        DeviceHandle device = nullptr;
        TransferId id = nullptr;
        TransferStatus started = -1;
    };
    Read StartRead(unsigned size, unsigned count, DeviceHandle device = nullptr)
    {
        Read read{Bytes(size, 0xcc), std::vector<PacketProperties>(count), device != nullptr ? device : device_};
        read.started =
            Vantor_ReadPackets(read.device, read.buffer.data(), size, count, 0, read.properties.data(), &read.id);
        return read;
    }
    static TransferStatus Wait(const Read &read) { return Vantor_WaitOnReadCompleting(read.device, read.id, 0); }
    static TransferStatus Status(const Read &read) { return Vantor_GetReadStatus(read.device, read.id); }
    static void Free(const Read &read) { EXPECT_EQ(Vantor_FreeRead(read.device, read.id), 1); }
    // The packets a read holds (entries with an ending), with their endings.
    static Arrivals Packets(const Read &read)
    {
        Arrivals packets;
        auto at = read.buffer.begin();
        for (const PacketProperties &entry : read.properties) {
            if (entry.eop == VANTOR_EOP_NONE) break;
            packets.emplace_back(Bytes(at, at + static_cast<std::ptrdiff_t>(entry.len)), entry.eop);
            at += static_cast<std::ptrdiff_t>(entry.len);
        }
        return packets;
    }
    // One packet the peer sends, read through a waiting read.
    Arrivals Exchange(const Bytes &frames)
    {
        Read read = StartRead(64, 1);
        peer_.Send(frames);
        EXPECT_EQ(Wait(read), VANTOR_TRANSFER_SUCCESS);
        Free(read);
        return Packets(read);
    }

    ssdtp_peer::Peer peer_;
    DeviceHandle device_ = nullptr;
};

// Every way of cutting a 3-byte packet into fragments (empty first and last
// frames included), then empty packets; the stream delivered whole and in
// pieces that cut headers and payloads anywhere, one byte at a time too.
TEST_F(Bridge, FragmentsJoinWhereverTheStreamIsCut)
{
    Start();
    Bytes stream;
    Arrivals expected;
    for (unsigned cuts = 0; cuts < 16; ++cuts) {
        const Bytes packet{static_cast<std::uint8_t>(cuts), 0x5a, static_cast<std::uint8_t>(0xf0 ^ cuts)};
        std::size_t from = 0;
        for (std::size_t at = 0; at <= 3; ++at) {
            if (((cuts >> at) & 1u) == 0) continue;
            stream = Cat({stream, Frame(wire::kFragment, Bytes(packet.begin() + from, packet.begin() + at))});
            from = at;
        }
        stream = Cat({stream, Frame(cuts % 2 == 0 ? wire::kEop : wire::kEep, Bytes(packet.begin() + from, packet.end()))});
        expected.emplace_back(packet, cuts % 2 == 0 ? kEop : kEep);
    }
    stream = Cat({stream, Frame(wire::kEop, {}), Frame(wire::kFragment, {}), Frame(wire::kEep, {})});
    expected.insert(expected.end(), {{Bytes{}, kEop}, {Bytes{}, kEep}});
    for (std::size_t piece : {SIZE_MAX, std::size_t{1}, std::size_t{5}, std::size_t{13}}) {
        SCOPED_TRACE(piece);
        Read read = StartRead(48, 18); // exactly the bytes of the 18 packets
        ASSERT_TRUE(peer_.Send(stream, piece, 50us));
        EXPECT_EQ(Wait(read), VANTOR_TRANSFER_SUCCESS);
        EXPECT_EQ(Packets(read), expected);
        Free(read);
    }
}

// Packets completed while unregistered never arrive; those that arrived
// before the device unregisters are discarded (no call takes them in first:
// the receiver has them, the device not yet).  Time-codes (either flag) and
// link-speed frames between and inside packets are never delivered;
// time-codes are traced.  Sends go out with the flag of their ending.
TEST_F(Bridge, OnlyRegisteredDevicesReceiveTimeCodesTracedEndingsKept)
{
    ScratchDir dir;
    Start("trace=" + (dir / "trace.txt").string(), false);
    Read refused = StartRead(8, 1);
    EXPECT_EQ(refused.started, VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    Free(refused);
    ASSERT_TRUE(peer_.Send(Cat({Frame(wire::kEop, {1}), TimeCode(1)})));
    std::this_thread::sleep_for(100ms);
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    EXPECT_EQ(Exchange(Frame(wire::kEop, {2})), (Arrivals{{{2}, kEop}}));
    ASSERT_TRUE(peer_.Send(Cat({Frame(wire::kEop, {3}), TimeCode(2)})));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(Vantor_UnregisterReceiveOnAllPorts(device_) != 0 && Vantor_RegisterReceiveOnAllPorts(device_) != 0);
    const Bytes stream = Cat({Frame(wire::kEop, {0x01}), TimeCode(0x3f), Frame(wire::kFragment, {0x02}),
                              TimeCode(0x05, wire::kTimeCodeAlternate), Frame(wire::kLinkSpeed, {0x01, 0x00}),
                              Frame(wire::kEep, {0x03})});
    Read read = StartRead(8, 3);
    ASSERT_TRUE(peer_.Send(stream, 1, 50us));
    EXPECT_EQ(Wait(read), VANTOR_TRANSFER_ERROR_TIMEOUT); // once quiet: no third packet
    EXPECT_EQ(Packets(read), (Arrivals{{{0x01}, kEop}, {{0x02, 0x03}, kEep}}));
    Free(read);
    EXPECT_EQ(Send({0xab}), VANTOR_TRANSFER_SUCCESS);
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    Bytes a{0xcd}, b{0xef, 0x00};
    void *packets[] = {a.data(), b.data()};
    unsigned lengths[] = {1, 2};
    TransferId id = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 2, 0, &id), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, id, 0), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, id);
    for (const Received &frame : {Received{wire::kEop, {0xab}}, Received{wire::kEep, a}, Received{wire::kEep, b}})
        EXPECT_EQ(peer_.Receive(), std::optional(frame));
    EXPECT_EQ(dir.Read("trace.txt"), "t 01\n< 02 EOP\n< 03 EOP\nt 02\n< 01 EOP\nt 3f\nt 05\n< 02 03 EEP\n> ab EOP\n"
                                     "> cd EEP\n> ef 00 EEP\n");
}

// Sends not waited for are batched, and out at the latest with the next call
// that polls the device: a read's status, a send's wait, unregistering.
TEST_F(Bridge, SendsNotWaitedForGoOutWithTheNextPoll)
{
    Start();
    std::uint8_t next = 0;
    for (int prompt = 0; prompt < 3; ++prompt) {
        SCOPED_TRACE(prompt);
        Read read = StartRead(8, 1);
        TransferId id = nullptr;
        for (int k = 0; k < 2; ++k) {
            Bytes data{++next};
            EXPECT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &id), VANTOR_TRANSFER_STARTED);
            if (k == 0) Vantor_FreeSend(device_, id);
        }
        EXPECT_TRUE(prompt == 0   ? Status(read) == VANTOR_TRANSFER_STARTED
                    : prompt == 1 ? Vantor_WaitOnSendCompleting(device_, id, 0) == VANTOR_TRANSFER_SUCCESS
                                  : Vantor_UnregisterReceiveOnAllPorts(device_) != 0);
        for (std::uint8_t k : {next - 1, +next}) EXPECT_EQ(peer_.Receive(), std::optional(Received{wire::kEop, {k}}));
        Vantor_FreeSend(device_, id);
        Free(read);
    }
    // Nor is one lost when the device goes before anything polled it.
    TransferId id = nullptr;
    Bytes last{0x7f};
    EXPECT_EQ(Vantor_SendPacket(device_, last.data(), 1, 0, &id), VANTOR_TRANSFER_STARTED);
    Vantor_FreeSend(device_, id);
    vantor_sim::ApplySettings("");
    EXPECT_EQ(peer_.Receive(), std::optional(Received{wire::kEop, last}));
}

// The peer closing the connection, breaking the format, or leaving a packet
// unfinished breaks the link: the pending read ends with 3 keeping what came
// whole, later calls say 3 at once, the loss is reported once, the device
// drops the connection, and opening again connects afresh.  A loss first
// noticed by opening again keeps what came whole too.
TEST_F(Bridge, LossOfTheLinkEndsItUntilOpenedAgain)
{
    const Bytes eight(8, 0x88), four(4, 0x44), seven{1, 2, 3, 4, 5, 6, 7};
    const std::string stalls = "stall_limit=0.2;idle_wait=2";
    const struct {
        const char *name;
        std::string settings;
        Bytes stream;
        Arrivals delivered;
        const char *reason;
        bool close = false, mid_frame = false, noticed_by_opening = false;
    } rows[] = {
        {"closed mid-header", "", First(Header(wire::kEop, 4), 5), {}, "closed", true, true},
        {"closed mid-payload", "", Cat({Header(wire::kEop, 4), {1, 2}}), {}, "closed", true, true},
        {"closed between fragments", "", Frame(wire::kFragment, {1, 2}), {}, "closed", true, true},
        {"closed between packets", "", Frame(wire::kEep, {7, 8}), {{{7, 8}, kEep}}, "closed", true},
        {"closed, noticed by opening", "", Frame(wire::kEop, {7, 8}), {{{7, 8}, kEop}}, "closed", true, false, true},
        {"size 2^79", "", Header(wire::kEop, 1, 0x8000), {}, "limit"},
        {"one beyond packet_limit", "packet_limit=8", Cat({Frame(wire::kEop, eight), Header(wire::kEep, 9)}),
         {{eight, kEop}}, "limit of 8 bytes"},
        {"fragments beyond packet_limit", "packet_limit=8",
         Cat({Frame(wire::kFragment, four), Frame(wire::kEop, four), Frame(wire::kFragment, four),
              Header(wire::kEop, 5)}),
         {{Cat({four, four}), kEop}}, "limit of 8 bytes"},
        {"unknown flag", "", Header(0x03, 1), {}, "unknown frame flag 0x03"},
        {"reserved byte", "", Header(wire::kEop, 1, 0, 0x01), {}, "reserved"},
        {"time-code of 3 bytes", "", Frame(wire::kTimeCodeAlternate, {0x3f, 0, 0}), {}, "time-code"},
        {"link-speed of 1 byte", "", Frame(wire::kLinkSpeed, {0x01}), {}, "link-speed"},
        {"header never finished", stalls, First(Header(wire::kEop, 1), 11), {}, "nothing came for 0.2 s"},
        {"payload never finished", stalls, Cat({Header(wire::kEop, 4), {1, 2, 3}}), {}, "nothing came"},
        {"no frame after an empty fragment", stalls, Frame(wire::kFragment, {}), {}, "nothing came"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Start(row.settings);
        DeviceHandle again = nullptr;
        ASSERT_TRUE(Vantor_Open(&again, 0) != 0 && again == device_); // an open link is kept
        const int accepted = peer_.Accepted();
        CaptureStdout capture;
        Read read = StartRead(64, 2);
        const auto sent = Clock::now();
        ASSERT_TRUE(peer_.Send(row.stream, row.close ? 1 : SIZE_MAX, 50us));
        if (row.close) peer_.Close();
        // Opening an intact link does nothing, so this loops until the loss is seen.
        EXPECT_TRUE(!row.noticed_by_opening ||
                    Until([&] { return Vantor_Open(&again, 0) != 0 && peer_.Accepted() > accepted; }));
        EXPECT_EQ(row.noticed_by_opening ? Status(read) : Wait(read), VANTOR_TRANSFER_ERROR_DISCONNECT);
        EXPECT_TRUE(row.settings != stalls || Since(sent) >= 0.2);
        EXPECT_EQ(Packets(read), row.delivered);
        Free(read);
        if (!row.noticed_by_opening) {
            EXPECT_TRUE(peer_.WaitDisconnected());
            Bytes data{1};
            TransferId send = nullptr;
            EXPECT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &send), VANTOR_TRANSFER_ERROR_DISCONNECT);
            EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_ERROR_DISCONNECT);
            Vantor_FreeSend(device_, send);
            Read later = StartRead(8, 1);
            EXPECT_EQ(later.started, VANTOR_TRANSFER_ERROR_DISCONNECT);
            EXPECT_EQ(Status(later), VANTOR_TRANSFER_ERROR_DISCONNECT);
            Free(later);
            EXPECT_EQ(peer_.Accepted(), accepted);
            ASSERT_TRUE(Vantor_Open(&again, 0) != 0 && again == device_);
        }
        const std::string out = capture.Take();
        EXPECT_TRUE(Lines(out) == 1 && Reports(out, {peer_.endpoint(), row.reason}) == 1) << out;
        EXPECT_EQ(Reports(out, {"middle of a frame"}), row.mid_frame ? 1 : 0) << out;
        // Opening again made a new connection, still registered.
        EXPECT_TRUE(peer_.WaitAccepted(accepted + 1));
        EXPECT_EQ(Exchange(Frame(wire::kEop, {0x42})), (Arrivals{{{0x42}, kEop}}));
    }
    // The boundaries themselves pass, and so does a packet trickling in: only silence is a stall.
    Start("packet_limit=8;stall_limit=0.25;idle_wait=2");
    Read read = StartRead(64, 3);
    ASSERT_TRUE(peer_.Send(Cat({Frame(wire::kEop, eight), Frame(wire::kFragment, four), Frame(wire::kEep, four),
                                First(Header(wire::kEop, 7), 11)})));
    ASSERT_TRUE(peer_.Send(Cat({{0x07}, seven}), 1, 60ms)); // 0.42 s in all
    EXPECT_EQ(Wait(read), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Packets(read), (Arrivals{{eight, kEop}, {Cat({four, four}), kEep}, {seven, kEop}}));
    Free(read);
}

// The peer reading nothing: a send that cannot get out within the stall limit ends with 3.
TEST_F(Bridge, PeerAcceptingNothingBreaksTheSend)
{
    Start("stall_limit=0.2");
    peer_.SetHold(true);
    CaptureStdout capture;
    const auto start = Clock::now();
    EXPECT_EQ(Send(Bytes(32u << 20, 0x33)), VANTOR_TRANSFER_ERROR_DISCONNECT);
    const double waited = Since(start);
    EXPECT_EQ(Send({1}), VANTOR_TRANSFER_ERROR_DISCONNECT);
    const std::string out = capture.Take();
    EXPECT_TRUE(waited >= 0.2 && waited < 2.0) << waited;
    EXPECT_TRUE(Lines(out) == 1 && Reports(out, {peer_.endpoint(), "accepted nothing"}) == 1) << out;
}

// Opening fails, with the reason printed once per attempt, when nobody
// listens or the host is unknown, also when opening again after a loss.
TEST_F(Bridge, OpeningFailsWithTheReason)
{
    const int unlistened = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); // bound, never listening: refuses
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_TRUE(bind(unlistened, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                getsockname(unlistened, reinterpret_cast<sockaddr *>(&address), &length) == 0);
    const std::string refused = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    for (const auto &[endpoint, reason] : {std::pair{refused, "refused"}, std::pair{std::string("nosuchhost.invalid"), "resolve"}}) {
        SCOPED_TRACE(endpoint);
        vantor_sim::ApplySettings("devices=0:0@" + endpoint + (endpoint == refused ? "" : ":4000"));
        CaptureStdout capture;
        DeviceHandle device = reinterpret_cast<DeviceHandle>(1);
        EXPECT_TRUE(Vantor_Open(&device, 0) == 0 && device == nullptr && Vantor_Open(&device, 0) == 0);
        const std::string out = capture.Take();
        EXPECT_TRUE(Lines(out) == 2 && Reports(out, {endpoint, reason}) == 2) << out;
        EXPECT_FALSE(vantor_sim::GetDeviceState(0).open);
    }
    close(unlistened);
    // A peer gone for good: the open after the loss fails, and the device stays lost.
    Start();
    peer_.StopListening();
    peer_.Close();
    CaptureStdout capture;
    DeviceHandle again = nullptr;
    EXPECT_TRUE(Until([&] { return Send({1}) == VANTOR_TRANSFER_ERROR_DISCONNECT; }));
    EXPECT_EQ(Vantor_Open(&again, 0), 0);
    EXPECT_EQ(Send({1}), VANTOR_TRANSFER_ERROR_DISCONNECT);
    Read read = StartRead(8, 1);
    EXPECT_EQ(read.started, VANTOR_TRANSFER_ERROR_DISCONNECT);
    Free(read);
    const std::string out = capture.Take();
    EXPECT_TRUE(Lines(out) == 2 && Reports(out, {peer_.endpoint(), "lost"}) == 1 &&
                Reports(out, {peer_.endpoint(), "refused"}) == 1)
        << out;
}

// How long a blocking wait lasts: until the read's time-out when it has one,
// else until the link has been quiet for idle_wait; whatever arrived stays.
TEST_F(Bridge, WaitsEndAtTheTimeOutOrWhenTheLinkIsQuiet)
{
    enum class Busy { Nothing, TimeCodes, Sends, Packet };
    const struct {
        const char *name;
        std::string settings;
        double timeout; // 0: none
        Busy busy;
        TransferStatus status;
        double at_least, below;
    } rows[] = {
        {"time-out before idle_wait", "idle_wait=1.5", 0.05, Busy::Nothing, VANTOR_TRANSFER_ERROR_TIMEOUT, 0.05, 1.0},
        {"time-out after idle_wait", "idle_wait=0.1", 0.4, Busy::Nothing, VANTOR_TRANSFER_ERROR_TIMEOUT, 0.4, 10},
        {"quiet link", "idle_wait=0.2", 0, Busy::Nothing, VANTOR_TRANSFER_ERROR_TIMEOUT, 0.2, 10},
        {"time-codes arriving", "idle_wait=0.1", 0, Busy::TimeCodes, VANTOR_TRANSFER_ERROR_TIMEOUT, 0.4, 10},
        {"another thread sending", "idle_wait=0.1", 0, Busy::Sends, VANTOR_TRANSFER_ERROR_TIMEOUT, 0.4, 10},
        {"the second packet arriving", "idle_wait=1.5", 0, Busy::Packet, VANTOR_TRANSFER_SUCCESS, 0.3, 1.0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Start(row.settings);
        ASSERT_TRUE(row.timeout == 0 || Vantor_SetTimeout(device_, row.timeout) != 0);
        const auto start = Clock::now();
        Read read = StartRead(16, 2);
        ASSERT_TRUE(peer_.Send(Frame(wire::kEop, {0x61})));
        std::thread busy([&] { // acts six times 50 ms apart; the last at 0.3 s or later
            for (std::uint8_t k = 1; k <= 6 && row.busy != Busy::Nothing; ++k) {
                std::this_thread::sleep_for(50ms);
                if (row.busy == Busy::TimeCodes) peer_.Send(TimeCode(k));
                if (row.busy == Busy::Sends) Send({k});
                if (row.busy == Busy::Packet && k == 6) peer_.Send(Frame(wire::kEop, {0x62}));
            }
        });
        EXPECT_EQ(Wait(read), row.status);
        const double waited = Since(start);
        busy.join();
        EXPECT_TRUE(waited >= row.at_least && waited < row.below) << waited;
        EXPECT_EQ(Status(read), row.status);
        Arrivals expected{{{0x61}, kEop}};
        if (row.busy == Busy::Packet) expected.emplace_back(Bytes{0x62}, kEop);
        EXPECT_EQ(Packets(read), expected);
        Free(read);
    }
}

// Echoed by the peer: 240 EEP-ended packets of up to 100,000 bytes, some
// smaller and some larger than a send batch, in one multi-packet send well
// beyond what the sockets hold at once, read back 40 at a time; then the RMAP
// command stream's way, scaled down: a read started before each of 20,000
// packets sent without waiting, all awaited afterwards, in order.
TEST_F(Bridge, EchoedTransfersComeBackWholeAndInOrder)
{
    Start("idle_wait=2");
    peer_.SetEcho(true);
    ASSERT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    constexpr unsigned kPackets = 240, kPerRead = 40, kLargest = 100000, kCount = 20000;
    std::vector<Bytes> packets(kPackets);
    std::vector<void *> pointers;
    std::vector<unsigned> lengths;
    for (unsigned i = 0; i < kPackets; ++i) {
        packets[i].resize((i * 7919u) % kLargest + 1);
        for (std::size_t k = 0; k < packets[i].size(); ++k) packets[i][k] = static_cast<std::uint8_t>(i + k * 3);
        pointers.push_back(packets[i].data());
        lengths.push_back(static_cast<unsigned>(packets[i].size()));
    }
    TransferId send = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, pointers.data(), lengths.data(), kPackets, 1, &send),
              VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, send);
    for (unsigned first = 0; first < kPackets; first += kPerRead) {
        Read read = StartRead(kPerRead * kLargest, kPerRead);
        EXPECT_EQ(Wait(read), VANTOR_TRANSFER_SUCCESS);
        const Arrivals got = Packets(read);
        ASSERT_EQ(got.size(), kPerRead);
        for (unsigned i = 0; i < kPerRead; ++i) EXPECT_TRUE(got[i] == std::pair(packets[first + i], kEep)) << first + i;
        Free(read);
    }
    std::vector<std::uint8_t> buffers(kCount * 8u);
    std::vector<PacketProperties> properties(kCount);
    std::vector<TransferId> reads(kCount);
    for (unsigned i = 0; i < kCount; ++i) {
        std::uint8_t packet[4] = {static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
                                  static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        ASSERT_EQ(Vantor_ReadPackets(device_, &buffers[i * 8u], 8, 1, 0, &properties[i], &reads[i]),
                  VANTOR_TRANSFER_STARTED);
        ASSERT_EQ(Vantor_SendPacket(device_, packet, 4, 0, &send), VANTOR_TRANSFER_STARTED);
        Vantor_FreeSend(device_, send);
    }
    unsigned wrong = 0;
    for (unsigned i = 0; i < kCount; ++i) {
        const std::uint8_t *got = &buffers[i * 8u];
        // After a failure the rest are only polled, so that a fault cannot keep the test waiting for long.
        const TransferStatus status =
            wrong == 0 ? Vantor_WaitOnReadCompleting(device_, reads[i], 0) : Vantor_GetReadStatus(device_, reads[i]);
        wrong += status != VANTOR_TRANSFER_SUCCESS || properties[i].len != 4 ||
                 ((got[0] << 24) | (got[1] << 16) | (got[2] << 8) | got[3]) != static_cast<int>(i);
        Vantor_FreeRead(device_, reads[i]);
    }
    EXPECT_EQ(wrong, 0u);
}

// Two bridges, each to its own peer: a read waiting on one does not hold up a
// send on the other, whose peer then has the other peer answer.
TEST_F(Bridge, TwoBridgesAtOnce)
{
    ssdtp_peer::Peer other;
    vantor_sim::ApplySettings("idle_wait=2;devices=0:0@" + peer_.endpoint() + ",1:0@" + other.endpoint());
    DeviceHandle second = nullptr;
    ASSERT_TRUE(Vantor_Open(&device_, 0) != 0 && Vantor_Open(&second, 1) != 0 && device_ != second);
    ASSERT_TRUE(Vantor_RegisterReceiveOnAllPorts(second) != 0 && other.WaitAccepted(1));
    Read read = StartRead(8, 1, second);
    std::atomic<bool> waiting{false};
    TransferStatus status = -1;
    std::thread reader([&] {
        waiting = true;
        status = Wait(read);
    });
    EXPECT_TRUE(Until([&] { return waiting.load(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Send({0x11}), VANTOR_TRANSFER_SUCCESS);
    if (peer_.Receive() == Received{wire::kEop, {0x11}}) other.Send(Frame(wire::kEep, {0x22}));
    reader.join();
    EXPECT_EQ(status, VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(Packets(read), (Arrivals{{{0x22}, kEep}}));
    EXPECT_FALSE(other.Receive(0.05));
    Free(read);
    vantor_sim::ApplySettings(""); // before the other peer goes
}

} // namespace
