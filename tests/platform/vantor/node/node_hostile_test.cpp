// Hostile clients of the node, which no program run is: broken frames,
// unfinished packets, clients that stall or stop reading, many connections.
// After each the node still serves a well-behaved client, with the memory
// written before intact, and holds no more memory than its bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/hand_rmap.h"
#include "support/node_process.h"
#include "support/ssdtp_wire.h"
#include "support/scratch_dir.h"

namespace {

using namespace ssdtp_wire;
using hand_rmap::Cat, hand_rmap::CommandFields;
using namespace std::chrono_literals;

const CommandFields kWrite{.instruction = hand_rmap::kWriteAcked, .address = 0x4000};
const Bytes kPattern{0xc1, 0xc2, 0xc3, 0xc4};
// What one connection may add to the node: a few MiB by design (node_server.h).
constexpr long kGrowthBoundKib = 24 << 10;

// The resident set in KiB, from /proc.
long ResidentKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    }
    return -1;
}

class HostileClient : public testing::Test {
protected:
    void SetUp() override
    {
        // A sanitizer build keeps 256 MiB of freed blocks resident unless told
        // otherwise; with 1 MiB the resident set is what the node holds.
        const char *asan = std::getenv("ASAN_OPTIONS");
        const std::string before = asan != nullptr ? asan : "";
        setenv("ASAN_OPTIONS", (before.empty() ? "" : before + ":").append("quarantine_size_mb=1").c_str(), 1);
        node_.emplace(options_, scratch_.path(), log_);
        asan != nullptr ? setenv("ASAN_OPTIONS", before.c_str(), 1) : unsetenv("ASAN_OPTIONS");
        ASSERT_TRUE(node_->started());
        Link writer(port());
        ASSERT_EQ(writer.Exchange(hand_rmap::WithData(kWrite, kPattern)),
                  (Received{kEop, hand_rmap::WriteReply(kWrite, 0)}));
        ExpectLetGo(writer, "disconnected");
    }
    // Stopped cleanly: in a sanitizer build, no finding in the node either.
    void TearDown() override { EXPECT_EQ(node_->Stop(), 0) << ReadWholeFile(log_); }
    void Restart(std::vector<std::string> options)
    {
        TearDown();
        options_ = std::move(options);
        SetUp();
    }
    std::uint16_t port() const { return node_->ports()[0]; }

    // Closes our end (if still open) and waits until the node logs why it let the client go.
    void ExpectLetGo(Link &client, const std::string &why, const std::string &detail = "")
    {
        client.Close();
        EXPECT_NE(WaitForLogLine(log_, {"link 0: " + client.local() + " " + why, detail}), "") << why << detail;
    }
    // A well-behaved client gets the memory written in SetUp and its loopback.
    void ExpectHealthy()
    {
        Link client(port());
        const CommandFields read{.address = 0x3ffe, .length = 8};
        const Bytes data{0xfe, 0xff, kPattern[0], kPattern[1], kPattern[2], kPattern[3], 0x04, 0x05};
        EXPECT_EQ(client.Exchange(hand_rmap::Header(read)), (Received{kEop, hand_rmap::ReadReply(read, 0, data)}));
        EXPECT_EQ(client.Exchange({0xa5, 0x5a}, kEep), (Received{kEep, {0xa5, 0x5a}}));
        ExpectLetGo(client, "disconnected");
    }

    std::vector<std::string> options_{"--stall-limit=1", "--packet-limit=4096"};
    ScratchDir scratch_;
    std::filesystem::path log_ = scratch_ / "node.log";
    std::optional<NodeProcess> node_;
};

