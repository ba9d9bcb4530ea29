// The RMAP target's memory: 40-bit addresses, sparse.  A byte never written
// reads as the low 8 bits of its own address, so a read shows at a glance
// which bytes a test or a write has touched, unless a background (a memory
// map's fill) gives it another first value.
#ifndef ZARK_PLATFORM_VANTOR_TARGET_MEMORY_H
#define ZARK_PLATFORM_VANTOR_TARGET_MEMORY_H

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace vantor_sim {

inline constexpr std::uint64_t kAddressMask = (std::uint64_t{1} << 40) - 1;

class TargetMemory {
public:
    // Addresses are taken modulo 2^40.
    std::uint8_t Read(std::uint64_t address) const;
    void Write(std::uint64_t address, std::uint8_t value);
    // Consecutive bytes from address on, wrapping at 2^40.
    void ReadBlock(std::uint64_t address, std::span<std::uint8_t> bytes) const;
    void WriteBlock(std::uint64_t address, std::span<const std::uint8_t> bytes);
    void Clear() { pages_.clear(); }
    // Bytes from start to start + length - 1 that were never written read as
    // byte.  Backgrounds must not overlap (a memory map's regions never do).
    void SetBackground(std::uint64_t start, std::uint64_t length, std::uint8_t byte);

private:
    static constexpr unsigned kPageBits = 12;
    static constexpr std::uint64_t kPageSize = std::uint64_t{1} << kPageBits;
    using Page = std::array<std::uint8_t, kPageSize>;
    struct Background {
        std::uint64_t start = 0;
        std::uint64_t end = 0; // one past the last byte
        std::uint8_t byte = 0;
    };
    Page &PageFor(std::uint64_t address);
    std::uint8_t Unwritten(std::uint64_t address) const;
    std::unordered_map<std::uint64_t, std::unique_ptr<Page>> pages_;
    std::vector<Background> backgrounds_; // in address order
};

} // namespace vantor_sim

#endif
