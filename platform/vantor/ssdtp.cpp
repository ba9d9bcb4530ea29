#include "ssdtp.h"

#include <algorithm>
#include <cstdio>

namespace vantor_sim {
namespace {

constexpr std::size_t kSizeAt = 2;
constexpr std::size_t kControlPayloadBytes = 2;

std::string Hex(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

} // namespace

std::array<std::uint8_t, kSsdtpHeaderBytes> SsdtpHeader(std::uint8_t flag, std::uint64_t size)
{
    std::array<std::uint8_t, kSsdtpHeaderBytes> header{};
    header[0] = flag;
    for (std::size_t i = 0; i < 8; ++i) {
        header[kSsdtpHeaderBytes - 1 - i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    return header;
}

void AppendSsdtpPacket(std::vector<std::uint8_t> &out, std::span<const std::uint8_t> bytes, int eop)
{
    const auto header = SsdtpHeader(eop == VANTOR_EOP_EOP ? kSsdtpEop : kSsdtpEep, bytes.size());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), bytes.begin(), bytes.end());
}

bool SsdtpDeframer::Fail(std::string reason)
{
    error_ = std::move(reason);
    packet_ = {};
    return false;
}

bool SsdtpDeframer::StartFrame()
{
    flag_ = header_[0];
    if (header_[1] != 0) {
        return Fail("reserved header byte " + Hex(header_[1]) + " is not 0");
    }
    // Sizes beyond 64 bits can only be beyond the limit too.
    bool huge = header_[kSizeAt] != 0 || header_[kSizeAt + 1] != 0;
    std::uint64_t size = 0;
    for (std::size_t i = kSizeAt + 2; i < kSsdtpHeaderBytes; ++i) {
        size = (size << 8) | header_[i];
    }
    switch (flag_) {
    case kSsdtpEop:
    case kSsdtpEep:
    case kSsdtpFragment:
        if (huge || size > limit_ - packet_.size()) {
            return Fail("packet larger than the limit of " + std::to_string(limit_) + " bytes");
        }
        break;
    case kSsdtpTimeCode:
    case kSsdtpTimeCodeAlternate:
    case kSsdtpLinkSpeed:
        if (huge || size != kControlPayloadBytes) {
            return Fail(std::string(flag_ == kSsdtpLinkSpeed ? "link-speed" : "time-code") +
                        " frame whose payload is not 2 bytes");
        }
        // Time-codes may come between the fragments of a packet, as they do
        // between the characters of a packet on a SpaceWire link.
        control_used_ = 0;
        break;
    default:
        return Fail("unknown frame flag " + Hex(flag_));
    }
    remaining_ = size;
    in_payload_ = true;
    return true;
}

void SsdtpDeframer::EndFrame(std::vector<SsdtpEvent> &events)
{
    in_payload_ = false;
    header_used_ = 0;
    switch (flag_) {
    case kSsdtpFragment:
        fragmented_ = true;
        return;
    case kSsdtpEop:
    case kSsdtpEep: {
        SsdtpEvent event;
        event.packet.bytes = std::move(packet_);
        event.packet.eop = flag_ == kSsdtpEop ? VANTOR_EOP_EOP : VANTOR_EOP_EEP;
        events.push_back(std::move(event));
        packet_ = {};
        fragmented_ = false;
        return;
    }
    case kSsdtpLinkSpeed:
        return; // nothing for the device to see
    default: {
        SsdtpEvent event;
        event.kind = SsdtpEvent::Kind::TimeCode;
        event.time_code = control_[0];
        events.push_back(std::move(event));
        return;
    }
    }
}

bool SsdtpDeframer::Feed(std::span<const std::uint8_t> bytes, std::vector<SsdtpEvent> &events)
{
    if (!error_.empty()) {
        return false;
    }
    while (!bytes.empty() || (in_payload_ && remaining_ == 0)) {
        if (!in_payload_) {
            const std::size_t take = std::min(bytes.size(), kSsdtpHeaderBytes - header_used_);
            std::copy_n(bytes.begin(), take, header_.begin() + static_cast<std::ptrdiff_t>(header_used_));
            header_used_ += take;
            bytes = bytes.subspan(take);
            if (header_used_ < kSsdtpHeaderBytes || !StartFrame()) {
                return error_.empty();
            }
            continue;
        }
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), remaining_));
        if (flag_ == kSsdtpTimeCode || flag_ == kSsdtpTimeCodeAlternate || flag_ == kSsdtpLinkSpeed) {
            std::copy_n(bytes.begin(), take, control_.begin() + static_cast<std::ptrdiff_t>(control_used_));
            control_used_ += take;
        } else {
            packet_.insert(packet_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        }
        remaining_ -= take;
        bytes = bytes.subspan(take);
        if (remaining_ == 0) {
            EndFrame(events);
        }
    }
    return true;
}

} // namespace vantor_sim
