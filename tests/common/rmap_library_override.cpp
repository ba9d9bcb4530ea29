#include "rmap_library_override.h"

#include <cstdlib>
#include <dlfcn.h>

#include "device/quill_rmap.h"

namespace {

std::optional<int> forced_type;
std::optional<unsigned int> forced_data_count;

template <typename Function>
Function Next(const char *name)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        std::abort();
    }
    return reinterpret_cast<Function>(symbol);
}

} // namespace

void ForceRmapPacketType(std::optional<int> type) { forced_type = type; }
void ForceRmapDataCount(std::optional<unsigned int> count) { forced_data_count = count; }

// Defined in the test program, these take precedence over the shared library's.
extern "C" int RMAP_GetPacketType(const RmapPacketInfo *info)
{
    static const auto next = Next<int (*)(const RmapPacketInfo *)>("RMAP_GetPacketType");
    return forced_type ? *forced_type : next(info);
}

extern "C" const unsigned char *RMAP_GetData(const RmapPacketInfo *info, unsigned int *length)
{
    static const auto next = Next<const unsigned char *(*)(const RmapPacketInfo *, unsigned int *)>("RMAP_GetData");
    const unsigned char *data = next(info, length);
    if (forced_data_count && length != nullptr) {
        *length = *forced_data_count;
    }
    return data;
}
