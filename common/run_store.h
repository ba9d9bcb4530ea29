// What each execution of a command-stream run holds, kept in run order at
// addresses that never move: the device writes into it while the run goes
// on.  Kept in blocks, so that millions of executions need neither an
// allocation each nor one contiguous stretch of memory.
#ifndef ZARK_COMMON_RUN_STORE_H
#define ZARK_COMMON_RUN_STORE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "common/command_chain.h"
#include "common/stream_run.h"
#include "device/vantor_api.h"

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

// The executions of one run on a device.  A mode's Run gives, beside it,
//   void ReleaseTransfers(DeviceHandle, Run &)   gives back every transfer
//                                                identifier the execution still
//                                                holds, and forgets them
// which is called for every execution when the runs go.
template <typename Run>
class DeviceRuns {
public:
    explicit DeviceRuns(DeviceHandle device) : device_(device) {}
    DeviceRuns(const DeviceRuns &) = delete;
    DeviceRuns &operator=(const DeviceRuns &) = delete;
    ~DeviceRuns() { ReleaseAll(); }

    // Gives back every identifier still held and lets the entries go; a
    // mode that keeps buffers beside the runs calls this before they go, as
    // the device writes into them.
    void ReleaseAll()
    {
        for (std::size_t i = 0; i < runs.size(); ++i) {
            ReleaseTransfers(device_, runs[i]);
        }
        runs = RunStore<Run>{};
    }

    DeviceHandle device() const { return device_; }

    // The next execution's entry; null, once the message is printed, when
    // memory runs out (which the limit checked before the run makes rare).
    Run *Add()
    {
        Run *added = runs.Add();
        if (added == nullptr) {
            ConsoleGuard console;
            std::puts("Could not allocate memory to expand the loops of the command list.");
        }
        return added;
    }

    RunStore<Run> runs;

private:
    DeviceHandle device_;
};

// The sending sweep of a run over a prepared chain, in run order: on_loop(loop)
// for a loop, and execute(record, entry, index) for any other record with a
// new entry of its own.  Stops once the run is interrupted, or when memory
// for an entry runs out, which counts one error.
template <typename Record, typename Run, typename Count, typename Execute, typename OnLoop>
void ExecuteInRunOrder(DeviceRuns<Run> &runs, Record *chain, Count &errors, Execute &&execute, OnLoop &&on_loop)
{
    bool out_of_memory = false;
    VisitInRunOrder(chain, [&](Record &record) {
        if (StreamRunInterrupted() || out_of_memory) {
            return;
        }
        if (IsLoop(record)) {
            on_loop(record);
            return;
        }
        Run *run = runs.Add();
        if (run == nullptr) {
            ++errors;
            out_of_memory = true;
            return;
        }
        execute(record, *run, static_cast<std::uint64_t>(runs.runs.size() - 1));
    });
}

// The collecting sweeps: visit(record, entry, index) for every record other
// than a loop that the sending sweep reached, in run order.
template <typename Record, typename Run, typename Visit>
void VisitRuns(DeviceRuns<Run> &runs, Record *chain, Visit &&visit)
{
    std::size_t index = 0;
    VisitInRunOrder(chain, [&](Record &record) {
        if (!IsLoop(record) && index < runs.runs.size()) {
            visit(record, runs.runs[index], static_cast<std::uint64_t>(index));
            ++index;
        }
    });
}

#endif
