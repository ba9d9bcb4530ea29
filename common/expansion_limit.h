// How much memory the repetitions of a command list's loops may take, worked
// out before any of them is made.
//
// Loop expansion gives every repetition records of its own, so nested loops
// multiply: forty nested loops of two repetitions would ask for 2^40 records.
// Such a list is refused before anything is allocated, instead of filling the
// machine until the system ends the program.
//
// The flat command list is fed in text order: each command with its size,
// each loop with its counts.  A loop's body is the number_to_repeat commands
// that follow it, a nested loop with its own body counting as one; the
// expanded size of a loop repeated T times is T times the size of its body
// (a loop repeated 0 times keeps only itself).
//   L n:2 t:3;  L n:1 t:2;  S;  S;     sizes: S = 100
//   inner loop: 2 x 100 = 200; outer body: 200 + 100; outer loop: 3 x 300 = 900
#ifndef ZARK_COMMON_EXPANSION_LIMIT_H
#define ZARK_COMMON_EXPANSION_LIMIT_H

#include <cstdint>
#include <vector>

// Bytes the expanded lists of one run may take: half of the machine's
// memory, and within the process's own memory limits.
std::uint64_t ExpansionMemoryLimit();

class ExpansionSizer {
public:
    explicit ExpansionSizer(std::uint64_t limit) : limit_(limit) {}

    // The next command of the list: bytes is what one copy of its record
    // takes; a loop gives its counts.  tag names the command to the caller.
    void AddCommand(std::uint64_t bytes, const void *tag);
    void AddLoop(std::uint64_t bytes, std::uint64_t number_to_repeat, std::uint64_t times_to_repeat,
                 const void *tag);

    // The first loop, in the order expansion finishes them, whose repetitions
    // would take the list past the limit; null while there is none.
    const void *oversized() const { return oversized_; }

private:
    struct OpenLoop {
        const void *tag;
        std::uint64_t remaining; // body commands not yet seen
        std::uint64_t times;
        std::uint64_t own_bytes;
        std::uint64_t body_bytes;
        bool dropped; // in a loop repeated 0 times: the body is released unexpanded
    };
    void Finish(std::uint64_t bytes);

    std::uint64_t limit_;
    std::uint64_t total_ = 0;
    std::vector<OpenLoop> open_;
    const void *oversized_ = nullptr;
};

#endif
