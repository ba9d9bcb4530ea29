// Packets that arrived while no read was pending, oldest first.  A soak run
// on the loopback can leave millions of them, so each is kept as its bytes
// in one shared run of bytes and a small entry, not as an object of its own.
#ifndef ZARK_PLATFORM_VANTOR_PACKET_QUEUE_H
#define ZARK_PLATFORM_VANTOR_PACKET_QUEUE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace vantor_sim {

class PacketQueue {
public:
    void Push(std::span<const std::uint8_t> bytes, int eop);
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    // The oldest packet; its bytes stay valid until the next Push or Pop.
    std::span<const std::uint8_t> FrontBytes() const;
    int FrontEop() const { return entries_.front().eop; }
    void Pop();
    void clear();

private:
    struct Entry {
        std::uint64_t length;
        int eop;
    };
    std::deque<Entry> entries_;
    std::vector<std::uint8_t> bytes_; // every queued packet's bytes, back to back, from head_ on
    std::size_t head_ = 0;
};

} // namespace vantor_sim

#endif
