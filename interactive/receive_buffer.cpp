#include "interactive/receive_buffer.h"

#include <new>

#include "app/settings.h"

ReceiveBuffer AllocateReceiveBuffer()
{
    ReceiveBuffer buffer;
    if (receive_buffer_size <= 0) {
        return buffer;
    }
    // Not value-initialised: a large -receive_buf must not touch every page up front.
    buffer.bytes.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(receive_buffer_size)]);
    if (buffer.bytes) {
        buffer.size = static_cast<unsigned int>(receive_buffer_size);
    }
    return buffer;
}

int ReceivedLength(const ReceiveBuffer &buffer, unsigned long long reported_length)
{
    // The adapter never reports more than it was given room for; should it,
    // only the buffer's own bytes are shown.
    if (reported_length > buffer.size) {
        return static_cast<int>(buffer.size);
    }
    return static_cast<int>(reported_length);
}
