#include "target_memory.h"

#include <algorithm>
#include <cstring>

namespace vantor_sim {

TargetMemory::Page &TargetMemory::PageFor(std::uint64_t address)
{
    std::unique_ptr<Page> &page = pages_[(address & kAddressMask) >> kPageBits];
    if (!page) {
        // A fresh page starts with the bytes an unwritten address reads as.
        page = std::make_unique<Page>();
        const std::uint64_t base = address & kAddressMask & ~(kPageSize - 1);
        for (std::size_t i = 0; i < page->size(); ++i) {
            (*page)[i] = Unwritten(base + i);
        }
    }
    return *page;
}

std::uint8_t TargetMemory::Unwritten(std::uint64_t address) const
{
    if (!backgrounds_.empty()) {
        auto after = std::upper_bound(backgrounds_.begin(), backgrounds_.end(), address,
                                      [](std::uint64_t at, const Background &b) { return at < b.start; });
        if (after != backgrounds_.begin() && address < std::prev(after)->end) {
            return std::prev(after)->byte;
        }
    }
    return static_cast<std::uint8_t>(address);
}

void TargetMemory::SetBackground(std::uint64_t start, std::uint64_t length, std::uint8_t byte)
{
    Background added{start, start + length, byte};
    auto at = std::upper_bound(backgrounds_.begin(), backgrounds_.end(), start,
                               [](std::uint64_t s, const Background &b) { return s < b.start; });
    backgrounds_.insert(at, added);
}

std::uint8_t TargetMemory::Read(std::uint64_t address) const
{
    address &= kAddressMask;
    auto page = pages_.find(address >> kPageBits);
    if (page == pages_.end()) {
        return Unwritten(address);
    }
    return (*page->second)[address & (kPageSize - 1)];
}

void TargetMemory::Write(std::uint64_t address, std::uint8_t value)
{
    PageFor(address)[address & (kPageSize - 1)] = value;
}

void TargetMemory::ReadBlock(std::uint64_t address, std::span<std::uint8_t> bytes) const
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::uint64_t at = (address + done) & kAddressMask;
        std::uint64_t offset = at & (kPageSize - 1);
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize - offset, bytes.size() - done));
        auto page = pages_.find(at >> kPageBits);
        for (std::size_t i = 0; i < chunk; ++i) {
            bytes[done + i] = page == pages_.end() ? Unwritten(at + i) : (*page->second)[offset + i];
        }
        done += chunk;
    }
}

void TargetMemory::WriteBlock(std::uint64_t address, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::uint64_t at = (address + done) & kAddressMask;
        std::uint64_t offset = at & (kPageSize - 1);
        std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(kPageSize - offset, bytes.size() - done));
        std::memcpy(PageFor(at).data() + offset, bytes.data() + done, chunk);
        done += chunk;
    }
}

} // namespace vantor_sim
