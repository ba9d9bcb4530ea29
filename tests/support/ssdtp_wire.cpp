#include "support/ssdtp_wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ssdtp_wire {
namespace {

using Clock = std::chrono::steady_clock;

double Left(Clock::time_point until) { return std::chrono::duration<double>(until - Clock::now()).count(); }
Clock::time_point After(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// How long one blocking receive or accept (SO_RCVTIMEO) or send (SO_SNDTIMEO)
// may wait: at least 1 ms, since 0 would mean for ever.
void Limit(int fd, int option, double seconds)
{
    const long us = std::max(1000L, static_cast<long>(seconds * 1e6));
    const timeval limit{us / 1000000, us % 1000000};
    setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit);
}

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

Bytes Header(std::uint8_t flag, std::uint64_t size, std::uint16_t high, std::uint8_t reserved)
{
    Bytes header{flag, reserved, static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high)};
    for (int shift = 56; shift >= 0; shift -= 8) header.push_back(static_cast<std::uint8_t>(size >> shift));
    return header;
}

Bytes Frame(std::uint8_t flag, const Bytes &payload)
{
    Bytes frame = Header(flag, payload.size());
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

void PrintTo(const Received &frame, std::ostream *out)
{
    char text[8];
    *out << "flag " << static_cast<int>(frame.flag) << ", " << frame.payload.size() << " bytes:";
    for (std::size_t i = 0; i < std::min<std::size_t>(frame.payload.size(), 32); ++i) {
        std::snprintf(text, sizeof text, " %02x", frame.payload[i]);
        *out << text;
    }
}

Listener::Listener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(fd_, 8) == 0) {
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length);
    }
    port_ = ntohs(address.sin_port);
}

Listener::~Listener() { close(fd_); }

std::unique_ptr<Link> Listener::Accept(double seconds)
{
    Limit(fd_, SO_RCVTIMEO, seconds);
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<Link>(fd);
}

Link::Link(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    const sockaddr_in to = Loopback(port);
    fd_ >= 0 && connect(fd_, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0 ? Adopt() : Close();
}

void Link::Adopt()
{
    int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in self{};
    socklen_t length = sizeof self;
    getsockname(fd_, reinterpret_cast<sockaddr *>(&self), &length);
    local_port_ = ntohs(self.sin_port);
}

void Link::Close()
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

std::size_t Link::SendSome(const Bytes &bytes, double quiet_seconds)
{
    Limit(fd_, SO_SNDTIMEO, quiet_seconds);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno != EINTR) break;
        done += static_cast<std::size_t>(std::max<ssize_t>(sent, 0));
    }
    return done;
}

bool Link::Fill(double seconds)
{
    Limit(fd_, SO_RCVTIMEO, seconds);
    std::uint8_t chunk[65536];
    ssize_t count = -1;
    while ((count = recv(fd_, chunk, sizeof chunk, 0)) < 0 && errno == EINTR) {
    }
    closed_ = closed_ || count == 0 || (count < 0 && errno != EAGAIN);
    if (count > 0) buffered_.insert(buffered_.end(), chunk, chunk + count);
    return count > 0;
}

std::optional<Received> Link::Read(double seconds)
{
    const Clock::time_point until = After(seconds);
    for (;;) {
        std::uint64_t size = 0;
        for (std::size_t i = 4; i < 12 && buffered_.size() >= 12; ++i) size = (size << 8) | buffered_[i];
        if (buffered_.size() >= 12 && buffered_.size() - 12 >= size) {
            const auto end = buffered_.begin() + 12 + static_cast<std::ptrdiff_t>(size);
            Received frame{buffered_[0], Bytes(buffered_.begin() + 12, end)};
            buffered_.erase(buffered_.begin(), end);
            return frame;
        }
        if (!Fill(Left(until))) return std::nullopt;
    }
}

bool Link::WaitClosed(double seconds)
{
    const Clock::time_point until = After(seconds);
    do {
        buffered_.clear();
    } while (Fill(Left(until)));
    return closed_;
}

} // namespace ssdtp_wire
