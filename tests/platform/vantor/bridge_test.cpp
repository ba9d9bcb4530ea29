// The bridge device, through the C calls, against a scripted SSDTP2 peer on
// 127.0.0.1: what no program run over TCP to the node can provoke.  Frames
// cut anywhere, time-codes, registration, a send not waited for when the
// device goes (the next poll sends it otherwise, as every golden case over
// TCP shows), and a peer that goes away, breaks the format or takes nothing.
#include <algorithm>
#include <iterator>
#include <thread>

#include "adapter_fixture.h"
#include "support/capture_stdout.h"
#include "support/scratch_dir.h"
#include "support/ssdtp_wire.h"

namespace {

namespace wire = ssdtp_wire;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hand_rmap::Cat, hand_rmap::First;
using wire::Frame, wire::Header, wire::Received, wire::TimeCode;
constexpr int kEop = VANTOR_EOP_EOP, kEep = VANTOR_EOP_EEP;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Whether out is one line, a report on device 0 naming every one of words.
bool Reported(const std::string &out, std::initializer_list<std::string> words)
{
    bool all = out.starts_with("VANTOR_SIM: device 0") && std::ranges::count(out, '\n') == 1 && out.ends_with('\n');
    for (const std::string &word : words) all = all && out.find(word) != std::string::npos;
    return all;
}

class Bridge : public Adapter {
protected:
    void SetUp() override {}
    // Device 0 a bridge to the peer, opened (peer_ its fresh connection) and, unless told otherwise, registered.
    void Start(const std::string &extra = "", bool registered = true)
    {
        vantor_sim::ApplySettings("devices=0:0@" + listener_.endpoint() + ";idle_wait=0.2;stall_limit=0.5;" + extra);
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        ASSERT_TRUE(!registered || Vantor_RegisterReceiveOnAllPorts(device_) != 0);
        ASSERT_TRUE((peer_ = listener_.Accept()));
    }
    // The peer writes bytes in pieces, pausing after each.
    bool Feed(const Bytes &bytes, std::size_t piece = SIZE_MAX, std::chrono::microseconds pause = {})
    {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            if (at > 0) std::this_thread::sleep_for(pause);
            const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
            if (!peer_->Send(Bytes(from, from + static_cast<std::ptrdiff_t>(std::min(piece, bytes.size() - at))))) {
                return false;
            }
        }
        return true;
    }
    // One packet the peer sends, read through a waiting read.
    Arrivals Exchange(const Bytes &frames)
    {
        const Read read = StartRead(64, 1);
        Feed(frames);
        EXPECT_EQ(read.Wait(), VANTOR_TRANSFER_SUCCESS);
        read.Free();
        return read.Packets();
    }

    wire::Listener listener_;
    std::unique_ptr<wire::Link> peer_;
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
        const Read read = StartRead(48, 18); // exactly the bytes of the 18 packets
        ASSERT_TRUE(Feed(stream, piece, 50us));
        EXPECT_EQ(read.Wait(), VANTOR_TRANSFER_SUCCESS);
        EXPECT_EQ(read.Packets(), expected);
        read.Free();
    }
    // A send not waited for is batched; it still goes out when the device goes.
    Bytes last{0x7f};
    TransferId id = nullptr;
    EXPECT_EQ(Vantor_SendPacket(device_, last.data(), 1, 0, &id), VANTOR_TRANSFER_STARTED);
    Vantor_FreeSend(device_, id);
    vantor_sim::ApplySettings("");
    EXPECT_EQ(peer_->Read(2.0), std::optional(Received{wire::kEop, last}));
}

