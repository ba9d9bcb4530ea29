#include "packet_queue.h"

#include <algorithm>

namespace vantor_sim {

void PacketQueue::Push(std::span<const std::uint8_t> bytes, int eop)
{
    // Bytes already taken are dropped once they are most of the buffer, so
    // that it never grows past twice what is queued.
    if (head_ > 0 && head_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    entries_.push_back(Entry{bytes.size(), eop});
}

std::span<const std::uint8_t> PacketQueue::FrontBytes() const
{
    return {bytes_.data() + head_, static_cast<std::size_t>(entries_.front().length)};
}

void PacketQueue::Pop()
{
    head_ += static_cast<std::size_t>(entries_.front().length);
    entries_.pop_front();
    if (entries_.empty()) {
        clear();
    }
}

void PacketQueue::clear()
{
    entries_.clear();
    bytes_.clear();
    head_ = 0;
}

} // namespace vantor_sim
