// Hostile clients: after each, the node still serves a well-behaved client
// correctly, with the memory written before it intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "node_test_support.h"
#include "support/hand_rmap.h"
#include "support/node_process.h"
#include "support/scratch_dir.h"

namespace {

using namespace node_test;
using hand_rmap::CommandFields;
using Clock = std::chrono::steady_clock;

const CommandFields kWrite{.instruction = hand_rmap::kWriteAcked, .address = 0x4000};
const CommandFields kRead{.address = 0x3ffe, .length = 8};
const Bytes kPattern{0xc1, 0xc2, 0xc3, 0xc4};
// What one connection may add to the node: a few MiB by design (node_server.h).
constexpr long kGrowthBoundKib = 24 << 10;

class HostileClient : public testing::Test {
protected:
    void SetUp() override
    {
        node_.emplace(options_, scratch_.path(), log_);
        ASSERT_TRUE(node_->started());
        RawClient writer(port());
        ASSERT_EQ(writer.Exchange(hand_rmap::WithData(kWrite, kPattern)),
                  (Received{kEop, hand_rmap::WriteReply(kWrite, 0)}));
        ExpectLetGo(writer, "disconnected");
    }
    // Stopped cleanly: in a sanitizer build, no finding in the node either.
    void TearDown() override { EXPECT_EQ(node_->Stop(), 0) << ReadWholeFile(log_); }
    std::uint16_t port() const { return node_->ports()[0]; }

    // Closes our end (if still open) and waits until the node logs why it let the client go.
    void ExpectLetGo(RawClient &client, const std::string &why, const std::string &detail = "")
    {
        client.Close();
        EXPECT_NE(WaitForLogLine(log_, {"link 0: " + client.local() + " " + why, detail}), "") << why << detail;
    }
    // A well-behaved client gets the memory written in SetUp and its loopback.
    void ExpectHealthy()
    {
        RawClient client(port());
        const Bytes data{0xfe, 0xff, kPattern[0], kPattern[1], kPattern[2], kPattern[3], 0x04, 0x05};
        EXPECT_EQ(client.Exchange(hand_rmap::Header(kRead)), (Received{kEop, hand_rmap::ReadReply(kRead, 0, data)}));
        EXPECT_EQ(client.Exchange({0xa5, 0x5a}, kEep), (Received{kEep, {0xa5, 0x5a}}));
        ExpectLetGo(client, "disconnected");
    }

    std::vector<std::string> options_{"--stall-limit=1", "--packet-limit=4096"};
    ScratchDir scratch_;
    std::filesystem::path log_ = scratch_ / "node.log";
    std::optional<NodeProcess> node_;
};

// Packets up to the limit pass, whole or in fragments; a broken header ends the connection.
TEST_F(HostileClient, BrokenFrameHeadersEndTheConnection)
{
    const Bytes two(2, 0x20), half(2048, 0x23), whole(4096, 0x22);
    RawClient client(port());
    EXPECT_EQ(client.Exchange(whole), (Received{kEop, whole}));
    ASSERT_TRUE(client.Send(hand_rmap::Cat({Frame(kFragment, half), Frame(kEep, half)})));
    EXPECT_EQ(client.Read(), (Received{kEep, hand_rmap::Cat({half, half})}));
    ExpectLetGo(client, "disconnected");
    const std::string kTooLarge = "larger than the limit";
    const struct {
        const char *what;
        Bytes bytes;
        std::string why; // as the node logs it
    } kRows[] = {
        {"unknown flag", hand_rmap::Cat({Header(0x07, 2), two}), "unknown frame flag 0x07"},
        {"reserved byte not 0", hand_rmap::Cat({Header(kEop, 2, 0, 0x01), two}), "reserved header byte 0x01"},
        {"size 2^79", Header(kEop, 0, 0x8000), kTooLarge},
        {"size 2^64", Header(kEop, 0, 0x0001), kTooLarge},
        {"size one above the packet limit", Header(kEop, 4097), kTooLarge},
        {"fragments together above the limit", hand_rmap::Cat({Frame(kFragment, half), Header(kEop, 2049)}), kTooLarge},
        {"time-code of 3 bytes", Header(0x30, 3), "time-code frame"},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.what);
        RawClient broken(port());
        ASSERT_TRUE(broken.Send(row.bytes));
        EXPECT_TRUE(broken.WaitClosed());
        ExpectLetGo(broken, "is a broken peer: ", row.why);
        ExpectHealthy();
    }
}