// Packets completed while unregistered never arrive; those that arrived
// before the device unregisters are discarded (no call takes them in first:
// the receiver has them, the device not yet).  Time-codes (either flag) and
// link-speed frames between and inside packets are never delivered;
// time-codes are traced.  Sends go out with the flag of their ending, one
// larger than a send batch too.
TEST_F(Bridge, OnlyRegisteredDevicesReceiveTimeCodesTracedEndingsKept)
{
    ScratchDir dir;
    Start("trace=" + (dir / "trace.txt").string(), false);
    const Read refused = StartRead(8, 1);
    EXPECT_EQ(refused.started, VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE);
    refused.Free();
    ASSERT_TRUE(Feed(Cat({Frame(wire::kEop, {1}), TimeCode(1)})));
    std::this_thread::sleep_for(100ms);
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    EXPECT_EQ(Exchange(Frame(wire::kEop, {2})), (Arrivals{{{2}, kEop}}));
    ASSERT_TRUE(Feed(Cat({Frame(wire::kEop, {3}), TimeCode(2)})));
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(Vantor_UnregisterReceiveOnAllPorts(device_) != 0 && Vantor_RegisterReceiveOnAllPorts(device_) != 0);
    const Read read = StartRead(8, 3);
    ASSERT_TRUE(Feed(Cat({Frame(wire::kEop, {0x01}), TimeCode(0x3f), Frame(wire::kFragment, {0x02}),
                          TimeCode(0x05, wire::kTimeCodeAlternate), Frame(wire::kLinkSpeed, {0x01, 0x00}),
                          Frame(wire::kEep, {0x03})}),
                     1, 50us));
    EXPECT_EQ(read.Wait(), VANTOR_TRANSFER_ERROR_TIMEOUT); // once quiet: no third packet
    EXPECT_EQ(read.Packets(), (Arrivals{{{0x01}, kEop}, {{0x02, 0x03}, kEep}}));
    read.Free();
    Bytes a{0xcd}, b{0xef, 0x00}, large(100000);
    for (std::size_t k = 0; k < large.size(); ++k) large[k] = static_cast<std::uint8_t>(k * 7);
    std::vector<std::optional<Received>> got; // read as they come: the large one does not fit in the sockets
    std::thread reader([&] { std::generate_n(std::back_inserter(got), 4, [&] { return peer_->Read(2.0); }); });
    EXPECT_EQ(Send({0xab}), VANTOR_TRANSFER_SUCCESS);
    EXPECT_NE(Vantor_EnableSendEEPs(device_, 1), 0);
    void *packets[] = {a.data(), large.data(), b.data()};
    unsigned lengths[] = {1, 100000, 2};
    TransferId id = nullptr;
    EXPECT_EQ(Vantor_SendMultiplePacketLengths(device_, packets, lengths, 3, 0, &id), VANTOR_TRANSFER_STARTED);
    EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, id, 0), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeSend(device_, id);
    reader.join();
    EXPECT_EQ(got, (std::vector<std::optional<Received>>{Received{wire::kEop, {0xab}}, Received{wire::kEep, a},
                                                         Received{wire::kEep, large}, Received{wire::kEep, b}}));
    const std::string trace = dir.Read("trace.txt");
    EXPECT_TRUE(trace.starts_with("t 01\n< 02 EOP\n< 03 EOP\nt 02\n< 01 EOP\nt 3f\nt 05\n< 02 03 EEP\n> ab EOP\n"
                                  "> cd EEP\n> 00 07 0e") && trace.ends_with(" EEP\n> ef 00 EEP\n"));
}

