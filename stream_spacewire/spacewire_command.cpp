#include "stream_spacewire/spacewire_command.h"

#include <utility>

namespace {

// Moves every child list of record into the chain in front of rest, so that
// the record can be destroyed without destroying a list inside it.  Each
// child chain is walked once to find its tail; every record is spliced at
// most once, so releasing a whole tree costs time linear in its size and no
// memory beyond the records themselves.
void SpliceChildrenInFront(SpaceWireCommand &record, SpaceWireCommandList &rest)
{
    for (auto child = record.children.rbegin(); child != record.children.rend(); ++child) {
        SpaceWireCommandList list = std::move(*child);
        if (!list) {
            continue;
        }
        SpaceWireCommand *tail = list.get();
        while (tail->next) {
            tail = tail->next.get();
        }
        tail->next = std::move(rest);
        rest = std::move(list);
    }
    record.children.clear();
}

} // namespace

SpaceWireCommand::~SpaceWireCommand()
{
    SpaceWireCommandList rest = std::move(next);
    SpliceChildrenInFront(*this, rest);
    while (rest) {
        SpaceWireCommandList following = std::move(rest->next);
        SpliceChildrenInFront(*rest, following);
        // The record has neither a next nor children now: its destructor ends here.
        rest = std::move(following);
    }
}

void CS_FreeCommands(SpaceWireCommandList &list)
{
    list.reset();
}