// An idle client keeps the link however long, a second is refused and closed;
// a packet sent in slow pieces, each gap within the stall limit, is no stall.
TEST_F(HostileClient, IdleClientKeepsTheLinkAndASecondIsRefused)
{
    RawClient idle(port());
    ASSERT_NE(WaitForLogLine(log_, {"connected " + idle.local()}), "");
    RawClient second(port());
    EXPECT_TRUE(second.WaitClosed());
    EXPECT_NE(WaitForLogLine(log_, {"refused " + second.local(), "in use by " + idle.local()}), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(1200)); // nothing begun, so nothing stalled
    const Bytes frame = Frame(kEop, Bytes(96, 0x26));
    for (std::size_t at = 0; at < frame.size(); at += 18) { // 6 pieces over 1.5 s, 0.3 s apart
        std::this_thread::sleep_for(std::chrono::milliseconds(at == 0 ? 0 : 300));
        ASSERT_TRUE(idle.Send(Bytes(frame.begin() + at, frame.begin() + std::min(at + 18, frame.size()))));
    }
    EXPECT_EQ(idle.Read(), (Received{kEop, Bytes(96, 0x26)}));
    ExpectLetGo(idle, "disconnected");
    ExpectHealthy();
}

TEST_F(HostileClient, UnfinishedPacketIsDroppedOnDisconnectOrStall)
{
    const Bytes header = Header(kEop, 100);
    const struct {
        const char *what;
        Bytes bytes;
    } kRows[] = {
        {"half a header", Bytes(header.begin(), header.begin() + 6)},
        {"half a payload", hand_rmap::Cat({header, Bytes(50, 0x24)})},
        {"a fragment without the rest", Frame(kFragment, Bytes(10, 0x25))},
    };
    for (const auto &row : kRows) {
        RawClient leaving(port());
        ASSERT_TRUE(leaving.Send(row.bytes)) << row.what;
        ExpectLetGo(leaving, "disconnected in the middle of a frame");
        ExpectHealthy();
        RawClient stalling(port());
        ASSERT_TRUE(stalling.Send(row.bytes)) << row.what;
        EXPECT_TRUE(stalling.WaitClosed()) << row.what;
        ExpectLetGo(stalling, "is a broken peer: a packet begun was not completed in time");
        ExpectHealthy();
    }
}

// A client that sent whole frames and then reads nothing for longer than the
// stall limit, while the node's output is full: the node, which stopped
// reading with a frame cut at its read boundary, lets it go for the replies it
// does not take, never for a packet it did not finish; a client pausing
// within the limit gets every reply.
TEST_F(HostileClient, ClientNotReadingIsLetGoForItsRepliesOnly)
{
    for (const int pause_ms : {100, 2000}) {
        RawClient client(port());
        Bytes frames;
        std::vector<Received> expected;
        for (std::uint16_t t = 0; t < 24; ++t) { // 72 KB: more than one read of the node's
            const CommandFields read{.transaction = t, .address = 1u << 20, .length = 1u << 20};
            const Bytes loop(3000, static_cast<std::uint8_t>(t));
            frames = hand_rmap::Cat({frames, Frame(kEop, hand_rmap::Header(read)), Frame(kEop, loop)});
            expected.push_back({kEop, {}});
            expected.push_back({kEop, loop});
        }
        ASSERT_TRUE(client.Send(frames));
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        if (pause_ms > 1000) {
            ExpectLetGo(client, "is a broken peer: it took none of its replies in time");
            EXPECT_EQ(ReadWholeFile(log_).find("not completed"), std::string::npos);
            continue;
        }
        std::vector<Received> got;
        for (std::optional<Received> frame; got.size() < expected.size() && (frame = client.Read());) {
            got.push_back(frame->payload.size() == 3000 ? *frame : Received{frame->flag, {}});
        }
        EXPECT_EQ(got, expected) << ReadWholeFile(log_);
    }
}

// From /proc: the resident set in KiB, and the open file descriptors.
long ResidentKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

int OpenDescriptors(pid_t pid)
{
    const std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd");
    return static_cast<int>(std::distance(begin(fds), end(fds)));
}

