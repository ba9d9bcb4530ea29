// RMAP loop expansion: loop shapes the goldens do not hold, short bodies,
// and lists longer and deeper than any call stack.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "stream_rmap/rmap_loops.h"
#include "stream_rmap/rmap_parser.h"
#include "support/capture_stdout.h"

namespace {

// A read with every property; the ones after it need only "r;".
const std::string kFirstRead = "r;\nDestinationAddress: FE; SourceAddress: 20; IncrementTarget: true; Key: 0;\n"
                               "TransactionIdentifier: 1; Address: 0; ExtendedReadWriteAddress: 0; Length: 4;\n";

// A list from a shape such as "L(2,3) X Y": L(N,T) is a loop, any other
// word a read.  Commands are numbered from 0 in the order written.
std::string ListOf(const std::string &shape)
{
    std::string text;
    bool first_read = true;
    for (std::size_t position = 0; position < shape.size();) {
        const std::size_t end = std::min(shape.find(' ', position), shape.size());
        const std::string word = shape.substr(position, end - position);
        position = end + 1;
        if (word[0] == 'L') {
            const std::size_t comma = word.find(',');
            text += "l;\nNumberToRepeat: n" + word.substr(2, comma - 2) + "; TimesToRepeat: n" +
                    word.substr(comma + 1, word.size() - comma - 2) + ";\n\n";
        } else {
            text += (first_read ? kFirstRead : "r;\n") + "\n";
            first_read = false;
        }
    }
    return text;
}

// The numbers of the commands in the order they run, blank-separated, or
// the message printed when parsing or expansion fails.  Walked with a stack
// of chains still to visit, so that any depth can be walked.
std::string Outcome(const std::string &text)
{
    default_base = 16;
    CaptureStdout capture;
    int output_base = -1;
    RmapCommandPtr chain = CR_ProcessCommands(text, &output_base);
    const bool expanded = chain && CR_DealWithLoopCommands(chain.get());
    const std::string printed = capture.Take();
    if (!expanded || printed != "Command list file successfully processed.\n") {
        return printed;
    }
    std::string order;
    std::vector<const RmapCommand *> pending{chain.get()};
    while (!pending.empty()) {
        const RmapCommand *command = pending.back();
        pending.pop_back();
        for (; command != nullptr; command = command->next.get()) {
            if (command->type != RMAP_COMMAND_LOOP) {
                order += (order.empty() ? "" : " ") + std::to_string(command->number);
            } else if (command->number_to_repeat != 0 && command->times_to_repeat != 0) {
                pending.push_back(command->next.get());
                for (auto child = command->children.rbegin(); child != command->children.rend(); ++child) {
                    pending.push_back(child->get());
                }
                break;
            }
        }
    }
    return order;
}

const std::string kProcessed = "Command list file successfully processed.\n";

TEST(Loops, ShapesRunTheirBodiesAsOften)
{
    const std::pair<const char *, std::string> cases[] = {
        {"X L(0,5)", "0"},
        {"L(2,2) L(0,7) X", "2 2"},
        {"L(2,2) X L(1,0) Y Z", "1 1 4"},
        {"L(2,2) L(2,2) L(1,2) X Y Z", "3 3 4 3 3 4 5 3 3 4 3 3 4 5"},
        {"L(1,0) L(1,0) L(1,0) X Y", "4"},
        {"L(2,0) L(1,5) X L(0,3) Y", "4"},
        {"X L(1,0)", kProcessed + "Not enough commands present for loop command 1\n"},
        {"L(2,3) X L(3,2) Y", kProcessed + "Not enough commands present for loop command 2\n"},
        {"L(3,0) X L(2,1) Y", kProcessed + "Not enough commands present for loop command 0\n"},
        {"L(2,2) X L(1,0)", kProcessed + "Not enough commands present for loop command 2\n"},
    };
    for (const auto &[shape, outcome] : cases) {
        EXPECT_EQ(Outcome(ListOf(shape)), outcome) << shape;
    }
}

TEST(Loops, LongAndDeepListsNeedNoRecursion)
{
    // A million commands; 200000 nested loops each repeating the next once,
    // all repeated twice; and as deep a nest dropped.
    constexpr int kDepth = 200000;
    std::string text = kFirstRead;
    for (int i = 1; i < 1000000; ++i) {
        text += "\nr;\n";
    }
    const std::string runs = Outcome(text);
    EXPECT_EQ(runs.substr(runs.size() - 13), "999998 999999");
    std::string nest;
    for (int i = 1; i < kDepth; ++i) {
        nest += "l;\n\n";
    }
    EXPECT_EQ(Outcome("l;\nNumberToRepeat: 1; TimesToRepeat: 2;\n\nl;\nTimesToRepeat: 1;\n\n" + nest + kFirstRead),
              std::to_string(kDepth + 1) + " " + std::to_string(kDepth + 1));
    EXPECT_EQ(Outcome("l;\nNumberToRepeat: 1; TimesToRepeat: 0;\n\nl;\nTimesToRepeat: 3;\n\n" + nest + kFirstRead +
                      "\nr;\n"),
              std::to_string(kDepth + 2));
}

} // namespace
