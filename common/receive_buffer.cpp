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
    return ReceivedLength(buffer.size, reported_length);
}

int ReceivedLength(unsigned int buffer_size, unsigned long long reported_length)
{
    // The adapter never reports more than it was given room for; should it,
    // only the buffer's own bytes are used.
    if (reported_length > buffer_size) {
        return static_cast<int>(buffer_size);
    }
    return static_cast<int>(reported_length);
}

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kOwnBlockFrom = kBlockBytes / 16;

} // namespace

std::uint8_t *ReceiveArena::Take(std::uint64_t size)
{
    if (size == 0 || size > std::numeric_limits<unsigned int>::max()) {
        return nullptr;
    }
    const auto bytes = static_cast<std::size_t>(size);
    try {
        // Room for one more block first, so that a block is never had and then lost.
        if (blocks_.size() == blocks_.capacity()) {
            blocks_.reserve(2 * blocks_.size() + 8);
        }
        if (bytes >= kOwnBlockFrom) {
            std::uint8_t *own = new (std::nothrow) std::uint8_t[bytes];
            if (own != nullptr) {
                blocks_.emplace_back(own);
            }
            return own;
        }
        if (bytes > left_) {
            std::uint8_t *block = new (std::nothrow) std::uint8_t[kBlockBytes];
            if (block == nullptr) {
                return nullptr;
            }
            blocks_.emplace_back(block);
            free_ = block;
            left_ = kBlockBytes;
        }
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    std::uint8_t *taken = free_;
    free_ += bytes;
    left_ -= bytes;
    return taken;
}
