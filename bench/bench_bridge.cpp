// The bridge device over loopback TCP against a peer on a thread of this
// program: packets per second and bytes per second each way, the round trip
// of one packet (median and 99th percentile), and the RMAP command stream's
// pattern at full scale, a million packets each with its read started first.
// Goals: 1 KiB packets at 500 MB/s or more each way; a round trip under 50 us
// at the median.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "device/vantor_api.h"
#include "vantor_sim_control.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// One SSDTP2 frame: flag (0x00 EOP), reserved 0, payload size in 80 bits
// most significant byte first, then the payload.
void AppendFrame(Bytes &out, std::size_t size, std::uint8_t fill)
{
    const std::size_t at = out.size();
    out.resize(at + 12 + size, fill);
    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), 12, 0);
    for (int i = 0; i < 8; ++i) out[at + 11 - static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
}

// Serves one connection: echoes the byte stream back exactly as it came, so
// every frame returns whole with its ending; or discards it; or writes a
// batch of frames once per credit granted.
class Peer {
public:
    enum class Mode { Echo, Discard, Stream };

    explicit Peer(Mode mode, Bytes batch = {}) : mode_(mode), batch_(std::move(batch))
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listen_fd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
        listen(listen_fd_, 1);
        getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer()
    {
        stop_ = true;
        credit_changed_.notify_all();
        thread_.join();
        close(listen_fd_);
    }
    std::string Settings() const { return "devices=0:0@127.0.0.1:" + std::to_string(port_) + ";idle_wait=5"; }
    void Grant(int batches)
    {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            credit_ += batches;
        }
        credit_changed_.notify_all();
    }

private:
    static bool WriteAll(int fd, const std::uint8_t *data, std::size_t size, const std::atomic<bool> &stop)
    {
        while (size > 0 && !stop) {
            const ssize_t written = send(fd, data, size, MSG_NOSIGNAL);
            if (written <= 0) return false;
            data += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }

    void Serve(int fd)
    {
        Bytes chunk(256 * 1024);
        while (!stop_) {
            if (mode_ == Mode::Stream) {
                std::unique_lock<std::mutex> guard(mutex_);
                if (!credit_changed_.wait_for(guard, std::chrono::milliseconds(50),
                                              [&] { return credit_ > 0 || stop_; }) ||
                    stop_) {
                    continue;
                }
                --credit_;
                guard.unlock();
                if (!WriteAll(fd, batch_.data(), batch_.size(), stop_)) return;
                continue;
            }
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 50) <= 0) continue;
            const ssize_t count = recv(fd, chunk.data(), chunk.size(), 0);
            if (count <= 0) return;
            if (mode_ == Mode::Echo && !WriteAll(fd, chunk.data(), static_cast<std::size_t>(count), stop_)) return;
        }
    }

    void Run()
    {
        while (!stop_) {
            pollfd waiting{listen_fd_, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0) continue;
            const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            Serve(fd);
            close(fd);
        }
    }

    Mode mode_;
    Bytes batch_;
    int listen_fd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable credit_changed_;
    int credit_ = 0;
    std::thread thread_;
};

DeviceHandle OpenBridge(const Peer &peer, benchmark::State &state)
{
    vantor_sim::ApplySettings(peer.Settings());
    DeviceHandle device = nullptr;
    if (Vantor_Open(&device, 0) == 0 || Vantor_RegisterReceiveOnAllPorts(device) == 0) {
        state.SkipWithError("the bridge did not open");
        return nullptr;
    }
    return device;
}

// Device to peer: packets sent without waiting and released at once, as the
// command streams send them, the send completion collected every 4096
// packets; arg 1 = 1 waits on every send instead.
void BM_SendOneWay(benchmark::State &state)
{
    Peer peer(Peer::Mode::Discard);
    DeviceHandle device = OpenBridge(peer, state);
    Bytes packet(static_cast<std::size_t>(state.range(0)), 0x5a);
    const bool waiting = state.range(1) != 0;
    std::uint64_t sent = 0;
    for (auto _ : state) {
        if (device == nullptr) break;
        TransferId id = nullptr;
        const bool collect = waiting || (++sent & 4095) == 0;
        if (Vantor_SendPacket(device, packet.data(), static_cast<unsigned>(packet.size()), waiting, &id) >
            VANTOR_TRANSFER_SUCCESS) {
            state.SkipWithError("send failed");
        }
        if (collect && !waiting && Vantor_WaitOnSendCompleting(device, id, 0) != VANTOR_TRANSFER_SUCCESS) {
            state.SkipWithError("send failed");
        }
        Vantor_FreeSend(device, id);
    }
    if (device != nullptr) { // whatever is still queued goes out inside the measurement
        TransferId id = nullptr;
        Vantor_SendPacket(device, packet.data(), static_cast<unsigned>(packet.size()), 1, &id);
        Vantor_FreeSend(device, id);
    }
    vantor_sim::ApplySettings("");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SendOneWay)->Args({16, 0})->Args({1024, 0})->Args({16, 1})->Args({1024, 1})->UseRealTime();

