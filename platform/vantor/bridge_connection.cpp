#include "bridge_connection.h"

#include "sim_settings.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantor_sim {
namespace {

using Clock = BridgeConnection::Clock;

constexpr std::size_t kReceiveChunk = 256 * 1024;

int MillisecondsUntil(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left + 1, 0, 60'000));
}

Clock::duration Seconds(double seconds)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::min(seconds, 1e6)));
}

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// One attempt at one address, bounded by until.  The socket, or -1 with errno-style reason.
int ConnectOne(const addrinfo &address, Clock::time_point until, std::string &reason)
{
    int fd = socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
    if (fd < 0) {
        reason = std::strerror(errno);
        return -1;
    }
    int error = 0;
    if (connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd waiting{fd, POLLOUT, 0};
            int ready = 0;
            do {
                ready = poll(&waiting, 1, MillisecondsUntil(until));
            } while (ready < 0 && errno == EINTR);
            socklen_t length = sizeof error;
            if (ready <= 0) {
                error = ETIMEDOUT;
            } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = errno;
            }
        }
    }
    if (error != 0) {
        reason = error == ETIMEDOUT ? "no answer" : std::strerror(error);
        close(fd);
        return -1;
    }
    // Blocking from now on for receiving; sends say MSG_DONTWAIT themselves.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

} // namespace

std::shared_ptr<BridgeConnection> BridgeConnection::Connect(const std::string &host, std::uint16_t port,
                                                            const BridgeOptions &options, std::string &reason)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    const int looked_up = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (looked_up != 0) {
        reason = "cannot resolve " + host + ": " + gai_strerror(looked_up);
        return nullptr;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    const Clock::time_point until = Clock::now() + Seconds(options.connect_seconds);
    std::string why = "no address";
    for (const addrinfo *address = found; address != nullptr; address = address->ai_next) {
        const int fd = ConnectOne(*address, until, why);
        if (fd >= 0) {
            return std::shared_ptr<BridgeConnection>(new BridgeConnection(fd, options));
        }
        if (Clock::now() >= until) {
            break;
        }
    }
    reason = "cannot connect to " + EndpointText(host, port) + ": " + why;
    return nullptr;
}

BridgeConnection::BridgeConnection(int fd, const BridgeOptions &options)
    : fd_(fd), options_(options), last_arrival_(Clock::now().time_since_epoch().count())
{
    receiver_ = std::thread([this] { ReceiveLoop(); });
}

BridgeConnection::~BridgeConnection()
{
    // Sends the caller never waited for still go out, as on an adapter.
    Flush();
    closing_.store(true);
    // Wakes the receiver out of poll: it sees the end of the stream.
    shutdown(fd_, SHUT_RDWR);
    receiver_.join();
    close(fd_);
}

void BridgeConnection::Break(const std::string &reason)
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!broken_.empty()) {
            return;
        }
        broken_ = reason;
    }
    arrived_.notify_all();
    shutdown(fd_, SHUT_RDWR);
}

std::string BridgeConnection::BrokenReason()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return broken_;
}

Clock::time_point BridgeConnection::LastArrival() const
{
    return Clock::time_point(Clock::duration(last_arrival_.load()));
}

void BridgeConnection::Take(std::vector<SsdtpEvent> &events)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (events.empty()) {
        events.swap(inbox_);
    } else {
        std::move(inbox_.begin(), inbox_.end(), std::back_inserter(events));
        inbox_.clear();
    }
}

void BridgeConnection::WaitForArrival(Clock::time_point until)
{
    std::unique_lock<std::mutex> guard(mutex_);
    arrived_.wait_until(guard, until, [this] { return !inbox_.empty() || !broken_.empty(); });
}

