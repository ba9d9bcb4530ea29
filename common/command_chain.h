// The command tree both command-stream modes build from a list: a chain of
// records, each owning the one after it, where a loop record owns the
// repetitions of its body once the loops are expanded.
//
// A mode's record R derives from ChainLinks<R> and gives, as free functions
// beside it (found by argument-dependent lookup):
//   bool IsLoop(const R &)
//   std::uint64_t HeldBytes(const R &)               bytes it owns outside itself
//   std::unique_ptr<R> CopyRecordFields(const R &)   a record with the mode's own
//                                                    fields copied; null after its message
//   void ReportCopyOutOfMemory(const R &)            a copy ran out of memory at it
//   void ReportExpansionOutOfMemory(const R &loop)   expanding loop ran out of memory
//
// Loops.  A loop with number_to_repeat N and times_to_repeat T stands in front
// of its body, the N records after it, where a nested loop together with its
// own body counts as one.  Writing L(N, T) for a loop and X, Y, Z for other
// records, expansion makes them run as:
//   L(2, 3) X Y Z          X Y X Y X Y Z
//   L(2, 0) X Y Z          Z                (X and Y are released unrun)
//   L(0, 5) X              X
//   L(2, 2) L(1, 3) X Y    X X X Y X X X Y
// Afterwards a loop with N and T above 0 holds T chains in children: the body
// cut out of the chain, then T - 1 deep copies of it; its next is what
// followed the body.  Copies keep the numbers of the records they copy.  A
// body that runs past the end of the chain is reported with the number of
// the loop whose body it is.
//
// Memory.  Every repetition gets records of its own, so nested loops
// multiply: forty nested loops of two repetitions would ask for 2^40
// records.  Before anything is expanded the chain is sized in one pass, and
// the first loop (in the order expansion finishes them) whose repetitions
// would take the whole past the limit is refused.  A record costs twice its
// size and held bytes (the allocator's bookkeeping included, erring large),
// a loop repeated T times T times its body plus a child slot per repetition,
// and a loop repeated 0 times itself alone:
//   L n:2 t:3;  L n:1 t:2;  S;  S;     records: S = 100
//   inner loop: 2 x (100 + 8); outer body: that + 100; outer loop: 3 x (body + 8)
//
// Lists hold millions of records and loops nest hundreds of thousands deep:
// nothing here recurses, and release needs no memory of its own.
#ifndef ZARK_COMMON_COMMAND_CHAIN_H
#define ZARK_COMMON_COMMAND_CHAIN_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "common/expansion_limit.h"

// NumberToRepeat and TimesToRepeat, in both modes.
using LoopCount = std::uint32_t;

template <typename Record>
struct ChainLinks {
    ChainLinks() = default;
    ChainLinks(const ChainLinks &) = delete;
    ChainLinks &operator=(const ChainLinks &) = delete;
    // Releases what follows and the repetitions, a record at a time.
    ~ChainLinks();

    // After expansion, for a loop repeated at least once: one chain per
    // repetition, the first being the body itself.
    std::vector<std::unique_ptr<Record>> children;
    std::unique_ptr<Record> next;
    std::int32_t number = 0; // position in the list text; messages name records by it
    LoopCount number_to_repeat = 0;
    LoopCount times_to_repeat = 0;
};

namespace command_chain_detail {

// Moves the repetitions of record in front of pending, each chain walked once
// to find its tail, so that record can go without taking a chain with it.
template <typename Record>
void SpliceChildren(ChainLinks<Record> &record, std::unique_ptr<Record> &pending)
{
    for (auto child = record.children.rbegin(); child != record.children.rend(); ++child) {
        if (!*child) {
            continue;
        }
        Record *tail = child->get();
        while (tail->next) {
            tail = tail->next.get();
        }
        tail->next = std::move(pending);
        pending = std::move(*child);
    }
    record.children.clear();
}

} // namespace command_chain_detail

template <typename Record>
ChainLinks<Record>::~ChainLinks()
{
    std::unique_ptr<Record> pending = std::move(next);
    command_chain_detail::SpliceChildren(*this, pending);
    while (pending) {
        std::unique_ptr<Record> current = std::move(pending);
        pending = std::move(current->next);
        command_chain_detail::SpliceChildren(*current, pending);
        // current has neither a next nor children now: its release ends with it.
    }
}

