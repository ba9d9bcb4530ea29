#include "stream_spacewire/spacewire_command.h"

#include <cstdio>
#include <new>

// Execution state is not copied.
SpaceWireCommandList CopyRecordFields(const SpaceWireCommand &source)
{
    SpaceWireCommandList copy(new (std::nothrow) SpaceWireCommand(source.type, source.number));
    if (!copy) {
        ReportCopyOutOfMemory(source);
        return nullptr;
    }
    copy->packet_count = source.packet_count;
    switch (source.type) {
    case SPACEWIRE_COMMAND_SEND:
        copy->data_length = source.data_length;
        copy->end_with_eep = source.end_with_eep;
        try {
            copy->data = source.data;
        } catch (const std::bad_alloc &) {
            std::printf("Error, couldn't allocate memory for copied send command %d's data\n", source.number);
            return nullptr;
        }
        break;
    case SPACEWIRE_COMMAND_RECEIVE:
        copy->packet_length = source.packet_length;
        try {
            copy->filename = source.filename;
        } catch (const std::bad_alloc &) {
            std::printf("Error, couldn't allocate memory for copied read command %d's filename\n", source.number);
            return nullptr;
        }
        break;
    case SPACEWIRE_COMMAND_LOOP:
        break;
    }
    return copy;
}

void ReportCopyOutOfMemory(const SpaceWireCommand &at)
{
    std::printf("Error, couldn't allocate memory for copied command %d\n", at.number);
}

void ReportExpansionOutOfMemory(const SpaceWireCommand &loop)
{
    std::printf("Could not allocate memory for children of loop command %d\n", loop.number);
}
