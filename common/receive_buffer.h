// The buffer a packet or reply is read into.
#ifndef ZARK_COMMON_RECEIVE_BUFFER_H
#define ZARK_COMMON_RECEIVE_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

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
int ReceivedLength(unsigned int buffer_size, unsigned long long reported_length);

// Buffers for the many reads of one run, cut one after the other from large
// blocks that are left uninitialised: millions of small replies then cost
// neither an allocation each nor the allocator's header.  A large buffer
// gets a block of its own, so that its pages are touched only by what comes.
class ReceiveArena {
public:
    // size bytes that live as long as the arena; null when size is 0, does
    // not fit the device's 32-bit sizes, or cannot be had.  Never throws.
    std::uint8_t *Take(std::uint64_t size);

private:
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
    std::uint8_t *free_ = nullptr;
    std::size_t left_ = 0;
};

#endif
