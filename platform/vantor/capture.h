// The capture=PATH file: every packet sent and delivered, and every time-code
// a bridge's peer sent, as a pcap file that Wireshark opens.
//
// The file header gives nanosecond timestamps (magic a1b23c4d), version 2.4
// and link type 147 (USER0, since SpaceWire has no registered link type).
// Each record's data is a 4-byte pseudo-header, then the packet's bytes
// exactly (a time-code record carries its one byte):
//   byte 0  version of the pseudo-header: 1
//   byte 1  kind: 0 sent by the device (in the node: received from it),
//           1 delivered to the device (in the node: sent back), 2 time-code
//   byte 2  end of packet: 0x80 EOP, 0x40 EEP, 0 none (0 for time-codes)
//   byte 3  device number (in the node: the link number)
// For example a read command sent on device 0, ended by EOP:
//   01 00 80 00  fe 01 4c 00 20 00 00 00 00 00 00 00 00 04 xx
// Records longer than 262,144 bytes keep their first 262,144 bytes (the
// largest record readers accept); the record's original length stays whole.
//
// Whole records reach the file at least once a second and at the end, so a
// reader never sees half of one, even after the process was killed.
#ifndef ZARK_PLATFORM_VANTOR_CAPTURE_H
#define ZARK_PLATFORM_VANTOR_CAPTURE_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "vantor_sim_control.h"

namespace vantor_sim {

enum class CaptureKind : std::uint8_t { Sent = 0, Delivered = 1, TimeCode = 2 };

inline constexpr std::uint32_t kCaptureLinkType = 147;
inline constexpr std::size_t kCaptureSnapLength = 262144;
inline constexpr std::uint8_t kCapturePseudoHeaderVersion = 1;

class Capture {
public:
    // Null, with errno telling why, when the file cannot be created.
    static std::unique_ptr<Capture> Open(const std::string &path);
    ~Capture();
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;

    void AddPacket(CaptureKind kind, int device, const Packet &packet);
    void AddTimeCode(int device, std::uint8_t time_code);
    // Writes what is buffered now.
    void Flush();

private:
    explicit Capture(int fd);
    void Add(CaptureKind kind, int device, std::int32_t eop, std::span<const std::uint8_t> bytes);
    void WriteBuffered(std::unique_lock<std::mutex> &lock);
    void FlushEverySecond();

    int fd_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::uint8_t> buffer_;
    std::thread flusher_;
};

// Both do nothing when capture is null.
void CapturePacket(Capture *capture, CaptureKind kind, int device, const Packet &packet);
void CaptureTimeCode(Capture *capture, int device, std::uint8_t time_code);

} // namespace vantor_sim

#endif
