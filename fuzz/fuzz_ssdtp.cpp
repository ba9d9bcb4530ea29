// SSDTP2 deframing (vantor_sim::SsdtpDeframer) on arbitrary byte streams.
//
// Input:
//   bytes 0, 1  the packet limit, most significant first, modulo 4097
//   bytes 2..5  the cut pattern: after one call with the whole stream, it is
//               fed again in pieces of these lengths in turn, 0 being a call
//               with no bytes (all four 0: pieces of one byte)
//   then        the stream
// No packet exceeds the limit, and what the deframer allocates and keeps is
// at most twice the bytes that arrived (vector growth) and room for its
// message: checked in the libFuzzer build, where the allocator hooks exist.
#ifndef ZARK_FUZZ_ALLOCATION_HOOKS
#define ZARK_FUZZ_ALLOCATION_HOOKS 0
#endif
#if ZARK_FUZZ_ALLOCATION_HOOKS
#include <sanitizer/allocator_interface.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/support.h"
#include "ssdtp.h"

namespace {

using Cuts = std::array<std::size_t, 4>;

thread_local bool tracking = false;
thread_local std::int64_t held = 0;

#if ZARK_FUZZ_ALLOCATION_HOOKS
void OnMalloc(const volatile void *, std::size_t size) { held += tracking ? static_cast<std::int64_t>(size) : 0; }

void OnFree(const volatile void *pointer)
{
    if (tracking && pointer != nullptr) {
        held -= static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<const void *>(pointer)));
    }
}
#endif

void Feed(std::span<const std::uint8_t> stream, std::uint64_t limit, const Cuts &cuts)
{
    vantor_sim::SsdtpDeframer deframer(limit);
    std::vector<vantor_sim::SsdtpEvent> events;
    std::size_t at = 0;
    std::size_t turn = 0;
    held = 0;
    do {
        const std::size_t length = std::min(cuts[turn++ % cuts.size()], stream.size() - at);
        // Room for every event the piece can complete: only the deframer allocates below.
        events.reserve(events.size() + length / vantor_sim::kSsdtpHeaderBytes + 2);
        tracking = true;
        deframer.Feed(stream.subspan(at, length), events);
        tracking = false;
        at += length;
        FUZZ_CHECK(!ZARK_FUZZ_ALLOCATION_HOOKS || held <= 2 * static_cast<std::int64_t>(at) + 256);
    } while (at < stream.size());
    static_cast<void>(deframer.MidPacket());
    for (const vantor_sim::SsdtpEvent &event : events) {
        FUZZ_CHECK(event.packet.bytes.size() <= limit);
    }
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
    const std::uint64_t limit = ((std::uint64_t{data[0]} << 8) | data[1]) % 4097;
    Cuts cuts = {data[2], data[3], data[4], data[5]};
    cuts = cuts == Cuts{} ? Cuts{1, 1, 1, 1} : cuts;
    const std::span<const std::uint8_t> stream(data + 6, size - 6);
    Feed(stream, limit, {stream.size(), 0, 0, 0});
    Feed(stream, limit, cuts);
    return 0;
}