// 2000 frames, each a read of 1 MiB from address on: 2000 MiB asked in 56 KB.
Bytes ManyLargeReads(std::uint32_t address)
{
    Bytes frames;
    for (std::uint16_t t = 0; t < 2000; ++t) {
        const Bytes frame = Frame(kEop, hand_rmap::Header({.transaction = t, .address = address, .length = 1u << 20}));
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return frames;
}

// A sanitizer build keeps freed blocks resident in a quarantine of 256 MiB;
// nodes started while this lives keep 1 MiB of it, so that their resident
// set is what they hold.  No other build reads ASAN_OPTIONS.
class SmallQuarantine {
public:
    SmallQuarantine()
    {
        const char *now = std::getenv("ASAN_OPTIONS");
        before_ = now != nullptr ? std::optional<std::string>(now) : std::nullopt;
        setenv("ASAN_OPTIONS", (before_ ? *before_ + ":" : std::string()).append("quarantine_size_mb=1").c_str(), 1);
    }
    ~SmallQuarantine() { before_ ? setenv("ASAN_OPTIONS", before_->c_str(), 1) : unsetenv("ASAN_OPTIONS"); }

private:
    std::optional<std::string> before_;
};

// The stall limit stays at its default: these clients stop only reading.
class HostileClientMemory : public HostileClient {
protected:
    void SetUp() override
    {
        options_ = {"--packet-limit=4096"};
        SmallQuarantine quarantine;
        HostileClient::SetUp();
    }
};

// Not one reply read, and packets sent on while the node takes them: TCP
// throttles the client, and the node holds no more than its bound.
TEST_F(HostileClientMemory, ClientThatNeverReadsDoesNotGrowTheNode)
{
    const long baseline = ResidentKib(node_->pid());
    RawClient greedy(port());
    ASSERT_TRUE(greedy.Send(ManyLargeReads(1u << 20))); // above the pattern written in SetUp
    const Bytes loop = Frame(kEop, Bytes(4084, 0xa4));
    Bytes loops; // 1 MiB of loopback packets
    for (int i = 0; i < 256; ++i) {
        loops.insert(loops.end(), loop.begin(), loop.end());
    }
    int mib = 0;
    while (mib < 32 && greedy.SendSome(loops, 0.2) == loops.size()) {
        ++mib;
    }
    EXPECT_LT(mib, 32) << "the node kept reading";
    long peak = baseline;
    for (int i = 0; i < 40 && peak - baseline < kGrowthBoundKib; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        peak = std::max(peak, ResidentKib(node_->pid()));
    }
    EXPECT_LT(peak - baseline, kGrowthBoundKib) << "peak " << peak << " KiB, baseline " << baseline << " KiB";
    RecordProperty("node_rss_kib_baseline_peak", std::to_string(baseline) + " " + std::to_string(peak));
    // What did go out is right.
    Bytes data(1u << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    const CommandFields first{.transaction = 0, .address = 1u << 20, .length = 1u << 20};
    EXPECT_EQ(greedy.Read(), (Received{kEop, hand_rmap::ReadReply(first, 0, data)}));
    greedy.Close();
    ExpectHealthy();
}

// The same bound for a client that reads, but always leaves some unread,
// while another link keeps the node busy.
TEST(SlowReader, RepliesTakenLeaveTheNodeWhileAnotherLinkIsBusy)
{
    ScratchDir scratch;
    std::optional<SmallQuarantine> quarantine(std::in_place);
    NodeProcess node({}, scratch.path(), scratch / "node.log", 2);
    quarantine.reset();
    ASSERT_TRUE(node.started());
    const long baseline = ResidentKib(node.pid());
    RawClient slow(node.ports()[0]), busy(node.ports()[1]);
    ASSERT_TRUE(slow.Send(ManyLargeReads(0)));
    std::size_t taken = 0;
    long peak = baseline;
    const auto until = Clock::now() + std::chrono::seconds(5);
    for (int i = 0; taken < (std::size_t{40} << 20) && Clock::now() < until; ++i) {
        taken += slow.Drain(65536, 0.5);
        ASSERT_EQ(busy.Exchange({0xa9}), (Received{kEop, {0xa9}}));
        peak = i % 64 == 0 ? std::max(peak, ResidentKib(node.pid())) : peak;
    }
    EXPECT_GE(taken, std::size_t{40} << 20);
    EXPECT_LT(std::max(peak, ResidentKib(node.pid())) - baseline, kGrowthBoundKib) << "baseline " << baseline;
    EXPECT_EQ(node.Stop(), 0);
}

TEST_F(HostileClient, ThousandConnectionsComeAndGo)
{
    const int descriptors = OpenDescriptors(node_->pid());
    for (int i = 0; i < 1000; ++i) {
        RawClient client(port());
        if (i % 2 == 1) { // the others close at once
            const Bytes packet{0xa8, static_cast<std::uint8_t>(i)};
            ASSERT_EQ(client.Exchange(packet), (Received{kEop, packet})) << "cycle " << i;
        }
        if (i == 999) {
            ExpectLetGo(client, "disconnected");
        }
    }
    EXPECT_EQ(OpenDescriptors(node_->pid()), descriptors);
    ExpectHealthy();
}

} // namespace
