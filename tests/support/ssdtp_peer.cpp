#include "support/ssdtp_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ssdtp_peer {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPollMilliseconds = 5;
constexpr auto kWriteLimit = std::chrono::seconds(2);

Clock::time_point After(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

Peer::Peer()
{
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        listen(listen_fd_, 8) != 0 || getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (listen_fd_ >= 0) close(listen_fd_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

Peer::~Peer()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
    }
    thread_.join();
    CloseConnection();
    if (listen_fd_ >= 0) close(listen_fd_);
}

int Peer::Accepted()
{
    std::lock_guard<std::mutex> guard(mutex_);
    return accepted_;
}

bool Peer::WaitAccepted(int count, double seconds)
{
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_until(guard, After(seconds), [&] { return accepted_ >= count; });
}

bool Peer::WaitDisconnected(double seconds)
{
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_until(guard, After(seconds), [&] { return conn_fd_ < 0; });
}

void Peer::SetEcho(bool on)
{
    std::lock_guard<std::mutex> guard(mutex_);
    echo_ = on;
}

void Peer::SetHold(bool on)
{
    std::lock_guard<std::mutex> guard(mutex_);
    hold_ = on;
}

std::optional<Received> Peer::Receive(double seconds)
{
    std::unique_lock<std::mutex> guard(mutex_);
    if (!changed_.wait_until(guard, After(seconds), [&] { return !frames_.empty(); })) {
        return std::nullopt;
    }
    Received frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
}

bool Peer::Send(const Bytes &bytes, std::size_t piece, std::chrono::microseconds pause)
{
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t take = std::min(piece, bytes.size() - at);
        {
            std::lock_guard<std::mutex> writing(write_mutex_);
            if (!WriteAll(bytes.data() + at, take)) {
                return false;
            }
        }
        at += take;
        if (at < bytes.size() && pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
    }
    return true;
}

void Peer::Close() { Do(Request::Close); }

void Peer::StopListening() { Do(Request::StopListening); }

// The peer's thread alone changes or closes the fds, so none is closed under a poll.
void Peer::Do(Request request)
{
    std::unique_lock<std::mutex> guard(mutex_);
    request_ = request;
    changed_.wait_until(guard, After(2.0), [&] { return request_ == Request::None; });
}

bool Peer::WriteAll(const std::uint8_t *data, std::size_t size)
{
    const Clock::time_point until = Clock::now() + kWriteLimit;
    while (size > 0) {
        const ssize_t written = send(conn_fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        pollfd writable{conn_fd_, POLLOUT, 0};
        if (Clock::now() >= until || (poll(&writable, 1, kPollMilliseconds) < 0 && errno != EINTR)) {
            return false;
        }
    }
    return true;
}

void Peer::CloseConnection()
{
    std::lock_guard<std::mutex> writing(write_mutex_);
    std::lock_guard<std::mutex> guard(mutex_);
    if (conn_fd_ >= 0) {
        shutdown(conn_fd_, SHUT_RDWR);
        close(conn_fd_);
        conn_fd_ = -1;
    }
    partial_.clear();
    changed_.notify_all();
}

void Peer::Accept()
{
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    CloseConnection();
    std::lock_guard<std::mutex> writing(write_mutex_);
    std::lock_guard<std::mutex> guard(mutex_);
    conn_fd_ = fd;
    ++accepted_;
    changed_.notify_all();
}

// Reads what is there and decodes every frame it completes.
void Peer::ReadConnection()
{
    std::uint8_t chunk[65536];
    const ssize_t count = recv(conn_fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (count <= 0) {
        CloseConnection();
        return;
    }
    Bytes echo;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        partial_.insert(partial_.end(), chunk, chunk + count);
        std::size_t at = 0;
        while (partial_.size() - at >= 12) {
            const std::uint8_t *header = partial_.data() + at;
            std::uint64_t size = 0;
            for (std::size_t i = 4; i < 12; ++i) size = (size << 8) | header[i];
            if (header[2] != 0 || header[3] != 0 || partial_.size() - at - 12 < size) {
                break; // the device never claims 2^64 bytes or more: such a frame just never completes
            }
            const auto begin = partial_.begin() + static_cast<std::ptrdiff_t>(at);
            const auto end = begin + static_cast<std::ptrdiff_t>(12 + size);
            if (echo_) {
                echo.insert(echo.end(), begin, end);
            } else {
                frames_.push_back(Received{header[0], Bytes(begin + 12, end)});
            }
            at += 12 + size;
        }
        partial_.erase(partial_.begin(), partial_.begin() + static_cast<std::ptrdiff_t>(at));
        changed_.notify_all();
    }
    if (!echo.empty()) {
        std::lock_guard<std::mutex> writing(write_mutex_);
        WriteAll(echo.data(), echo.size());
    }
}

void Peer::Run()
{
    for (;;) {
        Request request = Request::None;
        bool read = false;
        bool hold = false;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (stop_) {
                return;
            }
            request = request_;
            hold = hold_;
            read = conn_fd_ >= 0 && !hold;
        }
        if (request == Request::Close) {
            // Whatever the device sent first is taken in, so that closing
            // sends an orderly end rather than a reset.
            while (conn_fd_ >= 0 && !hold) {
                pollfd readable{conn_fd_, POLLIN, 0};
                if (poll(&readable, 1, 0) <= 0) break;
                ReadConnection();
            }
            CloseConnection();
        } else if (request == Request::StopListening && listen_fd_ >= 0) {
            close(listen_fd_);
            listen_fd_ = -1;
        }
        if (request != Request::None) {
            std::lock_guard<std::mutex> guard(mutex_);
            request_ = Request::None;
            changed_.notify_all();
            continue;
        }
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {read ? conn_fd_ : -1, POLLIN, 0}};
        if (poll(fds, 2, kPollMilliseconds) <= 0) {
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            Accept();
        }
        if (read && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ReadConnection();
        }
    }
}

} // namespace ssdtp_peer
