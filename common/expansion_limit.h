// How much memory the repetitions of a command list's loops may take, worked
// out before any of them is made (the sizing is in common/command_chain.h).
#ifndef ZARK_COMMON_EXPANSION_LIMIT_H
#define ZARK_COMMON_EXPANSION_LIMIT_H

#include <cstdint>
#include <limits>

// Bytes the expanded lists of one run may take: half of the machine's
// memory, and within the process's own memory limits.
std::uint64_t ExpansionMemoryLimit();

// Sizes that stop at the largest value instead of wrapping: anything that
// large is over every limit anyway.
inline std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b)
{
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    return a > kMost - b ? kMost : a + b;
}

inline std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b)
{
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    return a != 0 && b > kMost / a ? kMost : a * b;
}

#endif
