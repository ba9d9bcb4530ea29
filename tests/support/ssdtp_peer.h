// A scripted SSDTP2 peer for the bridge tests: it listens on 127.0.0.1 at a
// free port and serves one connection at a time on a thread of its own; a
// newer connection replaces the current one.
//
// The test writes whatever bytes it likes, cut where it likes; what the
// device sends is decoded into frames by ssdtp_wire.  Every wait has a time
// limit; the destructor stops the thread and closes everything.
#ifndef ZARK_TESTS_SUPPORT_SSDTP_PEER_H
#define ZARK_TESTS_SUPPORT_SSDTP_PEER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "support/ssdtp_wire.h"

namespace ssdtp_peer {

using ssdtp_wire::Bytes;
using ssdtp_wire::Received;

class Peer {
public:
    Peer();
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }
    // Connections accepted so far; WaitAccepted waits until there are at least count.
    int Accepted();
    bool WaitAccepted(int count, double seconds = 2.0);
    // Waits until the current connection is gone (closed by either side).
    bool WaitDisconnected(double seconds = 2.0);
    // Writes bytes to the current connection, in pieces of at most piece bytes
    // with a pause after each but the last.  False without a connection, or
    // when the device takes nothing for two seconds.
    bool Send(const Bytes &bytes, std::size_t piece = SIZE_MAX, std::chrono::microseconds pause = {});
    // The oldest frame the device sent that no call has taken yet.
    std::optional<Received> Receive(double seconds = 2.0);
    // Echo: every frame received is written back at once as it came, not kept for Receive.
    void SetEcho(bool on) { echo_ = on; }
    // Hold: the connection is not read at all, so the device's sends back up.
    void SetHold(bool on) { hold_ = on; }
    // Ends the current connection, after taking in what the device sent.
    void Close() { Do(Request::Close); }
    // Closes the listening socket: later connections are refused.
    void StopListening() { Do(Request::StopListening); }

private:
    enum class Request { None, Close, StopListening };
    void Run();
    void Do(Request request);
    void TakeFrames();
    void Replace(std::unique_ptr<ssdtp_wire::Link> link);

    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> echo_{false}, hold_{false};
    std::mutex mutex_; // guards what follows
    std::condition_variable changed_;
    int accepted_ = 0;
    bool connected_ = false, stop_ = false;
    Request request_ = Request::None;
    std::deque<Received> frames_;
    // Replaced, read and closed by the thread alone, written to under write_mutex_.
    std::unique_ptr<ssdtp_wire::Link> link_;
    std::mutex write_mutex_;
    std::thread thread_;
};

} // namespace ssdtp_peer

#endif
