// A scripted SSDTP2 peer for the bridge tests: it listens on 127.0.0.1 at a
// free port and serves one connection at a time on a thread of its own.
//
// Frames are encoded and decoded here from the frame format alone (12-byte
// header: flag, reserved byte 0, payload size as 80 bits most significant
// byte first), never with the device library's own framing code, so that the
// library is checked against an independent reading of the format.
//
// The test writes whatever bytes it likes, cut where it likes; what the
// device sends is decoded into frames (flag and payload, fragments not
// joined).  A newer connection replaces the current one.  Every wait has a
// time limit; the destructor stops the thread and closes everything.
#ifndef ZARK_TESTS_SUPPORT_SSDTP_PEER_H
#define ZARK_TESTS_SUPPORT_SSDTP_PEER_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ssdtp_peer {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kEop = 0x00, kEep = 0x01, kFragment = 0x02;
inline constexpr std::uint8_t kTimeCode = 0x30, kTimeCodeAlternate = 0x31, kLinkSpeed = 0x38;

// The 12-byte header of a frame whose payload is size bytes.
inline Bytes Header(std::uint8_t flag, std::uint64_t size)
{
    Bytes header(12, 0);
    header[0] = flag;
    for (int i = 0; i < 8; ++i) header[static_cast<std::size_t>(11 - i)] = static_cast<std::uint8_t>(size >> (8 * i));
    return header;
}

inline Bytes Frame(std::uint8_t flag, const Bytes &payload)
{
    Bytes frame = Header(flag, payload.size());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

inline Bytes TimeCode(std::uint8_t code, std::uint8_t flag = kTimeCode) { return Frame(flag, {code, 0x00}); }

// A frame the device sent, as the peer decoded it.
struct Received {
    std::uint8_t flag = 0;
    Bytes payload;
    bool operator==(const Received &) const = default;
};

class Peer {
public:
    Peer();
    ~Peer();
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    std::uint16_t port() const { return port_; }

    // Connections accepted so far; waits until there are at least count.
    int Accepted();
    bool WaitAccepted(int count, double seconds = 2.0);
    // Waits until the current connection is gone (closed by either side).
    bool WaitDisconnected(double seconds = 2.0);

    // Writes bytes to the current connection, in pieces of at most piece
    // bytes with a pause after each but the last.  False without a
    // connection, or when the device takes nothing for two seconds.
    bool Send(const Bytes &bytes, std::size_t piece = SIZE_MAX,
              std::chrono::microseconds pause = std::chrono::microseconds(0));

    // The oldest frame the device sent that no call has taken yet.
    std::optional<Received> Receive(double seconds = 2.0);
    // Echo: every frame received is written back at once, exactly as it came
    // (same flag, same payload), and not kept for Receive.
    void SetEcho(bool on);
    // Hold: the connection is not read at all, so the device's sends back up.
    void SetHold(bool on);

    // Ends the current connection (what was written before is still delivered).
    void Close();
    // Closes the listening socket: later connections are refused.
    void StopListening();

private:
    enum class Request { None, Close, StopListening };
    void Run();
    void Do(Request request);
    void Accept();
    void ReadConnection();
    void CloseConnection();
    bool WriteAll(const std::uint8_t *data, std::size_t size);

    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::mutex mutex_; // guards everything below but the fds' use for writing
    std::condition_variable changed_;
    int conn_fd_ = -1;
    int accepted_ = 0;
    bool echo_ = false;
    bool hold_ = false;
    bool stop_ = false;
    Request request_ = Request::None;
    std::deque<Received> frames_;
    Bytes partial_;          // bytes of an unfinished frame
    std::mutex write_mutex_; // held while writing to, or closing, conn_fd_
    std::thread thread_;
};

} // namespace ssdtp_peer

#endif
