// Helpers for filling RmapPacketInfo.
#ifndef ZARK_PLATFORM_QUILL_RMAP_PACKET_INFO_H
#define ZARK_PLATFORM_QUILL_RMAP_PACKET_INFO_H

#include "device/quill_rmap.h"

namespace quill_rmap::detail {

// A description of nothing: every field zero or null, packet type invalid.
RmapPacketInfo EmptyPacketInfo();

} // namespace quill_rmap::detail

#endif
