// Lets a test make the RMAP library's answers something our codec never gives
// (packet type 255, a data count beyond the bytes received), to check that
// the reply display copes with any library.  Off by default: the calls then
// go through to the library unchanged.
#ifndef ZARK_TESTS_COMMON_RMAP_LIBRARY_OVERRIDE_H
#define ZARK_TESTS_COMMON_RMAP_LIBRARY_OVERRIDE_H

#include <optional>

void ForceRmapPacketType(std::optional<int> type);
void ForceRmapDataCount(std::optional<unsigned int> count);

// Restores the library's own answers when it goes out of scope.
class RmapOverrideGuard {
public:
    RmapOverrideGuard() = default;
    ~RmapOverrideGuard()
    {
        ForceRmapPacketType(std::nullopt);
        ForceRmapDataCount(std::nullopt);
    }
    RmapOverrideGuard(const RmapOverrideGuard &) = delete;
    RmapOverrideGuard &operator=(const RmapOverrideGuard &) = delete;
};

#endif
