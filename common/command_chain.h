// The command tree both command-stream modes build from a list: a chain of
// records, each owning the one after it, where a loop record stands in front
// of the body it repeats.  Loops are never copied: a run walks each body as
// often as its loop says, and what one execution of a record needs is kept
// by the mode, in run order, beside the chain.
//
// A mode's record R derives from ChainLinks<R> and gives, as free functions
// beside it (found by argument-dependent lookup):
//   bool IsLoop(const R &)
//   std::uint64_t RunBytes(const R &)   what one execution of it holds while
//                                       the run goes on (0 for a loop)
//
// Loops.  A loop with number_to_repeat N and times_to_repeat T stands in front
// of its body, the N records after it, where a nested loop together with its
// own body counts as one.  Writing L(N, T) for a loop and X, Y, Z for other
// records, they run as:
//   L(2, 3) X Y Z          X Y X Y X Y Z
//   L(2, 0) X Y Z          Z                (X and Y never run)
//   L(0, 5) X              X
//   L(2, 2) L(1, 3) X Y    X X X Y X X X Y
// A body that runs past the end of the chain is reported with the number of
// the loop whose body it is: the outermost loop repeated 0 times that is
// still open, else the innermost open loop.
//
// Memory.  Every execution holds state of its own until the run ends, so
// nested loops multiply: forty nested loops of two repetitions would run
// 2^40 records.  Before anything runs the chain is sized in one pass, and
// the first loop (in the order they are completed) whose executions would
// take the whole past the limit is refused.  A loop repeated T times costs T
// times its body, and a loop repeated 0 times nothing:
//   L n:2 t:3;  L n:1 t:2;  S;  S;     RunBytes(S) = 40
//   inner loop: 2 x 40; outer body: that + 40; outer loop: 3 x 120
//
// Lists hold millions of records and loops nest hundreds of thousands deep:
// nothing here recurses, and release needs no memory of its own.
#ifndef ZARK_COMMON_COMMAND_CHAIN_H
#define ZARK_COMMON_COMMAND_CHAIN_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "common/expansion_limit.h"

// NumberToRepeat and TimesToRepeat, in both modes.
using LoopCount = std::uint32_t;

template <typename Record>
struct ChainLinks {
    ChainLinks() = default;
    ChainLinks(const ChainLinks &) = delete;
    ChainLinks &operator=(const ChainLinks &) = delete;
    // Releases what follows, a record at a time.
    ~ChainLinks()
    {
        std::unique_ptr<Record> pending = std::move(next);
        while (pending) {
            pending = std::move(pending->next);
        }
    }

    std::unique_ptr<Record> next;
    // For a loop with a body, once PrepareLoops accepted the chain: the
    // record after the body (null when the body ends the chain).
    Record *after_body = nullptr;
    std::int32_t number = 0; // position in the list text; messages name records by it
    LoopCount number_to_repeat = 0;
    LoopCount times_to_repeat = 0;
};

namespace command_chain_detail {

template <typename Record>
bool HasBody(const Record &record)
{
    return IsLoop(record) && record.number_to_repeat != 0;
}

} // namespace command_chain_detail

// Calls visit(record) for every record of a prepared chain in the order they
// run: a loop, then its body as often as it is repeated, then what follows
// it.  Record may be const.
template <typename Record, typename Visit>
void VisitInRunOrder(Record *chain, Visit &&visit)
{
    struct Open {
        Record *loop;
        LoopCount left; // repetitions still to start
    };
    std::vector<Open> open;
    Record *current = chain;
    for (;;) {
        // The end of a body starts its next repetition, or ends its loop and
        // may end the bodies around it too.
        while (!open.empty() && current == open.back().loop->after_body) {
            if (open.back().left > 0) {
                --open.back().left;
                current = open.back().loop->next.get();
                break;
            }
            open.pop_back();
        }
        if (current == nullptr) {
            return;
        }
        visit(*current);
        if (command_chain_detail::HasBody(*current)) {
            if (current->times_to_repeat == 0) {
                current = current->after_body;
                continue;
            }
            open.push_back(Open{current, current->times_to_repeat - 1});
        }
        current = current->next.get();
    }
}

// How many records other than loops a prepared chain runs (saturating).
template <typename Record>
std::uint64_t CountRuns(const Record *chain)
{
    struct Open {
        std::uint64_t before; // runs counted outside the body
        LoopCount times;
        const Record *after_body;
    };
    std::vector<Open> open;
    std::uint64_t runs = 0;
    const Record *current = chain;
    for (;;) {
        while (!open.empty() && current == open.back().after_body) {
            const Open done = open.back();
            open.pop_back();
            runs = SaturatingAdd(done.before, SaturatingMultiply(runs, done.times));
        }
        if (current == nullptr) {
            return runs;
        }
        if (command_chain_detail::HasBody(*current)) {
            if (current->times_to_repeat == 0) {
                current = current->after_body;
                continue;
            }
            open.push_back(Open{runs, current->times_to_repeat, current->after_body});
            runs = 0;
        } else if (!IsLoop(*current)) {
            runs = SaturatingAdd(runs, 1);
        }
        current = current->next.get();
    }
}

// Checks the loops of a chain and links each body's end, so that it can be
// run: false after one message when a body runs past the end of the chain,
// or when the executions would take more than limit bytes (checked first).
template <typename Record>
bool PrepareLoops(Record *chain, std::uint64_t limit)
{
    struct OpenLoop {
        Record *loop;
        std::uint64_t remaining; // body records not yet seen
        std::uint64_t body_bytes;
        bool dropped; // in a loop repeated 0 times: never run
    };
    std::vector<OpenLoop> open;
    std::uint64_t total = 0;
    for (Record *record = chain; record != nullptr; record = record->next.get()) {
        if (command_chain_detail::HasBody(*record)) {
            const bool dropped = record->times_to_repeat == 0 || (!open.empty() && open.back().dropped);
            open.push_back(OpenLoop{record, record->number_to_repeat, 0, dropped});
            continue;
        }
        // A whole record or loop counts towards the body it stands in, and
        // completes every loop whose body it ends.
        std::uint64_t bytes = RunBytes(*record);
        Record *last = record;
        while (!open.empty()) {
            OpenLoop &loop = open.back();
            loop.body_bytes = SaturatingAdd(loop.body_bytes, bytes);
            if (--loop.remaining > 0) {
                break;
            }
            const OpenLoop finished = loop;
            open.pop_back();
            finished.loop->after_body = last->next.get();
            bytes = finished.dropped ? 0 : SaturatingMultiply(finished.body_bytes, finished.loop->times_to_repeat);
            if (!finished.dropped && (bytes > limit || SaturatingAdd(total, bytes) > limit)) {
                std::printf("Could not allocate memory for children of loop command %d\n", finished.loop->number);
                return false;
            }
        }
        if (open.empty()) {
            total = SaturatingAdd(total, bytes);
        }
    }
    if (open.empty()) {
        return true;
    }
    const Record *reported = open.back().loop;
    for (const OpenLoop &loop : open) {
        if (loop.dropped) {
            reported = loop.loop;
            break;
        }
    }
    std::printf("Not enough commands present for loop command %d\n", reported->number);
    return false;
}

#endif
