// What loop expansion must make of a flat command list, worked out here from
// the loop rules alone, so that both command-stream expansions can be
// checked against it:
//
// a loop with N commands to repeat and T times stands in front of its body,
// the N commands after it, where a loop together with its own body counts as
// one command.  T > 0 runs the body T times; T = 0 drops it; N = 0 leaves
// the commands after the loop where they are.  A body that runs past the end
// of the list makes expansion fail.
//
// Example, writing L(N, T): "L(2,2) L(1,3) X Y Z" runs X X X Y X X X Y Z.
#ifndef ZARK_FUZZ_LOOP_MODEL_H
#define ZARK_FUZZ_LOOP_MODEL_H

#include <cstdint>
#include <vector>

namespace fuzz_support {

struct FlatCommand {
    bool loop = false;
    std::int64_t number = 0;
    std::uint64_t number_to_repeat = 0; // loops only
    std::uint64_t times_to_repeat = 0;  // loops only
    std::uint64_t weight = 1;           // what one copy of the record costs
};

struct ExpectedExpansion {
    bool complete = true;      // every loop found its whole body
    std::uint64_t records = 0; // records after expansion, loops included (saturating)
    // What an expansion may build on the way, whether it then succeeds or
    // not (saturating): records and summed weights, counting every body once
    // more for a loop that drops it or never finds all of it, as if its
    // nested loops were expanded first, and every loop's repetition count as
    // records, for an expansion that makes room for them first.
    std::uint64_t work_records = 0;
    std::uint64_t work_weight = 0;
    // Numbers of the commands other than loops in the order they run; only
    // for a complete list whose work stays within the limits given.
    bool order_known = false;
    std::vector<std::int64_t> order;
};

// The expansion expected of list; the running order is worked out only when
// the work stays within record_limit and weight_limit.
ExpectedExpansion ExpectExpansion(const std::vector<FlatCommand> &list, std::uint64_t record_limit,
                                  std::uint64_t weight_limit);

} // namespace fuzz_support

#endif
