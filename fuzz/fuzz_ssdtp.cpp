// SSDTP2 deframing (vantor_sim::SsdtpDeframer) on arbitrary byte streams.
//
// Input:
//   bytes 0, 1  the packet limit, most significant byte first, modulo 4097:
//               0 to 4096 bytes, small so that the limit is often reached
//   bytes 2..5  the cut pattern: the stream is fed in pieces of these lengths
//               in turn, 0 being a call with no bytes (all four 0: pieces of
//               one byte)
//   then        the stream
//
// Properties:
// - fed in one call or in pieces, the stream gives the same events, the same
//   result, the same error and the same MidPacket(); once Feed has returned
//   false it returns false at once for every later call, and Error() says why
//   exactly when Feed has returned false;
// - the events and the result are those of a plain reader of the whole stream
//   written here from the frame format;
// - no packet is larger than the limit, and what the deframer allocates and
//   keeps, delivered packets included, is at most twice the bytes that arrived
//   (vector growth) and a little more for the error message;
// - the events re-encoded, each packet cut into fragments by the cut pattern
//   with link-speed frames between them, decode to the same events.
// The allocation bound is checked where the sanitizer's allocator hooks
// exist: in the libFuzzer build, not in the replay the test suites run.
#if ZARK_FUZZ_ALLOCATION_HOOKS
#include <sanitizer/allocator_interface.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "ssdtp.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Stream = std::span<const std::uint8_t>;
using Events = std::vector<vantor_sim::SsdtpEvent>;
using Cuts = std::array<std::size_t, 4>;
using vantor_sim::kSsdtpHeaderBytes;

constexpr std::uint64_t kMostLimit = 4096;
constexpr std::int64_t kMessageRoom = 256;

// Bytes allocated and not yet freed while the deframer runs, on this thread;
// counted only where the hooks exist.
#if ZARK_FUZZ_ALLOCATION_HOOKS
constexpr bool kAllocationsCounted = true;
#else
constexpr bool kAllocationsCounted = false;
#endif
thread_local bool tracking = false;
thread_local std::int64_t held = 0;

#if ZARK_FUZZ_ALLOCATION_HOOKS
void OnMalloc(const volatile void *, std::size_t size)
{
    if (tracking) {
        held += static_cast<std::int64_t>(size);
    }
}

void OnFree(const volatile void *pointer)
{
    if (tracking && pointer != nullptr) {
        held -= static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void *>(pointer)));
    }
}

#endif

struct Outcome {
    Events events;
    bool ok = true;
    std::string error;
    bool mid_packet = false;
};

bool SameEvents(const Events &a, const Events &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
        if (x.kind != y.kind) {
            return false;
        }
        if (x.kind == vantor_sim::SsdtpEvent::Kind::TimeCode) {
            return x.time_code == y.time_code;
        }
        return x.packet.bytes == y.packet.bytes && x.packet.eop == y.packet.eop;
    });
}

// Feeds the pieces and checks every call against the ones before it.
Outcome Feed(Stream stream, std::uint64_t limit, const Cuts &cuts)
{
    vantor_sim::SsdtpDeframer deframer(limit);
    Outcome out;
    std::size_t at = 0;
    std::size_t turn = 0;
    held = 0;
    do {
        const std::size_t length = std::min(cuts[turn++ % cuts.size()], stream.size() - at);
        const std::size_t before = out.events.size();
        // Room for every event the piece can complete, so that only the
        // deframer allocates below.
        out.events.reserve(before + length / kSsdtpHeaderBytes + 2);
        tracking = true;
        const bool ok = deframer.Feed(stream.subspan(at, length), out.events);
        tracking = false;
        at += length;
        FUZZ_CHECK(!kAllocationsCounted || held <= 2 * static_cast<std::int64_t>(at) + kMessageRoom);
        FUZZ_CHECK(ok == deframer.Error().empty());
        if (!out.ok) {
            FUZZ_CHECK(!ok && out.events.size() == before && deframer.Error() == out.error);
        }
        out.ok = ok;
        out.error = deframer.Error();
    } while (at < stream.size());
    out.mid_packet = deframer.MidPacket();
    // An empty call changes nothing; a byte after a failure is refused.
    const std::size_t count = out.events.size();
    FUZZ_CHECK(deframer.Feed({}, out.events) == out.ok && out.events.size() == count);
    if (!out.ok) {
        const std::uint8_t byte = 0;
        FUZZ_CHECK(!deframer.Feed(Stream(&byte, 1), out.events) && out.events.size() == count);
    }
    return out;
}

