// One TCP connection to a SpaceWire bridge or other SSDTP2 peer.
//
// A receiver thread reads the socket for as long as the connection lives, so
// that a peer's replies never back up while the program is still sending
// (the command streams send a whole list before awaiting the first reply).
// What it decodes waits in an inbox until the device's caller takes it.
// The receiver never touches the adapter's state: the caller's thread does
// all delivery, so reads fill the caller's buffers only inside library calls.
// Queue, Flush and Take are for one thread at a time (the library serialises
// its calls); the receiver shares only the inbox and the broken state.
#ifndef ZARK_PLATFORM_VANTOR_BRIDGE_CONNECTION_H
#define ZARK_PLATFORM_VANTOR_BRIDGE_CONNECTION_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "ssdtp.h"

namespace vantor_sim {

struct BridgeOptions {
    std::uint64_t packet_limit = kDefaultPacketLimit;
    // A peer silent this long in the middle of a frame or packet, or accepting
    // nothing we send for this long, breaks the connection.  Slow but steady
    // peers are fine: only silence counts, never a packet's whole duration.
    double stall_seconds = 10.0;
    // Connecting gives up after this long.
    double connect_seconds = 3.0;
};

class BridgeConnection {
public:
    using Clock = std::chrono::steady_clock;

    // Connects to host:port (a name, an IPv4 or an IPv6 address).  Null with
    // the reason (refused, unreachable, unknown host, no answer) on failure.
    static std::shared_ptr<BridgeConnection> Connect(const std::string &host, std::uint16_t port,
                                                     const BridgeOptions &options, std::string &reason);
    ~BridgeConnection();
    BridgeConnection(const BridgeConnection &) = delete;
    BridgeConnection &operator=(const BridgeConnection &) = delete;

    // Queues each packet as one frame, ended as eop says.  Frames go out at
    // the next Flush, or before this returns once kFlushBytes are queued: a
    // long run of sends then costs one system call per batch, not per packet.
    // False when the connection broke, now or before.
    bool Queue(std::span<const std::span<const std::uint8_t>> packets, int eop);
    // Writes everything queued; false when the connection broke, now or before.
    bool Flush();
    // Counts the flushes, so that a caller can tell its earlier queued frames went out.
    std::uint64_t Flushes() const { return flushes_; }
    static constexpr std::size_t kFlushBytes = 64 * 1024;

    // Moves everything received since the last call into events, oldest first.
    void Take(std::vector<SsdtpEvent> &events);
    // Why the connection broke; empty while it works.
    std::string BrokenReason();
    // Returns once something arrived, the connection broke, or at until.
    void WaitForArrival(Clock::time_point until);
    // When bytes last came from the peer (the connection's start before any).
    Clock::time_point LastArrival() const;
    // Packets that complete while receiving is off are dropped at once.
    void SetReceiving(bool on);

private:
    BridgeConnection(int fd, const BridgeOptions &options);
    void ReceiveLoop();
    void Break(const std::string &reason);
    bool WaitWritable();
    bool Write(std::span<const std::uint8_t> bytes);

    int fd_;
    BridgeOptions options_;
    bool receiving_ = false; // guarded by mutex_
    std::atomic<bool> closing_{false};
    std::atomic<Clock::rep> last_arrival_;
    std::vector<std::uint8_t> queued_; // frames not yet written; the caller's thread only
    std::uint64_t flushes_ = 0;
    std::mutex mutex_; // guards inbox_ and broken_
    std::condition_variable arrived_;
    std::vector<SsdtpEvent> inbox_;
    std::string broken_;
    std::thread receiver_;
};

} // namespace vantor_sim

#endif
