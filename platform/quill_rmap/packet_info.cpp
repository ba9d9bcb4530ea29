#include "packet_info.h"
#include "rmap_format.h"

// Every accessor answers a null record as it would an empty description.
extern "C" {

int RMAP_GetPacketType(const RmapPacketInfo *info) {
    return info != nullptr ? info->packet_type : RMAP_PACKET_TYPE_INVALID;
}

const unsigned char *RMAP_GetReplyAddress(const RmapPacketInfo *info, unsigned long long *length) {
    if (length != nullptr) *length = info != nullptr ? info->reply_address_length : 0;
    return info != nullptr ? info->reply_address : nullptr;
}

const unsigned char *RMAP_GetTargetAddress(const RmapPacketInfo *info, unsigned long long *length) {
    if (length != nullptr) *length = info != nullptr ? info->target_address_length : 0;
    return info != nullptr ? info->target_address : nullptr;
}

const unsigned char *RMAP_GetData(const RmapPacketInfo *info, unsigned int *length) {
    if (length != nullptr) *length = info != nullptr ? info->data_count : 0;
    return info != nullptr ? info->data : nullptr;
}

unsigned char RMAP_GetVerifyBeforeWrite(const RmapPacketInfo *info) {
    return info != nullptr && (info->instruction & quill_rmap::detail::kVerifyBit) != 0 ? 1 : 0;
}

unsigned char RMAP_GetIncrementAddress(const RmapPacketInfo *info) {
    return info != nullptr && (info->instruction & quill_rmap::detail::kIncrementBit) != 0 ? 1 : 0;
}

unsigned char RMAP_GetStatus(const RmapPacketInfo *info) { return info != nullptr ? info->status : 0; }

unsigned short RMAP_GetTransactionID(const RmapPacketInfo *info) {
    return info != nullptr ? info->transaction_id : 0;
}

unsigned char RMAP_GetHeaderCRC(const RmapPacketInfo *info) { return info != nullptr ? info->header_crc : 0; }

unsigned char RMAP_GetDataCRC(const RmapPacketInfo *info) { return info != nullptr ? info->data_crc : 0; }

} // extern "C"