// Packets up to the limit pass, whole, in fragments or in slow pieces, each
// gap within the stall limit; an idle client keeps the link however long.  A
// broken header, or a packet left unfinished past the stall limit, ends the
// connection; one left unfinished by a client that goes is dropped.
TEST_F(HostileClient, BrokenOrUnfinishedFramesEndTheConnection)
{
    const Bytes two(2, 0x20), half(2048, 0x23), whole(4096, 0x22), slow = Frame(kEop, Bytes(96, 0x26));
    Link client(port());
    std::this_thread::sleep_for(1200ms); // nothing begun, so nothing stalled
    EXPECT_EQ(client.Exchange(whole), (Received{kEop, whole}));
    ASSERT_TRUE(client.Send(Cat({Frame(kFragment, half), Frame(kEep, half)})));
    EXPECT_EQ(client.Read(), (Received{kEep, Cat({half, half})}));
    for (std::size_t at = 0; at < slow.size(); at += 18) { // 6 pieces over 1.5 s, 0.3 s apart
        std::this_thread::sleep_for(at == 0 ? 0ms : 300ms);
        ASSERT_TRUE(client.Send(Bytes(slow.begin() + at, slow.begin() + std::min(at + 18, slow.size()))));
    }
    EXPECT_EQ(client.Read(), (Received{kEop, Bytes(96, 0x26)}));
    ExpectLetGo(client, "disconnected");
    const std::string kTooLarge = "larger than the limit", kStalled = "a packet begun was not completed in time";
    const Bytes header = Header(kEop, 100);
    const struct {
        const char *what;
        Bytes bytes;
        std::string why; // as the node logs it
    } kRows[] = {
        {"unknown flag", Cat({Header(0x07, 2), two}), "unknown frame flag 0x07"},
        {"reserved byte not 0", Cat({Header(kEop, 2, 0, 0x01), two}), "reserved header byte 0x01"},
        {"size 2^79", Header(kEop, 0, 0x8000), kTooLarge},
        {"size 2^64", Header(kEop, 0, 0x0001), kTooLarge},
        {"size one above the packet limit", Header(kEop, 4097), kTooLarge},
        {"fragments together above the limit", Cat({Frame(kFragment, half), Header(kEop, 2049)}), kTooLarge},
        {"time-code of 3 bytes", Header(0x30, 3), "time-code frame"},
        {"link-speed of 1 byte", Header(0x38, 1), "link-speed frame"},
        {"header unfinished", hand_rmap::First(header, 6), kStalled},
        {"payload unfinished", Cat({header, Bytes(50, 0x24)}), kStalled},
        {"no frame after a fragment", Frame(kFragment, Bytes(10, 0x25)), kStalled},
    };
    for (const auto &row : kRows) {
        SCOPED_TRACE(row.what);
        Link broken(port());
        ASSERT_TRUE(broken.Send(row.bytes));
        EXPECT_TRUE(broken.WaitClosed());
        ExpectLetGo(broken, "is a broken peer: ", row.why);
        if (row.why == kStalled) {
            Link leaving(port());
            ASSERT_TRUE(leaving.Send(row.bytes));
            ExpectLetGo(leaving, "disconnected in the middle of a frame");
        }
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
    for (const auto pause : {100ms, 2000ms}) {
        Link client(port());
        Bytes frames;
        std::vector<Received> expected;
        for (std::uint16_t t = 0; t < 24; ++t) { // 72 KB: more than one read of the node's
            const CommandFields read{.transaction = t, .address = 1u << 20, .length = 1u << 20};
            const Bytes loop(3000, static_cast<std::uint8_t>(t));
            frames = Cat({frames, Frame(kEop, hand_rmap::Header(read)), Frame(kEop, loop)});
            expected.insert(expected.end(), {{kEop, {}}, {kEop, loop}});
        }
        ASSERT_TRUE(client.Send(frames));
        std::this_thread::sleep_for(pause);
        if (pause > 1s) {
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

// Not one reply read, and packets sent on while the node takes them: TCP
// throttles the client, and the node holds no more than its bound (the stall
// limit at its default: the client stops only reading).  Then a thousand
// connections come and go, leaving no descriptor open.
TEST_F(HostileClient, ClientsCannotGrowTheNode)
{
    Restart({"--packet-limit=4096"});
    const long baseline = ResidentKib(node_->pid());
    Link greedy(port());
    Bytes reads; // 2000 reads of 1 MiB each, above the pattern written in SetUp, in 56 KB
    for (std::uint16_t t = 0; t < 2000; ++t) {
        const Bytes frame = Frame(kEop, hand_rmap::Header({.transaction = t, .address = 1u << 20, .length = 1u << 20}));
        reads.insert(reads.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(greedy.Send(reads));
    const Bytes loop = Frame(kEop, Bytes(4084, 0xa4));
    Bytes loops; // 1 MiB of loopback packets
    for (int i = 0; i < 256; ++i) loops.insert(loops.end(), loop.begin(), loop.end());
    int mib = 0;
    while (mib < 32 && greedy.SendSome(loops, 0.2) == loops.size()) ++mib;
    EXPECT_LT(mib, 32) << "the node kept reading";
    long peak = baseline;
    for (int i = 0; i < 40 && peak - baseline < kGrowthBoundKib; ++i) {
        std::this_thread::sleep_for(10ms);
        peak = std::max(peak, ResidentKib(node_->pid()));
    }
    EXPECT_LT(peak - baseline, kGrowthBoundKib) << "peak " << peak << " KiB, baseline " << baseline << " KiB";
    // What did go out is right.
    Bytes data(1u << 20);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
    const CommandFields first{.transaction = 0, .address = 1u << 20, .length = 1u << 20};
    EXPECT_EQ(greedy.Read(), (Received{kEop, hand_rmap::ReadReply(first, 0, data)}));
    greedy.Close();
    ExpectHealthy();
    const auto descriptors = [&] {
        const std::filesystem::directory_iterator fds("/proc/" + std::to_string(node_->pid()) + "/fd");
        return std::distance(begin(fds), end(fds));
    };
    const auto before = descriptors();
    for (int i = 0; i < 1000; ++i) {
        Link client(port());
        const Bytes packet{0xa8, static_cast<std::uint8_t>(i)};
        if (i % 2 == 1) { // the others close at once
            ASSERT_EQ(client.Exchange(packet), (Received{kEop, packet})) << "cycle " << i;
        }
        if (i == 999) ExpectLetGo(client, "disconnected");
    }
    EXPECT_EQ(descriptors(), before);
    ExpectHealthy();
}

} // namespace
