#include "node_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "far_end.h"
#include "ssdtp.h"
#include "capture.h"
#include "trace.h"

namespace vantor_node {
namespace {

using vantor_sim::Packet;
using vantor_sim::SsdtpEvent;
using Clock = std::chrono::steady_clock;

constexpr int kPollMilliseconds = 100;

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Socket(Socket &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket &operator=(Socket &&other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

struct Connection {
    Connection(Socket socket_in, std::string peer_in, std::uint64_t packet_limit)
        : socket(std::move(socket_in)), peer(std::move(peer_in)), deframer(packet_limit)
    {
    }
    Socket socket;
    std::string peer;
    vantor_sim::SsdtpDeframer deframer;
    std::deque<SsdtpEvent> unanswered; // decoded, not yet answered
    std::vector<std::uint8_t> out;     // frames to send; out_sent of them already went
    std::size_t out_sent = 0;
    Clock::time_point last_arrival = Clock::now();
    Clock::time_point last_taken = Clock::now(); // when the client last took some of its replies
    std::size_t Pending() const { return out.size() - out_sent; }
};

struct Link {
    int number = 0;
    Socket listener;
    std::string address;
    std::unique_ptr<Connection> connection;
};

// One line on standard error, stamped with UTC date and time to the millisecond.
void Log(const std::string &line)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::fprintf(stderr, "%s.%03dZ %s\n", stamp, static_cast<int>(millis), line.c_str());
}

std::string AddressText(const sockaddr *address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address->sa_family == AF_INET6) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(address);
        inet_ntop(AF_INET6, &v6->sin6_addr, host, sizeof host);
        port = ntohs(v6->sin6_port);
        return "[" + std::string(host) + "]:" + std::to_string(port);
    }
    const auto *v4 = reinterpret_cast<const sockaddr_in *>(address);
    inet_ntop(AF_INET, &v4->sin_addr, host, sizeof host);
    port = ntohs(v4->sin_port);
    return std::string(host) + ":" + std::to_string(port);
}

std::optional<Socket> Listen(const std::string &host, std::uint16_t port, std::string &address, std::string &why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const int looked_up = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (looked_up != 0) {
        why = "cannot resolve " + host + ": " + gai_strerror(looked_up);
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    why = "no address";
    for (const addrinfo *at = found; at != nullptr; at = at->ai_next) {
        Socket socket(::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol));
        int on = 1;
        if (socket.fd() < 0 || setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            bind(socket.fd(), at->ai_addr, at->ai_addrlen) != 0 || listen(socket.fd(), 4) != 0) {
            why = std::strerror(errno);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(socket.fd(), reinterpret_cast<sockaddr *>(&bound), &length);
        address = AddressText(reinterpret_cast<sockaddr *>(&bound));
        return socket;
    }
    return std::nullopt;
}

class Server {
public:
    Server(const NodeOptions &options, std::FILE *trace, vantor_sim::Capture *capture)
        : options_(options), trace_(trace), capture_(capture)
    {
        vantor_sim::ResetFarEnd(options_.far_end, far_end_);
    }

    bool Start()
    {
        for (int k = 0; k < options_.links; ++k) {
            const auto port = static_cast<std::uint16_t>(options_.port == 0 ? 0 : options_.port + k);
            std::string address;
            std::string why;
            std::optional<Socket> listener = Listen(options_.host, port, address, why);
            if (!listener) {
                std::fprintf(stderr, "spacewire_zark_node: cannot listen on %s:%u: %s\n", options_.host.c_str(),
                             static_cast<unsigned>(port), why.c_str());
                return false;
            }
            links_.push_back(Link{k, std::move(*listener), address, nullptr});
        }
        for (const Link &link : links_) {
            std::printf("link %d listening on %s\n", link.number, link.address.c_str());
        }
        std::fflush(stdout);
        return true;
    }

    int Serve(const std::atomic<bool> &stop)
    {
        std::vector<pollfd> polled;
        while (!stop.load() && !(options_.once && served_)) {
            polled.clear();
            for (const Link &link : links_) {
                polled.push_back(pollfd{link.listener.fd(), POLLIN, 0});
                if (link.connection) {
                    const Connection &c = *link.connection;
                    short events = c.Pending() > 0 ? POLLOUT : 0;
                    if (Reading(c)) {
                        events |= POLLIN;
                    }
                    polled.push_back(pollfd{c.socket.fd(), events, 0});
                }
            }
            if (poll(polled.data(), polled.size(), kPollMilliseconds) < 0 && errno != EINTR) {
                Log(std::string("poll failed: ") + std::strerror(errno));
                return 1;
            }
            std::size_t at = 0;
            for (Link &link : links_) {
                const short listener_events = polled[at++].revents;
                if (link.connection) {
                    Service(link, polled[at++].revents);
                }
                if ((listener_events & POLLIN) != 0) {
                    Accept(link);
                }
            }
        }
        FinishReading();
        return 0;
    }

private:
    // Asked to stop, the node still takes in what its clients had already
    // sent (a client may have written its last packets and gone just before),
    // for a bounded time, so that its trace holds everything that was sent.
    void FinishReading()
    {
        const Clock::time_point give_up = Clock::now() + std::chrono::seconds(1);
        while (Clock::now() < give_up) {
            bool readable = false;
            for (Link &link : links_) {
                if (!link.connection) {
                    continue;
                }
                pollfd polled{link.connection->socket.fd(), POLLIN, 0};
                if (poll(&polled, 1, 0) > 0) {
                    readable = true;
                    Service(link, polled.revents);
                }
            }
            if (!readable) {
                return;
            }
        }
    }

    bool Reading(const Connection &c) const { return c.Pending() < kOutputHighWater && c.unanswered.empty(); }

    void Accept(Link &link)
    {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        Socket socket(accept4(link.listener.fd(), reinterpret_cast<sockaddr *>(&from), &length,
                              SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (socket.fd() < 0) {
            return;
        }
        const std::string peer = AddressText(reinterpret_cast<sockaddr *>(&from));
        // A SpaceWire link is point to point: the first client keeps it.
        if (link.connection) {
            Log("link " + std::to_string(link.number) + ": refused " + peer + ": the link is in use by " +
                link.connection->peer);
            return;
        }
        int on = 1;
        setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Log("link " + std::to_string(link.number) + ": connected " + peer);
        link.connection = std::make_unique<Connection>(std::move(socket), peer, options_.far_end.packet_limit);
    }

    void Drop(Link &link, const std::string &why)
    {
        Log("link " + std::to_string(link.number) + ": " + link.connection->peer + " " + why);
        link.connection.reset();
        served_ = true;
    }

    void Service(Link &link, short revents)
    {
        Connection &c = *link.connection;
        const bool was_reading = Reading(c);
        if ((revents & POLLOUT) != 0 && !Flush(c)) {
            Drop(link, "broke off (sending failed)");
            return;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && Reading(c)) {
            std::uint8_t chunk[kReadChunk];
            const ssize_t count = recv(c.socket.fd(), chunk, sizeof chunk, 0);
            if (count == 0 || (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                Drop(link, c.deframer.MidPacket() ? "disconnected in the middle of a frame" : "disconnected");
                return;
            }
            if (count > 0) {
                c.last_arrival = Clock::now();
                std::vector<SsdtpEvent> events;
                const bool sound = c.deframer.Feed(std::span(chunk, static_cast<std::size_t>(count)), events);
                for (SsdtpEvent &event : events) {
                    c.unanswered.push_back(std::move(event));
                }
                if (!sound) {
                    Drop(link, "is a broken peer: " + c.deframer.Error());
                    return;
                }
            }
        }
        // Answers and sends until the socket takes no more or all is answered,
        // so that poll() always has something to wait for.
        do {
            Answer(link.number, c);
            if (!Flush(c)) {
                Drop(link, "broke off (sending failed)");
                return;
            }
        } while (!c.unanswered.empty() && c.Pending() == 0);
        const auto stall = std::chrono::duration<double>(options_.far_end.stall_limit_seconds);
        const Clock::time_point now = Clock::now();
        if (c.Pending() == 0) {
            c.last_taken = now;
        }
        if (!was_reading || !Reading(c)) {
            // What the client sent waits unread in the node's socket: not its
            // stall, until the node has had a chance to read again.
            c.last_arrival = now;
        }
        if (c.Pending() > 0 && now - c.last_taken >= stall) {
            Drop(link, "is a broken peer: it took none of its replies in time");
        } else if (c.deframer.MidPacket() && now - c.last_arrival >= stall) {
            Drop(link, "is a broken peer: a packet begun was not completed in time");
        }
    }

    // Answers decoded packets while the output stays under its high-water mark.
    void Answer(int number, Connection &c)
    {
        // What already went is let go before more is added: a client that
        // always leaves some unread must not make out grow with all it took.
        if (c.out_sent > 0 && !c.unanswered.empty() && c.Pending() < kOutputHighWater) {
            c.out.erase(c.out.begin(), c.out.begin() + static_cast<std::ptrdiff_t>(c.out_sent));
            c.out_sent = 0;
        }
        while (!c.unanswered.empty() && c.Pending() < kOutputHighWater) {
            SsdtpEvent event = std::move(c.unanswered.front());
            c.unanswered.pop_front();
            if (event.kind == SsdtpEvent::Kind::TimeCode) {
                vantor_sim::TraceTimeCode(trace_, event.time_code);
                vantor_sim::CaptureTimeCode(capture_, number, event.time_code);
                continue;
            }
            vantor_sim::TracePacket(trace_, '>', event.packet);
            vantor_sim::CapturePacket(capture_, vantor_sim::CaptureKind::Sent, number, event.packet);
            answers_.clear();
            vantor_sim::AnswerPacket(options_.far_end, far_end_, std::move(event.packet), answers_);
            for (const Packet &answer : answers_) {
                vantor_sim::TracePacket(trace_, '<', answer);
                vantor_sim::CapturePacket(capture_, vantor_sim::CaptureKind::Delivered, number, answer);
                vantor_sim::AppendSsdtpPacket(c.out, answer.bytes, answer.eop);
            }
        }
    }

    // Sends what the socket takes now; false when the connection failed.
    static bool Flush(Connection &c)
    {
        while (c.Pending() > 0) {
            const ssize_t sent = send(c.socket.fd(), c.out.data() + c.out_sent, c.Pending(), MSG_NOSIGNAL);
            if (sent < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return errno == EAGAIN || errno == EWOULDBLOCK;
            }
            c.out_sent += static_cast<std::size_t>(sent);
            c.last_taken = Clock::now();
        }
        c.out.clear();
        c.out_sent = 0;
        return true;
    }

    const NodeOptions &options_;
    std::FILE *trace_;
    vantor_sim::Capture *capture_;
    vantor_sim::FarEndState far_end_; // one target and memory for every link, for the node's lifetime
    std::vector<Packet> answers_;
    std::vector<Link> links_;
    bool served_ = false;
};

} // namespace

int RunNode(const NodeOptions &options, const std::atomic<bool> &stop)
{
    std::unique_ptr<std::FILE, FileCloser> trace;
    if (!options.trace_path.empty()) {
        trace.reset(std::fopen(options.trace_path.c_str(), "a"));
        if (!trace) {
            std::fprintf(stderr, "spacewire_zark_node: cannot open the trace file %s: %s\n",
                         options.trace_path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::unique_ptr<vantor_sim::Capture> capture;
    if (!options.capture_path.empty()) {
        capture = vantor_sim::Capture::Open(options.capture_path);
        if (!capture) {
            std::fprintf(stderr, "spacewire_zark_node: cannot create the capture file %s: %s\n",
                         options.capture_path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    Server server(options, trace.get(), capture.get());
    if (!server.Start()) {
        return 1;
    }
    return server.Serve(stop);
}

} // namespace vantor_node
