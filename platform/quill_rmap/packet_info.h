// Helpers for filling RmapPacketInfo.
#ifndef ZARK_PLATFORM_QUILL_RMAP_PACKET_INFO_H
#define ZARK_PLATFORM_QUILL_RMAP_PACKET_INFO_H

#include "device/quill_rmap.h"

namespace quill_rmap::detail {

// Makes info a description of nothing: every field zero or null, packet type
// invalid.  Field by field, not by assigning a cleared record: that compiled
// to a string store whose start-up cost more than the check it ended, and
// fields set again right after are left to the compiler to drop.
inline void ClearPacketInfo(RmapPacketInfo &info) {
    info.packet_type = RMAP_PACKET_TYPE_INVALID;
    info.instruction = 0;
    info.key = 0;
    info.status = 0;
    info.transaction_id = 0;
    info.extended_address = 0;
    info.address = 0;
    info.data_length = 0;
    info.packet = nullptr;
    info.packet_length = 0;
    info.target_address = nullptr;
    info.target_address_length = 0;
    info.reply_address = nullptr;
    info.reply_address_length = 0;
    info.data = nullptr;
    info.data_count = 0;
    info.header_crc = 0;
    info.data_crc = 0;
    info.header_crc_location = nullptr;
    info.data_crc_location = nullptr;
}

} // namespace quill_rmap::detail

#endif