// Calls visit(record) for every record of an expanded chain in the order they
// run: a loop, then each of its repetitions from first to last, then what
// follows it.  Record may be const.
template <typename Record, typename Visit>
void VisitInRunOrder(Record *chain, Visit &&visit)
{
    struct Open {
        Record *loop;
        std::size_t next_child;
    };
    std::vector<Open> open;
    Record *current = chain;
    for (;;) {
        if (current == nullptr) {
            if (open.empty()) {
                return;
            }
            Open &innermost = open.back();
            if (innermost.next_child < innermost.loop->children.size()) {
                current = innermost.loop->children[innermost.next_child++].get();
            } else {
                current = innermost.loop->next.get();
                open.pop_back();
            }
            continue;
        }
        visit(*current);
        if (!current->children.empty()) {
            open.push_back(Open{current, 0});
            current = nullptr;
        } else {
            current = current->next.get();
        }
    }
}

// Makes copy a deep copy of the chain from source, repetitions included,
// without any execution state.  False after one message; copy then keeps
// what was copied.
template <typename Record>
bool CopyChain(std::unique_ptr<Record> &copy, const Record *source)
{
    copy.reset();
    if (source == nullptr) {
        return true;
    }
    struct Pending {
        const Record *source;
        std::unique_ptr<Record> *slot; // where its copy goes; stays put when the record holding it moves
    };
    std::vector<Pending> pending;
    const Record *at = source;
    try {
        pending.push_back(Pending{source, &copy});
        while (!pending.empty()) {
            const Pending chain = pending.back();
            pending.pop_back();
            std::unique_ptr<Record> *slot = chain.slot;
            for (const Record *from = chain.source; from != nullptr; from = from->next.get()) {
                at = from;
                std::unique_ptr<Record> to = CopyRecordFields(*from);
                if (!to) {
                    return false;
                }
                to->number = from->number;
                to->number_to_repeat = from->number_to_repeat;
                to->times_to_repeat = from->times_to_repeat;
                try {
                    to->children.resize(from->children.size());
                } catch (const std::bad_alloc &) {
                    std::printf("Could not allocate memory for children of copied loop command %d\n", from->number);
                    return false;
                }
                for (std::size_t i = 0; i < from->children.size(); ++i) {
                    pending.push_back(Pending{from->children[i].get(), &to->children[i]});
                }
                *slot = std::move(to);
                slot = &(*slot)->next;
            }
        }
        return true;
    } catch (const std::bad_alloc &) {
        ReportCopyOutOfMemory(*at);
        return false;
    }
}

// The loop whose repetitions would take the expanded chain past limit bytes,
// found without expanding anything; null when the whole chain fits.
template <typename Record>
const Record *FindOversizedLoop(const Record *chain, std::uint64_t limit)
{
    struct OpenLoop {
        const Record *loop;
        std::uint64_t remaining; // body records not yet seen
        std::uint64_t own_bytes;
        std::uint64_t body_bytes;
        bool dropped; // in a loop repeated 0 times: released unexpanded
    };
    constexpr std::uint64_t kRepetitionSlot = sizeof(std::unique_ptr<Record>);
    std::vector<OpenLoop> open;
    std::uint64_t total = 0;
    for (const Record *record = chain; record != nullptr; record = record->next.get()) {
        std::uint64_t bytes = 2 * (sizeof(Record) + HeldBytes(*record));
        if (IsLoop(*record) && record->number_to_repeat != 0) {
            const bool dropped = record->times_to_repeat == 0 || (!open.empty() && open.back().dropped);
            open.push_back(OpenLoop{record, record->number_to_repeat, bytes, 0, dropped});
            continue;
        }
        // A whole record or loop counts towards the body it stands in, and
        // completes every loop whose body it ends.
        while (!open.empty()) {
            OpenLoop &loop = open.back();
            loop.body_bytes = SaturatingAdd(loop.body_bytes, bytes);
            if (--loop.remaining > 0) {
                break;
            }
            const OpenLoop finished = loop;
            open.pop_back();
            const std::uint64_t repetitions = SaturatingMultiply(SaturatingAdd(finished.body_bytes, kRepetitionSlot),
                                                                 finished.loop->times_to_repeat);
            bytes = SaturatingAdd(finished.own_bytes, repetitions);
            if (!finished.dropped && (bytes > limit || SaturatingAdd(total, bytes) > limit)) {
                return finished.loop;
            }
        }
        if (open.empty()) {
            total = SaturatingAdd(total, bytes);
        }
    }
    return nullptr;
}

