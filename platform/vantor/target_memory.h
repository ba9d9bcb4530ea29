// The RMAP target's memory: 40-bit addresses, sparse.  A byte never written
// reads as the low 8 bits of its own address, so a read shows at a glance
// which bytes a test or a write has touched.
#ifndef ZARK_PLATFORM_VANTOR_TARGET_MEMORY_H
#define ZARK_PLATFORM_VANTOR_TARGET_MEMORY_H

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>

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

private:
    static constexpr unsigned kPageBits = 12;
    static constexpr std::uint64_t kPageSize = std::uint64_t{1} << kPageBits;
    using Page = std::array<std::uint8_t, kPageSize>;
    Page &PageFor(std::uint64_t address);
    std::unordered_map<std::uint64_t, std::unique_ptr<Page>> pages_;
};

} // namespace vantor_sim

#endif
