// Helpers for the node's tests: a raw SSDTP2 client on 127.0.0.1, the node
// run once to its end, its log, and what /proc says about its process.
//
// Frames are built and read here from the frame format alone (12-byte header:
// flag, reserved byte, payload size as 80 bits most significant byte first),
// so that the node is checked against the format, not against its own framing.
#ifndef ZARK_TESTS_PLATFORM_VANTOR_NODE_TEST_SUPPORT_H
#define ZARK_TESTS_PLATFORM_VANTOR_NODE_TEST_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace node_test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kEop = 0x00, kEep = 0x01, kFragment = 0x02;

// The header of a frame; high holds the top 16 of the 80 size bits.
Bytes Header(std::uint8_t flag, std::uint64_t size, std::uint16_t high = 0, std::uint8_t reserved = 0);
Bytes Frame(std::uint8_t flag, const Bytes &payload);

struct Received {
    std::uint8_t flag = 0;
    Bytes payload;
    bool operator==(const Received &) const = default;
};
// For test failures: the flag, the size and the first bytes.
void PrintTo(const Received &frame, std::ostream *out);

// One TCP connection to the node.  Every call is bounded in time.
class RawClient {
public:
    explicit RawClient(std::uint16_t port);
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool connected() const { return fd_ >= 0; }
    // "127.0.0.1:PORT" of this end, as the node's log names it.
    std::string peer() const;
    // Writes the bytes until the node takes nothing for quiet_seconds; how many went.
    std::size_t SendSome(const Bytes &bytes, double quiet_seconds);
    // Writes all the bytes; false when the node took nothing for `seconds`.
    bool Send(const Bytes &bytes, double seconds = 5.0) { return SendSome(bytes, seconds) == bytes.size(); }
    // The next whole frame; nothing at the time limit or when the node closed.
    std::optional<Received> Read(double seconds = 5.0);
    // Takes at least `most` bytes, unframed, unless `seconds` pass or the node closes first; how many.
    std::size_t Drain(std::size_t most, double seconds);
    // True once the node has closed the connection (what it sent is discarded).
    bool WaitClosed(double seconds = 5.0)
    {
        Drain(SIZE_MAX, seconds);
        return closed_;
    }
    // Sends a packet with EOP and reads the frame that comes back.
    std::optional<Received> Exchange(const Bytes &packet, std::uint8_t flag = kEop);
    void Close();

private:
    bool Fill(double seconds); // more bytes into buffered_; false at the limit or the end
    int fd_ = -1;
    bool closed_ = false; // by the node
    std::uint16_t local_port_ = 0;
    Bytes buffered_;
};

// The node run with each of these argument lists, all at once, to their end
// (killed after 10 s).
struct NodeRun {
    std::string out;
    std::string err;
    int exit_status = -1; // -1 when it did not exit by itself
};
std::vector<NodeRun> RunNodesToEnd(const std::vector<std::vector<std::string>> &runs);

// Waits until the log holds a line containing every one of the needles; that line, or empty.
std::string WaitForLogLine(const std::filesystem::path &log, const std::vector<std::string> &needles,
                           double seconds = 5.0);

// From /proc: the resident set in KiB, and the open file descriptors.
long ResidentKib(pid_t pid);
int OpenDescriptors(pid_t pid);

} // namespace node_test

#endif
