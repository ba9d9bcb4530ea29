// SSDTP2: SpaceWire packets over a TCP byte stream, as SpaceWire-to-Ethernet
// bridges and open SpaceWire software exchange them.
//
// Every frame is a 12-byte header, then its payload:
//   byte 0      flag: 0x00 payload ends a packet with EOP
//                     0x01 payload ends a packet with EEP
//                     0x02 payload is a fragment; the next frames continue it
//                     0x30, 0x31 time-code (payload: the time-code byte, 0x00)
//                     0x38 link-speed control (payload: 2 bytes)
//   byte 1      reserved, 0x00
//   bytes 2-11  payload size, unsigned 80-bit, most significant byte first
//
// Example: the packet fe 01 ended by an EEP, sent as two fragments:
//   02 00 00 00 00 00 00 00 00 00 00 01  fe
//   01 00 00 00 00 00 00 00 00 00 00 01  01
// The end marker itself is never in a payload.
#ifndef ZARK_PLATFORM_VANTOR_SSDTP_H
#define ZARK_PLATFORM_VANTOR_SSDTP_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "vantor_sim_control.h"

namespace vantor_sim {

inline constexpr std::size_t kSsdtpHeaderBytes = 12;
inline constexpr std::uint8_t kSsdtpEop = 0x00;
inline constexpr std::uint8_t kSsdtpEep = 0x01;
inline constexpr std::uint8_t kSsdtpFragment = 0x02;
inline constexpr std::uint8_t kSsdtpTimeCode = 0x30;
inline constexpr std::uint8_t kSsdtpTimeCodeAlternate = 0x31;
inline constexpr std::uint8_t kSsdtpLinkSpeed = 0x38;
// Largest packet accepted from a peer unless configured otherwise.
inline constexpr std::uint64_t kDefaultPacketLimit = std::uint64_t{16} << 20;

// The header of a frame carrying `size` bytes with this flag.
std::array<std::uint8_t, kSsdtpHeaderBytes> SsdtpHeader(std::uint8_t flag, std::uint64_t size);
// Appends one whole frame for a packet: flag 0x00 for EOP, 0x01 otherwise.
void AppendSsdtpPacket(std::vector<std::uint8_t> &out, std::span<const std::uint8_t> bytes, int eop);

struct SsdtpEvent {
    enum class Kind { Packet, TimeCode };
    Kind kind = Kind::Packet;
    Packet packet;              // Kind::Packet: its bytes and VANTOR_EOP_EOP or VANTOR_EOP_EEP
    std::uint8_t time_code = 0; // Kind::TimeCode
};

// Turns the byte stream from a peer into packets and time-codes, whatever the
// boundaries at which the stream was cut.  Memory grows only with bytes that
// really arrived, never with a size a header merely claims, and a packet
// (all its fragments together) beyond the limit is refused.
class SsdtpDeframer {
public:
    explicit SsdtpDeframer(std::uint64_t packet_limit = kDefaultPacketLimit) : limit_(packet_limit) {}

    // Consumes bytes and appends what they complete to events.  False once the
    // stream is broken (unknown flag, reserved byte not 0, size beyond the
    // limit, control frame of the wrong size); Error() then says why, and
    // every later call returns false at once.
    bool Feed(std::span<const std::uint8_t> bytes, std::vector<SsdtpEvent> &events);

    // True while a frame or a fragmented packet has begun and not ended.
    bool MidPacket() const { return header_used_ > 0 || in_payload_ || !packet_.empty() || fragmented_; }
    const std::string &Error() const { return error_; }

private:
    bool StartFrame();
    void EndFrame(std::vector<SsdtpEvent> &events);
    bool Fail(std::string reason);

    std::uint64_t limit_;
    std::array<std::uint8_t, kSsdtpHeaderBytes> header_{};
    std::size_t header_used_ = 0;
    bool in_payload_ = false;
    std::uint8_t flag_ = 0;
    std::uint64_t remaining_ = 0;        // payload bytes of the current frame still to come
    std::vector<std::uint8_t> packet_;    // the packet being assembled
    std::array<std::uint8_t, 2> control_{}; // payload of a time-code or link-speed frame
    std::size_t control_used_ = 0;
    bool fragmented_ = false; // a 0x02 frame began the current packet
    std::string error_;
};

} // namespace vantor_sim

#endif
