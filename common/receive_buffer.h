// The buffer a packet or reply is read into.
#ifndef ZARK_COMMON_RECEIVE_BUFFER_H
#define ZARK_COMMON_RECEIVE_BUFFER_H

#include <cstdint>
#include <memory>

struct ReceiveBuffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    unsigned int size = 0;

    explicit operator bool() const { return bytes != nullptr; }
    std::uint8_t *data() const { return bytes.get(); }
};

// size bytes, left uninitialised (the device fills them), so that a large
// buffer does not touch every page up front; an empty buffer when size is 0,
// does not fit the device's 32-bit sizes, or cannot be had.  Never throws.
ReceiveBuffer AllocateReceiveBuffer(std::uint64_t size);

// How many of the bytes a read reported can be trusted to lie in the buffer.
int ReceivedLength(const ReceiveBuffer &buffer, unsigned long long reported_length);

#endif
