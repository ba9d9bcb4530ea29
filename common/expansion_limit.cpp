#include "common/expansion_limit.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kUnlimited - b ? kUnlimited : a + b; }

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b)
{
    if (a != 0 && b > kUnlimited / a) {
        return kUnlimited;
    }
    return a * b;
}

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

void ExpansionSizer::AddCommand(std::uint64_t bytes, const void *) { Finish(bytes); }

void ExpansionSizer::AddLoop(std::uint64_t bytes, std::uint64_t number_to_repeat, std::uint64_t times_to_repeat,
                             const void *tag)
{
    if (number_to_repeat == 0) {
        Finish(bytes);
        return;
    }
    const bool dropped = times_to_repeat == 0 || (!open_.empty() && open_.back().dropped);
    open_.push_back(OpenLoop{tag, number_to_repeat, times_to_repeat, bytes, 0, dropped});
}

// A command or a whole loop is complete: it counts towards the body it stands
// in, and every loop whose body it completes is complete in turn.
void ExpansionSizer::Finish(std::uint64_t bytes)
{
    // Each repetition also takes the slot that holds it.
    constexpr std::uint64_t kRepetitionSlot = sizeof(void *);
    while (!open_.empty()) {
        OpenLoop &loop = open_.back();
        loop.body_bytes = SaturatingAdd(loop.body_bytes, bytes);
        if (--loop.remaining > 0) {
            return;
        }
        const OpenLoop finished = loop;
        open_.pop_back();
        const std::uint64_t repetitions =
            SaturatingMultiply(SaturatingAdd(finished.body_bytes, kRepetitionSlot), finished.times);
        bytes = SaturatingAdd(finished.own_bytes, repetitions);
        const bool over = bytes > limit_ || SaturatingAdd(total_, bytes) > limit_;
        if (over && !finished.dropped && oversized_ == nullptr) {
            oversized_ = finished.tag;
        }
    }
    total_ = SaturatingAdd(total_, bytes);
}
