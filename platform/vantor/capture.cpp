#include "capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace vantor_sim {
namespace {

// Written out by the caller once this much is buffered, so that a fast run
// never holds more than this in memory.
constexpr std::size_t kWriteAt = 1 << 20;
constexpr std::size_t kPseudoHeaderLength = 4;

void PutLittleEndian32(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void PutLittleEndian16(std::vector<std::uint8_t> &out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint8_t EndMarker(std::int32_t eop)
{
    return eop == VANTOR_EOP_EOP ? 0x80 : eop == VANTOR_EOP_EEP ? 0x40 : 0;
}

bool WriteAll(int fd, const std::uint8_t *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

std::unique_ptr<Capture> Capture::Open(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        return nullptr;
    }
    // Non-blocking only for the open: a FIFO nobody reads must not hang it.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::vector<std::uint8_t> header;
    PutLittleEndian32(header, 0xa1b23c4d); // nanosecond timestamps
    PutLittleEndian16(header, 2);
    PutLittleEndian16(header, 4);
    PutLittleEndian32(header, 0); // time zone: UTC
    PutLittleEndian32(header, 0); // accuracy
    PutLittleEndian32(header, kCaptureSnapLength);
    PutLittleEndian32(header, kCaptureLinkType);
    if (!WriteAll(fd, header.data(), header.size())) {
        const int why = errno;
        ::close(fd);
        errno = why;
        return nullptr;
    }
    return std::unique_ptr<Capture>(new Capture(fd));
}

Capture::Capture(int fd) : fd_(fd), flusher_([this] { FlushEverySecond(); }) {}

Capture::~Capture()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    flusher_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    WriteBuffered(lock);
    ::close(fd_);
}

void Capture::Add(CaptureKind kind, int device, std::int32_t eop, std::span<const std::uint8_t> bytes)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::size_t whole = kPseudoHeaderLength + bytes.size();
    const std::size_t kept = std::min(whole, kCaptureSnapLength);
    std::unique_lock<std::mutex> lock(mutex_);
    PutLittleEndian32(buffer_, static_cast<std::uint32_t>(now.tv_sec));
    PutLittleEndian32(buffer_, static_cast<std::uint32_t>(now.tv_nsec));
    PutLittleEndian32(buffer_, static_cast<std::uint32_t>(kept));
    PutLittleEndian32(buffer_, static_cast<std::uint32_t>(std::min<std::size_t>(whole, UINT32_MAX)));
    buffer_.push_back(kCapturePseudoHeaderVersion);
    buffer_.push_back(static_cast<std::uint8_t>(kind));
    buffer_.push_back(EndMarker(eop));
    buffer_.push_back(static_cast<std::uint8_t>(device));
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept - kPseudoHeaderLength));
    if (buffer_.size() >= kWriteAt) {
        WriteBuffered(lock);
    }
}

void Capture::AddPacket(CaptureKind kind, int device, const Packet &packet)
{
    Add(kind, device, packet.eop, packet.bytes);
}

void Capture::AddTimeCode(int device, std::uint8_t time_code)
{
    Add(CaptureKind::TimeCode, device, VANTOR_EOP_NONE, std::span<const std::uint8_t>(&time_code, 1));
}

void Capture::Flush()
{
    std::unique_lock<std::mutex> lock(mutex_);
    WriteBuffered(lock);
}

void Capture::WriteBuffered(std::unique_lock<std::mutex> &)
{
    // Whole records only ever reach the file; what cannot be written is let
    // go rather than left to grow.
    if (!buffer_.empty()) {
        WriteAll(fd_, buffer_.data(), buffer_.size());
        buffer_.clear();
    }
}

void Capture::FlushEverySecond()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; });
        WriteBuffered(lock);
    }
}

void CapturePacket(Capture *capture, CaptureKind kind, int device, const Packet &packet)
{
    if (capture != nullptr) {
        capture->AddPacket(kind, device, packet);
    }
}

void CaptureTimeCode(Capture *capture, int device, std::uint8_t time_code)
{
    if (capture != nullptr) {
        capture->AddTimeCode(device, time_code);
    }
}

} // namespace vantor_sim
