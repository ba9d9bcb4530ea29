// The three kinds of RMAP command, named once for every mode.  Their values
// are the codec's packet types for the commands, so that a kind compares
// directly with what the codec reports of a packet.
#ifndef ZARK_COMMON_RMAP_COMMAND_KIND_H
#define ZARK_COMMON_RMAP_COMMAND_KIND_H

#include <cstdint>

#include "device/quill_rmap.h"

enum RmapCommandKind : std::int32_t {
    RMAP_COMMAND_READ = RMAP_PACKET_TYPE_READ_COMMAND,
    RMAP_COMMAND_READ_MODIFY_WRITE = RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND,
    RMAP_COMMAND_WRITE = RMAP_PACKET_TYPE_WRITE_COMMAND
};

#endif