// The frames of the stream read one after another, straight from the format.
Outcome Read(Stream stream, std::uint64_t limit)
{
    Outcome out;
    Bytes packet;
    std::size_t at = 0;
    while (stream.size() - at >= kSsdtpHeaderBytes) {
        const std::uint8_t *header = &stream[at];
        const std::uint8_t flag = header[0];
        std::uint64_t size = 0;
        for (std::size_t i = 4; i < kSsdtpHeaderBytes; ++i) {
            size = size << 8 | header[i];
        }
        const bool data = flag <= 0x02;
        const bool control = flag == 0x30 || flag == 0x31 || flag == 0x38;
        if (header[1] != 0 || header[2] != 0 || header[3] != 0 || !(data || control) ||
            (data && size > limit - packet.size()) || (control && size != 2)) {
            out.ok = false;
            return out;
        }
        at += kSsdtpHeaderBytes;
        if (stream.size() - at < size) {
            return out;
        }
        const Stream payload = stream.subspan(at, static_cast<std::size_t>(size));
        at += payload.size();
        vantor_sim::SsdtpEvent event;
        if (data) {
            packet.insert(packet.end(), payload.begin(), payload.end());
            if (flag == 0x02) {
                continue;
            }
            event.packet.bytes = std::move(packet);
            event.packet.eop = flag == 0x00 ? VANTOR_EOP_EOP : VANTOR_EOP_EEP;
            packet.clear();
        } else if (flag == 0x38) {
            continue;
        } else {
            event.kind = vantor_sim::SsdtpEvent::Kind::TimeCode;
            event.time_code = payload[0];
        }
        out.events.push_back(std::move(event));
    }
    return out;
}

void AppendFrame(Bytes &out, std::uint8_t flag, Stream payload)
{
    const auto header = vantor_sim::SsdtpHeader(flag, payload.size());
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes Encode(const Events &events, const Cuts &cuts)
{
    static constexpr std::uint8_t kSpeed[] = {0x00, 0x0a};
    Bytes out;
    for (std::size_t e = 0; e < events.size(); ++e) {
        const vantor_sim::SsdtpEvent &event = events[e];
        if (event.kind == vantor_sim::SsdtpEvent::Kind::TimeCode) {
            const std::uint8_t payload[] = {event.time_code, 0x00};
            AppendFrame(out, e % 2 == 0 ? vantor_sim::kSsdtpTimeCode : vantor_sim::kSsdtpTimeCodeAlternate, payload);
            continue;
        }
        Stream rest(event.packet.bytes);
        for (std::size_t cut : cuts) {
            if (cut >= rest.size()) {
                break;
            }
            AppendFrame(out, vantor_sim::kSsdtpFragment, rest.first(cut));
            AppendFrame(out, vantor_sim::kSsdtpLinkSpeed, kSpeed);
            rest = rest.subspan(cut);
        }
        vantor_sim::AppendSsdtpPacket(out, rest, event.packet.eop);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
#if ZARK_FUZZ_ALLOCATION_HOOKS
    FUZZ_CHECK(__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0);
#endif
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 6) {
        return -1;
    }
    const std::uint64_t limit = ((std::uint64_t{data[0]} << 8) | data[1]) % (kMostLimit + 1);
    Cuts cuts = {data[2], data[3], data[4], data[5]};
    if (std::all_of(cuts.begin(), cuts.end(), [](std::size_t cut) { return cut == 0; })) {
        cuts = {1, 1, 1, 1};
    }
    const Stream stream(data + 6, size - 6);

    const Outcome whole = Feed(stream, limit, {stream.size(), 0, 0, 0});
    const Outcome pieces = Feed(stream, limit, cuts);
    FUZZ_CHECK(SameEvents(whole.events, pieces.events));
    FUZZ_CHECK(whole.ok == pieces.ok && whole.error == pieces.error && whole.mid_packet == pieces.mid_packet);

    const Outcome read = Read(stream, limit);
    FUZZ_CHECK(SameEvents(whole.events, read.events) && whole.ok == read.ok);
    for (const vantor_sim::SsdtpEvent &event : whole.events) {
        FUZZ_CHECK(event.kind == vantor_sim::SsdtpEvent::Kind::TimeCode || event.packet.bytes.size() <= limit);
    }

    const Bytes again = Encode(whole.events, cuts);
    const Outcome decoded = Feed(again, limit, {again.size(), 0, 0, 0});
    FUZZ_CHECK(decoded.ok && !decoded.mid_packet && SameEvents(whole.events, decoded.events));
    return 0;
}
