// The command tree both stream modes share, on a record of its own: loop
// shapes and short bodies, and sizing against the limit.  Chains longer and
// deeper than any call stack are the hostile lists' (tests/hostile).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "common/command_chain.h"
#include "support/capture_stdout.h"

namespace {

long long live_records = 0;

struct Node : ChainLinks<Node> {
    Node() { ++live_records; }
    ~Node() { --live_records; }
    bool loop = false;
    std::string payload;
};

bool IsLoop(const Node &node) { return node.loop; }
// An execution of a record costs a byte for each character it holds.
std::uint64_t RunBytes(const Node &node) { return node.payload.size(); }

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// A chain from a shape such as "L(2,3) X Y": L(N,T) is a loop, any other word
// a record holding that word.  Records are numbered from 0 as written.
std::unique_ptr<Node> ChainOf(const std::string &shape)
{
    std::unique_ptr<Node> chain;
    std::unique_ptr<Node> *tail = &chain;
    std::istringstream words(shape);
    std::int32_t number = 0;
    for (std::string word; words >> word; tail = &(*tail)->next) {
        *tail = std::make_unique<Node>();
        (*tail)->number = number++;
        (*tail)->loop = std::sscanf(word.c_str(), "L(%u,%u)", &(*tail)->number_to_repeat, &(*tail)->times_to_repeat) == 2;
        (*tail)->payload = (*tail)->loop ? "" : word;
    }
    return chain;
}

// Every record in run order, loops as "L<number>", blank-separated.
std::string RunOrder(const Node *chain)
{
    std::string order;
    VisitInRunOrder(chain, [&](const Node &node) {
        order += std::string(order.empty() ? "" : " ") + (node.loop ? "L" : "") + std::to_string(node.number);
    });
    return order;
}

// The run order of the shape, or what preparing its loops printed; the
// number of runs counted must match the order.
std::string Expanded(const std::string &shape, std::uint64_t limit = kNoLimit)
{
    std::unique_ptr<Node> chain = ChainOf(shape);
    CaptureStdout capture;
    const bool prepared = PrepareLoops(chain.get(), limit);
    const std::string outcome = prepared ? RunOrder(chain.get()) : capture.Take();
    if (prepared) {
        std::uint64_t runs = 0;
        VisitInRunOrder(chain.get(), [&runs](const Node &node) { runs += node.loop ? 0 : 1; });
        EXPECT_EQ(CountRuns(static_cast<const Node *>(chain.get())), runs) << shape;
    }
    chain.reset();
    EXPECT_EQ(live_records, 0) << shape;
    return outcome;
}

TEST(CommandChain, LoopsRunTheirBodiesAsOftenAsTheySay)
{
    const std::pair<const char *, const char *> cases[] = {
        {"L(2,3) X Y Z", "L0 1 2 1 2 1 2 3"},
        {"L(2,1) X Y", "L0 1 2"},
        {"X L(0,5) Y", "0 L1 2"},
        // A loop repeating nothing, or a nested loop with its body, is one record of a body.
        {"L(2,2) L(0,7) X Y", "L0 L1 2 L1 2 3"},
        {"L(2,2) L(1,3) X Y", "L0 L1 2 2 2 3 L1 2 2 2 3"},
        {"L(2,2) L(2,2) L(1,2) X Y Z", "L0 L1 L2 3 3 4 L2 3 3 4 5 L1 L2 3 3 4 L2 3 3 4 5"},
        // Zero repetitions drop the body, nested loops with all of theirs.
        {"L(2,0) X Y Z", "L0 3"},
        {"L(2,2) X L(1,0) Y Z", "L0 1 L2 1 L2 4"},
        {"L(1,0) L(1,0) L(1,0) X Y", "L0 4"},
        {"L(2,0) L(2,5) X L(1,9) Y Z W", "L0 6"},
        // Bodies that run past the end name the loop whose body it is.
        {"X L(1,0)", "Not enough commands present for loop command 1\n"},
        {"L(2,3) X L(3,2) Y", "Not enough commands present for loop command 2\n"},
        {"L(3,0) X L(2,1) Y", "Not enough commands present for loop command 0\n"},
        {"L(2,2) L(1,2) X", "Not enough commands present for loop command 0\n"},
        {"L(1,2) X L(2,2) Y", "Not enough commands present for loop command 2\n"},
        {"L(1,0) L(3,1) X Y", "Not enough commands present for loop command 0\n"},
        {"L(4294967295,0) X", "Not enough commands present for loop command 0\n"},
        {"L(4294967295,4294967295)", "Not enough commands present for loop command 0\n"},
    };
    for (const auto &[shape, outcome] : cases) {
        EXPECT_EQ(Expanded(shape), outcome) << shape;
    }
}

TEST(CommandChain, SizingRefusesTheFirstLoopPastTheLimitBeforeAnyRun)
{
    const std::string refused = "Could not allocate memory for children of loop command ";
    // Three runs of a record costing 4.
    EXPECT_EQ(Expanded("L(1,3) XXXX", 12) + Expanded("L(1,3) XXXX", 11), "L0 1 1 1" + refused + "0\n");
    // What stands before a loop counts towards the whole; a loop is judged
    // when it is complete, before what follows it.
    EXPECT_EQ(Expanded("YY L(1,3) XXXX", 14), "0 L1 2 2 2");
    EXPECT_EQ(Expanded("YY L(1,3) XXXX", 13), refused + "1\n");
    EXPECT_EQ(Expanded("L(1,3) XXXX YY", 12), "L0 1 1 1 2");
    // Nested loops multiply; sizes stop at the largest value instead of wrapping.
    EXPECT_EQ(Expanded("L(1,2) L(2,3) XXXX Y", 30), "L0 L1 2 3 2 3 2 3 L1 2 3 2 3 2 3");
    EXPECT_EQ(Expanded("L(1,2) L(2,3) XXXX Y", 29), refused + "0\n");
    EXPECT_EQ(Expanded("L(1,4294967295) L(1,4294967295) L(1,4294967295) XXXX", kNoLimit - 1), refused + "1\n");
    // Loops inside a body never run cost nothing.
    EXPECT_EQ(Expanded("L(1,0) L(1,4294967295) L(1,4294967295) X Y", 1), "L0 4");
    EXPECT_EQ(Expanded("L(2,2) L(1,0) XXXX Y", 2), "L0 L1 3 L1 3");
    // The innermost loop is finished first.
    EXPECT_EQ(Expanded("L(1,2) L(1,2) X", 1), refused + "1\n");
}

} // namespace
