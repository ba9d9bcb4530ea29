// SSDTP2 frames and TCP connections on 127.0.0.1, shared by the tests of the
// bridge devices and of the node.  Frames are built and read from the format
// alone (12-byte header: flag, reserved byte 0, payload size as 80 bits most
// significant byte first), never with the library's framing code, so that the
// library and the node are checked against an independent reading of it.
#ifndef ZARK_TESTS_SUPPORT_SSDTP_WIRE_H
#define ZARK_TESTS_SUPPORT_SSDTP_WIRE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ssdtp_wire {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kEop = 0x00, kEep = 0x01, kFragment = 0x02;
inline constexpr std::uint8_t kTimeCode = 0x30, kTimeCodeAlternate = 0x31, kLinkSpeed = 0x38;

// The header of a frame; high holds the top 16 of the 80 size bits.
Bytes Header(std::uint8_t flag, std::uint64_t size, std::uint16_t high = 0, std::uint8_t reserved = 0);
Bytes Frame(std::uint8_t flag, const Bytes &payload);
inline Bytes TimeCode(std::uint8_t code, std::uint8_t flag = kTimeCode) { return Frame(flag, {code, 0x00}); }

// A frame as read: flag and payload (fragments not joined).
struct Received {
    std::uint8_t flag = 0;
    Bytes payload;
    bool operator==(const Received &) const = default;
};
void PrintTo(const Received &frame, std::ostream *out); // flag, size and first bytes

// One TCP connection on 127.0.0.1.  Every call is bounded in time.
class Link {
public:
    explicit Link(std::uint16_t port); // connects to the port
    explicit Link(int fd) : fd_(fd) { Adopt(); } // takes over an accepted connection
    ~Link() { Close(); }
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    // "127.0.0.1:PORT" of this end, as the node's log names it.
    std::string local() const { return "127.0.0.1:" + std::to_string(local_port_); }
    // Writes the bytes until the other end takes nothing for quiet_seconds; how many went.
    std::size_t SendSome(const Bytes &bytes, double quiet_seconds);
    bool Send(const Bytes &bytes, double seconds = 5.0) { return SendSome(bytes, seconds) == bytes.size(); }
    // The next whole frame; nothing at the time limit or once the other end closed.
    std::optional<Received> Read(double seconds = 5.0);
    // True once the other end has closed (what it sent is discarded).
    bool WaitClosed(double seconds = 5.0);
    std::optional<Received> Exchange(const Bytes &packet, std::uint8_t flag = kEop)
    {
        return Send(Frame(flag, packet)) ? Read() : std::nullopt;
    }
    void Close();

private:
    void Adopt();
    bool Fill(double seconds); // more bytes into buffered_; false at the limit or the end
    int fd_ = -1;
    bool closed_ = false; // by the other end
    std::uint16_t local_port_ = 0;
    Bytes buffered_;
};

// A socket listening on 127.0.0.1 at a free port: the peer of a bridge device.
class Listener {
public:
    Listener();
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }
    // The oldest connection not yet taken, waiting up to seconds for one.
    std::unique_ptr<Link> Accept(double seconds = 2.0);

private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace ssdtp_wire

#endif
