#include "support/ssdtp_peer.h"

#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace ssdtp_peer {
namespace {

std::chrono::steady_clock::time_point After(double seconds)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

} // namespace

Peer::Peer()
{
    listen_fd_ = ssdtp_wire::Listen(port_);
    if (listen_fd_ < 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    thread_ = std::thread([this] { Run(); });
}

Peer::~Peer()
{
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
    }
    thread_.join();
    link_.reset();
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
    return changed_.wait_until(guard, After(seconds), [&] { return !connected_; });
}

std::optional<Received> Peer::Receive(double seconds)
{
    std::unique_lock<std::mutex> guard(mutex_);
    if (!changed_.wait_until(guard, After(seconds), [&] { return !frames_.empty(); })) return std::nullopt;
    Received frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
}

bool Peer::Send(const Bytes &bytes, std::size_t piece, std::chrono::microseconds pause)
{
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        if (at > 0) std::this_thread::sleep_for(pause);
        std::lock_guard<std::mutex> writing(write_mutex_);
        const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        if (!link_ || !link_->Send(Bytes(from, from + static_cast<std::ptrdiff_t>(std::min(piece, bytes.size() - at))),
                                   2.0)) {
            return false;
        }
    }
    return true;
}

// The peer's thread alone changes or closes the sockets, so none is closed under a poll.
void Peer::Do(Request request)
{
    std::unique_lock<std::mutex> guard(mutex_);
    request_ = request;
    changed_.wait_until(guard, After(2.0), [&] { return request_ == Request::None; });
}

void Peer::Replace(std::unique_ptr<ssdtp_wire::Link> link)
{
    std::lock_guard<std::mutex> writing(write_mutex_);
    std::lock_guard<std::mutex> guard(mutex_);
    accepted_ += link ? 1 : 0;
    connected_ = link != nullptr;
    link_ = std::move(link);
    changed_.notify_all();
}

void Peer::TakeFrames()
{
    while (std::optional<Received> frame = link_->Read(0)) {
        if (echo_) {
            std::lock_guard<std::mutex> writing(write_mutex_);
            link_->Send(ssdtp_wire::Frame(frame->flag, frame->payload), 2.0);
        } else {
            std::lock_guard<std::mutex> guard(mutex_);
            frames_.push_back(std::move(*frame));
            changed_.notify_all();
        }
    }
    if (link_->closed()) Replace(nullptr);
}

void Peer::Run()
{
    std::unique_lock<std::mutex> guard(mutex_);
    while (!stop_) {
        const Request request = request_;
        guard.unlock();
        const bool read = link_ && !hold_;
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {read ? link_->fd() : -1, POLLIN, 0}};
        if (request == Request::None && poll(fds, 2, 5) > 0 && (fds[0].revents & POLLIN) != 0) {
            const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) Replace(std::make_unique<ssdtp_wire::Link>(fd));
        }
        // On closing, whatever the device sent first is taken in, so that the end is orderly, not a reset.
        if (read && (fds[1].revents != 0 || request == Request::Close)) TakeFrames();
        if (request == Request::Close && link_) Replace(nullptr);
        if (request == Request::StopListening) {
            close(listen_fd_);
            listen_fd_ = -1;
        }
        guard.lock();
        if (request != Request::None) {
            request_ = Request::None;
            changed_.notify_all();
        }
    }
}

} // namespace ssdtp_peer