// Peer to device: the peer writes batches of 256 frames on credit (four
// batches ahead), the device takes each batch with one multi-packet read.
void BM_ReceiveOneWay(benchmark::State &state)
{
    constexpr unsigned kBatch = 256;
    const auto size = static_cast<std::size_t>(state.range(0));
    Bytes frames;
    for (unsigned i = 0; i < kBatch; ++i) AppendFrame(frames, size, static_cast<std::uint8_t>(i));
    Peer peer(Peer::Mode::Stream, std::move(frames));
    DeviceHandle device = OpenBridge(peer, state);
    Bytes buffer(kBatch * size);
    std::vector<PacketProperties> properties(kBatch);
    peer.Grant(4);
    for (auto _ : state) {
        if (device == nullptr) break;
        TransferId id = nullptr;
        if (Vantor_ReadPackets(device, buffer.data(), static_cast<unsigned>(buffer.size()), kBatch, 1,
                               properties.data(), &id) != VANTOR_TRANSFER_SUCCESS) {
            state.SkipWithError("read failed");
        }
        Vantor_FreeRead(device, id);
        peer.Grant(1);
    }
    vantor_sim::ApplySettings("");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kBatch);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBatch * size));
}
BENCHMARK(BM_ReceiveOneWay)->Arg(16)->Arg(1024)->UseRealTime();

// One packet there and back: read started, packet sent, read awaited, both
// released.  Each iteration is timed; median and 99th percentile in us.
void BM_RoundTrip(benchmark::State &state)
{
    Peer peer(Peer::Mode::Echo);
    DeviceHandle device = OpenBridge(peer, state);
    Bytes packet(static_cast<std::size_t>(state.range(0)), 0x5a);
    Bytes buffer(packet.size());
    PacketProperties properties{};
    std::vector<double> samples;
    for (auto _ : state) {
        if (device == nullptr) break;
        const auto start = Clock::now();
        TransferId read = nullptr, send = nullptr;
        Vantor_ReadPackets(device, buffer.data(), static_cast<unsigned>(buffer.size()), 1, 0, &properties, &read);
        Vantor_SendPacket(device, packet.data(), static_cast<unsigned>(packet.size()), 0, &send);
        if (Vantor_WaitOnReadCompleting(device, read, 0) != VANTOR_TRANSFER_SUCCESS) {
            state.SkipWithError("no echo");
        }
        Vantor_FreeRead(device, read);
        Vantor_FreeSend(device, send);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e6);
    }
    vantor_sim::ApplySettings("");
    if (!samples.empty()) {
        std::sort(samples.begin(), samples.end());
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    }
}
BENCHMARK(BM_RoundTrip)->Arg(16)->Arg(1024)->UseManualTime();

// The RMAP command stream's pattern at full scale: for each of a million
// 16-byte packets a read is started, then the packet sent without waiting;
// afterwards every read is awaited in order, then everything released.
void BM_MillionCommands(benchmark::State &state)
{
    constexpr std::size_t kCommands = 1'000'000, kSize = 16;
    Peer peer(Peer::Mode::Echo);
    DeviceHandle device = OpenBridge(peer, state);
    Bytes packets(kCommands * kSize), replies(kCommands * kSize);
    for (std::size_t i = 0; i < kCommands; ++i) packets[i * kSize] = static_cast<std::uint8_t>(i);
    std::vector<PacketProperties> properties(kCommands);
    std::vector<TransferId> reads(kCommands), sends(kCommands);
    for (auto _ : state) {
        if (device == nullptr) break;
        for (std::size_t i = 0; i < kCommands; ++i) {
            Vantor_ReadPackets(device, &replies[i * kSize], kSize, 1, 0, &properties[i], &reads[i]);
            Vantor_SendPacket(device, &packets[i * kSize], kSize, 0, &sends[i]);
        }
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < kCommands; ++i) {
            wrong += Vantor_WaitOnReadCompleting(device, reads[i], 0) != VANTOR_TRANSFER_SUCCESS ||
                     replies[i * kSize] != static_cast<std::uint8_t>(i);
        }
        for (std::size_t i = 0; i < kCommands; ++i) {
            Vantor_FreeRead(device, reads[i]);
            Vantor_FreeSend(device, sends[i]);
        }
        if (wrong != 0) state.SkipWithError("replies missing or out of order");
    }
    vantor_sim::ApplySettings("");
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCommands));
}
BENCHMARK(BM_MillionCommands)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
