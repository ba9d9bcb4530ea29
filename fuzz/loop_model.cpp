#include "fuzz/loop_model.h"

#include <cstddef>
#include <limits>

namespace fuzz_support {
namespace {

constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();

std::uint64_t Add(std::uint64_t a, std::uint64_t b) { return a > kMost - b ? kMost : a + b; }

std::uint64_t Multiply(std::uint64_t a, std::uint64_t b)
{
    if (a == 0 || b == 0) {
        return 0;
    }
    return a > kMost / b ? kMost : a * b;
}

// One command with the indices of the commands that form its body.
struct Node {
    std::vector<std::size_t> body; // indices into the node table
    bool whole = true;             // the body was found complete
    std::uint64_t records = 1;
    std::uint64_t work_records = 1;
    std::uint64_t work_weight = 0;
};

} // namespace

ExpectedExpansion ExpectExpansion(const std::vector<FlatCommand> &list, std::uint64_t record_limit,
                                  std::uint64_t weight_limit)
{
    ExpectedExpansion expected;
    // Group the list into nodes: an explicit stack of loops whose bodies are
    // still being filled, each with the commands it still needs.
    std::vector<Node> nodes(list.size());
    std::vector<std::size_t> top;
    struct Open {
        std::size_t node;
        std::uint64_t needed;
    };
    std::vector<Open> open;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (open.empty()) {
            top.push_back(i);
        } else {
            nodes[open.back().node].body.push_back(i);
        }
        if (list[i].loop && list[i].number_to_repeat > 0) {
            open.push_back(Open{i, list[i].number_to_repeat});
            continue;
        }
        // A whole command: it completes every loop whose last command it was.
        while (!open.empty() && --open.back().needed == 0) {
            open.pop_back();
        }
    }
    expected.complete = open.empty();
    for (const Open &unfinished : open) {
        nodes[unfinished.node].whole = false;
    }

    // Sizes bottom up: a node's body nodes always come after it in the list.
    for (std::size_t i = list.size(); i-- > 0;) {
        Node &node = nodes[i];
        const FlatCommand &command = list[i];
        node.records = 1;
        node.work_records = Add(1, command.loop ? command.times_to_repeat : 0);
        node.work_weight = command.weight;
        if (!command.loop || command.number_to_repeat == 0) {
            continue;
        }
        std::uint64_t body_records = 0;
        std::uint64_t body_work = 0;
        std::uint64_t body_weight = 0;
        for (const std::size_t member : node.body) {
            body_records = Add(body_records, nodes[member].records);
            body_work = Add(body_work, nodes[member].work_records);
            body_weight = Add(body_weight, nodes[member].work_weight);
        }
        const std::uint64_t copies = node.whole && command.times_to_repeat > 0 ? command.times_to_repeat : 1;
        if (node.whole && command.times_to_repeat > 0) {
            node.records = Add(1, Multiply(command.times_to_repeat, body_records));
        }
        node.work_records = Add(node.work_records, Multiply(copies, body_work));
        node.work_weight = Add(node.work_weight, Multiply(copies, body_weight));
    }
    for (const std::size_t member : top) {
        expected.records = Add(expected.records, nodes[member].records);
        expected.work_records = Add(expected.work_records, nodes[member].work_records);
        expected.work_weight = Add(expected.work_weight, nodes[member].work_weight);
    }
    if (!expected.complete || expected.work_records > record_limit || expected.work_weight > weight_limit) {
        return expected;
    }

    // The running order, walked with an explicit stack of bodies in progress.
    struct Walk {
        const std::vector<std::size_t> *members;
        std::size_t next;
        std::uint64_t repetitions_left;
    };
    std::vector<Walk> walk{Walk{&top, 0, 1}};
    while (!walk.empty()) {
        Walk &current = walk.back();
        if (current.next == current.members->size()) {
            if (--current.repetitions_left == 0) {
                walk.pop_back();
            } else {
                current.next = 0;
            }
            continue;
        }
        const std::size_t i = (*current.members)[current.next++];
        if (!list[i].loop) {
            expected.order.push_back(list[i].number);
        } else if (list[i].number_to_repeat > 0 && list[i].times_to_repeat > 0) {
            walk.push_back(Walk{&nodes[i].body, 0, list[i].times_to_repeat});
        }
    }
    expected.order_known = true;
    return expected;
}

} // namespace fuzz_support