// The peer closing the connection, breaking the format (each way of breaking
// it is the node's hostile tests' to run), or leaving a packet unfinished
// breaks the link: the pending read ends with 3 keeping what came
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
        {"one beyond packet_limit", "packet_limit=8", Cat({Frame(wire::kEop, eight), Header(wire::kEep, 9)}),
         {{eight, kEop}}, "limit of 8 bytes"},
        {"header never finished", stalls, First(Header(wire::kEop, 1), 11), {}, "nothing came for 0.2 s"},
        {"payload never finished", stalls, Cat({Header(wire::kEop, 4), {1, 2, 3}}), {}, "nothing came"},
        {"no frame after an empty fragment", stalls, Frame(wire::kFragment, {}), {}, "nothing came"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        Start(row.settings);
        DeviceHandle again = nullptr;
        std::unique_ptr<wire::Link> fresh;
        ASSERT_TRUE(Vantor_Open(&again, 0) != 0 && again == device_); // an open link is kept
        CaptureStdout capture;
        const Read read = StartRead(64, 2);
        const auto sent = Clock::now();
        ASSERT_TRUE(Feed(row.stream, row.close ? 1 : SIZE_MAX, 50us));
        if (row.close) peer_.reset();
        // Opening an intact link does nothing, so this loops until the loss is seen.
        for (int i = 0; row.noticed_by_opening && !fresh && i < 1000; ++i) {
            if (Vantor_Open(&again, 0) != 0) fresh = listener_.Accept(0);
        }
        EXPECT_TRUE(!row.noticed_by_opening || fresh);
        EXPECT_EQ(row.noticed_by_opening ? read.Status() : read.Wait(), VANTOR_TRANSFER_ERROR_DISCONNECT);
        EXPECT_TRUE(row.settings != stalls || Since(sent) >= 0.2);
        EXPECT_EQ(read.Packets(), row.delivered);
        read.Free();
        if (!row.noticed_by_opening) {
            EXPECT_TRUE(!peer_ || peer_->WaitClosed(2.0)); // the device let go
            Bytes data{1};
            TransferId send = nullptr;
            EXPECT_EQ(Vantor_SendPacket(device_, data.data(), 1, 0, &send), VANTOR_TRANSFER_ERROR_DISCONNECT);
            EXPECT_EQ(Vantor_WaitOnSendCompleting(device_, send, 0), VANTOR_TRANSFER_ERROR_DISCONNECT);
            Vantor_FreeSend(device_, send);
            const Read later = StartRead(8, 1);
            EXPECT_EQ(later.started, VANTOR_TRANSFER_ERROR_DISCONNECT);
            EXPECT_EQ(later.Status(), VANTOR_TRANSFER_ERROR_DISCONNECT);
            later.Free();
            EXPECT_FALSE(listener_.Accept(0)); // not connected again by itself
            ASSERT_TRUE(Vantor_Open(&again, 0) != 0 && again == device_);
        }
        const std::string out = capture.Take();
        EXPECT_TRUE(Reported(out, {listener_.endpoint(), row.reason})) << out;
        EXPECT_EQ(Reported(out, {"middle of a frame"}), row.mid_frame) << out;
        // Opening again made a new connection, still registered.
        ASSERT_TRUE((peer_ = fresh ? std::move(fresh) : listener_.Accept()));
        EXPECT_EQ(Exchange(Frame(wire::kEop, {0x42})), (Arrivals{{{0x42}, kEop}}));
    }
    // The boundaries themselves pass, and so does a packet trickling in: only silence is a stall.
    Start("packet_limit=8;stall_limit=0.25;idle_wait=2");
    const Read read = StartRead(64, 3);
    ASSERT_TRUE(Feed(Cat({Frame(wire::kEop, eight), Frame(wire::kFragment, four), Frame(wire::kEep, four),
                          First(Header(wire::kEop, 7), 11)})));
    ASSERT_TRUE(Feed(Cat({{0x07}, seven}), 1, 60ms)); // 0.42 s in all
    EXPECT_EQ(read.Wait(), VANTOR_TRANSFER_SUCCESS);
    EXPECT_EQ(read.Packets(), (Arrivals{{eight, kEop}, {Cat({four, four}), kEep}, {seven, kEop}}));
    read.Free();
}

// The peer reading nothing: a send that cannot get out within the stall limit ends with 3.
TEST_F(Bridge, PeerAcceptingNothingBreaksTheSend)
{
    Start("stall_limit=0.2");
    CaptureStdout capture;
    const auto start = Clock::now();
    EXPECT_EQ(Send(Bytes(32u << 20, 0x33)), VANTOR_TRANSFER_ERROR_DISCONNECT);
    const double waited = Since(start);
    EXPECT_EQ(Send({1}), VANTOR_TRANSFER_ERROR_DISCONNECT);
    const std::string out = capture.Take();
    EXPECT_TRUE(waited >= 0.2 && waited < 2.0) << waited;
    EXPECT_TRUE(Reported(out, {listener_.endpoint(), "accepted nothing"})) << out;
}

} // namespace
