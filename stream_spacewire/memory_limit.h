// The most memory a single run can ever be given.
#ifndef ZARK_STREAM_SPACEWIRE_MEMORY_LIMIT_H
#define ZARK_STREAM_SPACEWIRE_MEMORY_LIMIT_H

#include <cstdint>

// Bytes of physical memory of the machine.  The system may promise more
// than this and then end the program when the memory is touched, so a
// request beyond it is treated as one that cannot be met.
std::uint64_t PhysicalMemoryBytes();

#endif
