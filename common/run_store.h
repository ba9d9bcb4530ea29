// What each execution of a command-stream run holds, kept in run order at
// addresses that never move: the device writes into it while the run goes
// on.  Kept in blocks, so that millions of executions need neither an
// allocation each nor one contiguous stretch of memory.
#ifndef ZARK_COMMON_RUN_STORE_H
#define ZARK_COMMON_RUN_STORE_H

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

template <typename Run>
class RunStore {
public:
    // A new entry at the end, value-initialised; null when memory runs out.
    Run *Add()
    {
        if (size_ == blocks_.size() * kBlock) {
            try {
                if (blocks_.size() == blocks_.capacity()) {
                    blocks_.reserve(2 * blocks_.size() + 8);
                }
                std::unique_ptr<Run[]> block(new (std::nothrow) Run[kBlock]());
                if (!block) {
                    return nullptr;
                }
                blocks_.push_back(std::move(block));
            } catch (const std::bad_alloc &) {
                return nullptr;
            }
        }
        Run *added = &(*this)[size_];
        ++size_;
        return added;
    }

    Run &operator[](std::size_t index) { return blocks_[index / kBlock][index % kBlock]; }
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t kBlock = 16384;
    std::vector<std::unique_ptr<Run[]>> blocks_;
    std::size_t size_ = 0;
};

#endif
