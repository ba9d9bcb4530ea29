#include "common/expansion_limit.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The machine's memory.  What is free at the moment would make the same list
// run or be refused depending on what else the machine is doing.
std::uint64_t PhysicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) {
        return kUnlimited;
    }
    return SaturatingMultiply(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size));
}

std::uint64_t ProcessLimit(int resource)
{
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kUnlimited;
    }
    return limit.rlim_cur;
}

} // namespace

std::uint64_t ExpansionMemoryLimit()
{
    const std::uint64_t memory = std::min({PhysicalMemory(), ProcessLimit(RLIMIT_AS), ProcessLimit(RLIMIT_DATA)});
    return memory / 2;
}