void BridgeConnection::ReceiveLoop()
{
    std::vector<std::uint8_t> chunk(kReceiveChunk);
    std::vector<SsdtpEvent> events;
    SsdtpDeframer deframer(options_.packet_limit);
    const Clock::duration stall = Seconds(options_.stall_seconds);
    for (;;) {
        // Between packets a blocking receive is all it takes (closing wakes it
        // with the end of the stream); inside one, silence is timed.
        const bool mid_packet = deframer.MidPacket();
        if (mid_packet) {
            pollfd readable{fd_, POLLIN, 0};
            const int ready = poll(&readable, 1, MillisecondsUntil(LastArrival() + stall));
            if (closing_.load()) {
                return;
            }
            if (ready < 0 && errno != EINTR) {
                Break(std::string("receiving failed: ") + std::strerror(errno));
                return;
            }
            if (ready == 0 && Clock::now() >= LastArrival() + stall) {
                Break("nothing came for " + SecondsText(options_.stall_seconds) + " in the middle of a packet");
                return;
            }
            if (ready <= 0) {
                continue;
            }
        }
        const ssize_t count = recv(fd_, chunk.data(), chunk.size(), mid_packet ? MSG_DONTWAIT : 0);
        if (closing_.load()) {
            return;
        }
        if (count == 0) {
            Break(deframer.MidPacket() ? "the peer closed the connection in the middle of a frame"
                                       : "the peer closed the connection");
            return;
        }
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            Break(std::string("receiving failed: ") + std::strerror(errno));
            return;
        }
        last_arrival_.store(Clock::now().time_since_epoch().count());
        const bool sound = deframer.Feed(std::span(chunk.data(), static_cast<std::size_t>(count)), events);
        if (!events.empty()) {
            {
                // Checked under the lock that SetReceiving takes, so a packet is
                // kept exactly when it completed while receiving was on.
                std::lock_guard<std::mutex> guard(mutex_);
                if (!receiving_) {
                    std::erase_if(events, [](const SsdtpEvent &e) { return e.kind == SsdtpEvent::Kind::Packet; });
                }
                if (inbox_.empty()) {
                    inbox_.swap(events);
                } else {
                    std::move(events.begin(), events.end(), std::back_inserter(inbox_));
                }
            }
            events.clear();
            arrived_.notify_all();
        }
        if (!sound) {
            Break("broken stream from the peer: " + deframer.Error());
            return;
        }
    }
}

bool BridgeConnection::WaitWritable()
{
    const Clock::time_point until = Clock::now() + Seconds(options_.stall_seconds);
    for (;;) {
        pollfd writable{fd_, POLLOUT, 0};
        const int ready = poll(&writable, 1, MillisecondsUntil(until));
        if (ready > 0 || (ready < 0 && errno == EINTR)) {
            return true;
        }
        if (ready < 0) {
            return false;
        }
        if (ready == 0 && Clock::now() >= until) {
            return false;
        }
    }
}

bool BridgeConnection::Queue(std::span<const std::span<const std::uint8_t>> packets, int eop)
{
    if (!BrokenReason().empty()) {
        return false;
    }
    for (std::span<const std::uint8_t> packet : packets) {
        if (!queued_.empty() && queued_.size() + kSsdtpHeaderBytes + packet.size() > kFlushBytes && !Flush()) {
            return false;
        }
        // A packet larger than a batch goes out on its own, straight from the caller's memory.
        if (packet.size() >= kFlushBytes) {
            const auto header = SsdtpHeader(eop == VANTOR_EOP_EOP ? kSsdtpEop : kSsdtpEep, packet.size());
            if (!Write(header) || !Write(packet)) {
                return false;
            }
            continue;
        }
        AppendSsdtpPacket(queued_, packet, eop);
    }
    return true;
}

void BridgeConnection::SetReceiving(bool on)
{
    std::lock_guard<std::mutex> guard(mutex_);
    receiving_ = on;
}

bool BridgeConnection::Flush()
{
    ++flushes_;
    const bool written = Write(queued_);
    queued_.clear();
    return written;
}

bool BridgeConnection::Write(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        if (!BrokenReason().empty()) {
            return false;
        }
        const ssize_t written = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written >= 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Break(std::string("sending failed: ") + std::strerror(errno));
            return false;
        }
        if (!WaitWritable()) {
            Break("the peer accepted nothing for " + SecondsText(options_.stall_seconds));
            return false;
        }
    }
    return BrokenReason().empty();
}

} // namespace vantor_sim