namespace command_chain_detail {

template <typename Record>
bool HasBody(const Record &record)
{
    return IsLoop(record) && record.number_to_repeat != 0;
}

template <typename Record>
void ReportNotEnough(const Record &loop)
{
    std::printf("Not enough commands present for loop command %d\n", loop.number);
}

// A loop repeated 0 times: its body, nested loops counted with their own
// bodies and left unexpanded, is released.
template <typename Record>
bool DropBody(Record &loop)
{
    std::uint64_t remaining = loop.number_to_repeat;
    Record *last = &loop;
    while (remaining > 0) {
        Record *record = last->next.get();
        if (record == nullptr) {
            ReportNotEnough(loop);
            return false;
        }
        if (IsLoop(*record)) {
            remaining += record->number_to_repeat;
        }
        --remaining;
        last = record;
    }
    std::unique_ptr<Record> dropped = std::move(loop.next);
    loop.next = std::move(last->next);
    return true;
}

// The body runs from the loop's next to last: it becomes the first
// repetition, and the others are copies of it.
template <typename Record>
bool CutAndCopy(Record &loop, Record &last)
{
    // Room is made only now that the body is known whole, so that a short
    // list is reported as such whatever its repetition count.
    bool reserved = true;
    try {
        loop.children.reserve(loop.times_to_repeat);
    } catch (const std::bad_alloc &) {
        reserved = false;
    } catch (const std::length_error &) {
        reserved = false;
    }
    if (!reserved) {
        std::printf("Could not allocate memory for children of loop command %d\n", loop.number);
        return false;
    }
    loop.children.push_back(std::move(loop.next));
    loop.next = std::move(last.next);
    for (LoopCount i = 1; i < loop.times_to_repeat; ++i) {
        std::unique_ptr<Record> copy;
        const bool copied = CopyChain(copy, loop.children.front().get());
        loop.children.push_back(std::move(copy));
        if (!copied) {
            return false;
        }
    }
    return true;
}

// Expands a loop repeated at least once, every loop of its body first, so
// that a nested loop carries its repetitions when it is copied.  An explicit
// stack of the loops whose bodies are being counted replaces recursion.
template <typename Record>
bool ExpandLoop(Record &outermost)
{
    struct Frame {
        Record *loop;
        LoopCount remaining; // body records still to count
        Record *last;        // the last one counted; the loop itself at first
    };
    std::vector<Frame> stack{Frame{&outermost, outermost.number_to_repeat, &outermost}};
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.remaining == 0) {
            Record *loop = frame.loop;
            Record *last = frame.last;
            stack.pop_back();
            if (!CutAndCopy(*loop, *last)) {
                return false;
            }
            if (!stack.empty()) {
                stack.back().last = loop;
                --stack.back().remaining;
            }
            continue;
        }
        Record *record = frame.last->next.get();
        if (record == nullptr) {
            ReportNotEnough(*frame.loop);
            return false;
        }
        if (HasBody(*record) && record->times_to_repeat != 0) {
            stack.push_back(Frame{record, record->number_to_repeat, record});
            continue;
        }
        if (HasBody(*record) && !DropBody(*record)) {
            return false;
        }
        frame.last = record;
        --frame.remaining;
    }
    return true;
}

} // namespace command_chain_detail

// Expands every loop of the chain, refusing first a chain whose repetitions
// would take more than limit bytes.  False after one message; the chain can
// still be released as a whole.
template <typename Record>
bool ExpandLoops(Record *chain, std::uint64_t limit)
{
    using namespace command_chain_detail;
    if (const Record *loop = FindOversizedLoop(static_cast<const Record *>(chain), limit)) {
        std::printf("Could not allocate memory for children of loop command %d\n", loop->number);
        return false;
    }
    for (Record *record = chain; record != nullptr; record = record->next.get()) {
        if (!HasBody(*record)) {
            continue;
        }
        try {
            if (!(record->times_to_repeat == 0 ? DropBody(*record) : ExpandLoop(*record))) {
                return false;
            }
        } catch (const std::bad_alloc &) {
            ReportExpansionOutOfMemory(*record);
            return false;
        }
    }
    return true;
}

#endif
