#include "target_memory.h"

namespace vantor_sim {

std::uint8_t TargetMemory::Read(std::uint64_t address) const
{
    address &= kAddressMask;
    auto page = pages_.find(address >> kPageBits);
    if (page == pages_.end()) {
        return static_cast<std::uint8_t>(address);
    }
    return (*page->second)[address & ((std::uint64_t{1} << kPageBits) - 1)];
}

void TargetMemory::Write(std::uint64_t address, std::uint8_t value)
{
    address &= kAddressMask;
    std::unique_ptr<Page> &page = pages_[address >> kPageBits];
    if (!page) {
        // A fresh page starts with the bytes an unwritten address reads as.
        page = std::make_unique<Page>();
        for (std::size_t i = 0; i < page->size(); ++i) {
            (*page)[i] = static_cast<std::uint8_t>(i);
        }
    }
    (*page)[address & ((std::uint64_t{1} << kPageBits) - 1)] = value;
}

} // namespace vantor_sim
