// RMAP_CheckPacketValid and every accessor on arbitrary bytes.
//
// Input: the bytes of one packet, as received.
//
// The description starts as garbage, so that a field the check leaves unset
// shows: every pointer it hands out, valid packet or not, must lie inside the
// packet, and every byte it points at is read, for AddressSanitizer to judge.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "device/quill_rmap.h"
#include "fuzz/support.h"

namespace {

bool Within(const std::uint8_t *data, std::size_t size, const unsigned char *pointer, unsigned long long count)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(data), at = reinterpret_cast<std::uintptr_t>(pointer);
    return count == 0 || (at >= begin && at - begin <= size && count <= size - (at - begin));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 0xFFFFFFFFu) {
        return -1;
    }
    const auto length = static_cast<unsigned int>(size);
    RmapPacketInfo info;
    std::memset(&info, 0xA5, sizeof info);
    RMAP_CheckPacketValid(data, length, &info, 1);
    RMAP_CheckPacketValid(data, length, nullptr, 1);
    // The program writes through these after building a packet only.
    FUZZ_CHECK(info.header_crc_location == nullptr && info.data_crc_location == nullptr);

    unsigned long long reply_length = 0, target_length = 0;
    unsigned int data_count = 0;
    const unsigned char *reply = RMAP_GetReplyAddress(&info, &reply_length);
    const unsigned char *target = RMAP_GetTargetAddress(&info, &target_length);
    const unsigned char *bytes = RMAP_GetData(&info, &data_count);
    FUZZ_CHECK(Within(data, size, reply, reply_length) && Within(data, size, target, target_length) &&
               Within(data, size, bytes, data_count));
    volatile unsigned sink = RMAP_GetPacketType(&info) + RMAP_GetVerifyBeforeWrite(&info) +
                             RMAP_GetIncrementAddress(&info) + RMAP_GetStatus(&info) +
                             RMAP_GetTransactionID(&info) + RMAP_GetHeaderCRC(&info) + RMAP_GetDataCRC(&info);
    for (const auto &[pointer, count] : {std::pair{reply, reply_length}, {target, target_length}, {bytes, data_count}}) {
        for (unsigned long long i = 0; i < count; ++i) {
            sink = sink + pointer[i];
        }
    }
    return 0;
}
