// The buffer each reply of the interactive modes is read into.
#ifndef ZARK_INTERACTIVE_RECEIVE_BUFFER_H
#define ZARK_INTERACTIVE_RECEIVE_BUFFER_H

#include <cstdint>
#include <memory>

struct ReceiveBuffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    unsigned int size = 0;

    explicit operator bool() const { return bytes != nullptr; }
    std::uint8_t *data() const { return bytes.get(); }
};

// receive_buffer_size bytes, left uninitialised (the device fills them), or
// an empty buffer when they cannot be had.  Never throws.
ReceiveBuffer AllocateReceiveBuffer();

// How many of the bytes a read reported can be trusted to lie in the buffer.
int ReceivedLength(const ReceiveBuffer &buffer, unsigned long long reported_length);

#endif
