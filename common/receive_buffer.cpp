#include "common/receive_buffer.h"

#include <limits>
#include <new>

ReceiveBuffer AllocateReceiveBuffer(std::uint64_t size)
{
    ReceiveBuffer buffer;
    if (size == 0 || size > std::numeric_limits<unsigned int>::max()) {
        return buffer;
    }
    buffer.bytes.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(size)]);
    if (buffer.bytes) {
        buffer.size = static_cast<unsigned int>(size);
    }
    return buffer;
}

int ReceivedLength(const ReceiveBuffer &buffer, unsigned long long reported_length)
{
    // The adapter never reports more than it was given room for; should it,
    // only the buffer's own bytes are used.
    if (reported_length > buffer.size) {
        return static_cast<int>(buffer.size);
    }
    return static_cast<int>(reported_length);
}
