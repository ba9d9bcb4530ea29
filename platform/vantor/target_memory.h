// The RMAP target's memory: 40-bit addresses, sparse.  A byte never written
// reads as the low 8 bits of its own address, so a read shows at a glance
// which bytes a test or a write has touched.
#ifndef ZARK_PLATFORM_VANTOR_TARGET_MEMORY_H
#define ZARK_PLATFORM_VANTOR_TARGET_MEMORY_H

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace vantor_sim {

inline constexpr std::uint64_t kAddressMask = (std::uint64_t{1} << 40) - 1;

class TargetMemory {
public:
    // Addresses are taken modulo 2^40.
    std::uint8_t Read(std::uint64_t address) const;
    void Write(std::uint64_t address, std::uint8_t value);
    void Clear() { pages_.clear(); }

private:
    static constexpr unsigned kPageBits = 12;
    using Page = std::array<std::uint8_t, std::size_t{1} << kPageBits>;
    std::unordered_map<std::uint64_t, std::unique_ptr<Page>> pages_;
};

} // namespace vantor_sim

#endif
