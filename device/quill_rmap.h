/*
 * The RMAP packet library (ECSS-E-ST-50-52C), as this program uses it.
 *
 * C linkage, so the program links unchanged against the closed library or
 * against our codec under platform/quill_rmap.  Build functions return a new
 * packet that the caller releases with RMAP_FreeBuffer; RMAP_CheckPacketValid
 * describes received bytes in place, without copying them.
 *
 * Address conventions: the target address bytes of a command are the path to
 * the target followed by the target logical address (the last byte); the reply
 * address bytes are the reply path followed by the initiator logical address
 * (the last byte).  On a received reply, the reply address is what stands in
 * front of the protocol identifier and the target address is the target
 * logical address of the reply header.  A reply path is padded in front with
 * zero bytes and leading zeros read back as padding, so a reply path that
 * starts with 0x00 reads back without those bytes; a reply address field of
 * zeros only reads back as the one-byte path 0x00.
 *
 * The trailing argument of the build functions and of RMAP_CheckPacketValid
 * is accepted for compatibility (callers pass 1) and otherwise ignored.
 */
#ifndef ZARK_DEVICE_QUILL_RMAP_H
#define ZARK_DEVICE_QUILL_RMAP_H

#ifdef __cplusplus
extern "C" {
#endif

/* Packet types reported by RMAP_GetPacketType. */
enum {
    RMAP_PACKET_TYPE_READ_REPLY = 0,
    RMAP_PACKET_TYPE_READ_MODIFY_WRITE_REPLY = 16,
    RMAP_PACKET_TYPE_WRITE_REPLY = 32,
    RMAP_PACKET_TYPE_READ_COMMAND = 64,
    RMAP_PACKET_TYPE_READ_MODIFY_WRITE_COMMAND = 80,
    RMAP_PACKET_TYPE_WRITE_COMMAND = 96,
    RMAP_PACKET_TYPE_INVALID = 255
};

/*
 * Description of a built or validated packet.  The caller provides the
 * storage.  Pointers point into the packet itself (built or received); no
 * bytes are copied.  header_crc_location and data_crc_location are set by the
 * build functions so that a caller can overwrite a CRC on purpose; they are
 * null after RMAP_CheckPacketValid and where a packet has no such byte.
 * header_crc and data_crc keep the values the packet was built or received
 * with; a packet without data has data_crc 0 and no data.  Fields a packet
 * does not carry (a reply's key and addresses, a command's status) are 0.
 */
typedef struct RmapPacketInfo {
    int packet_type;
    unsigned char instruction;
    unsigned char key;
    unsigned char status;
    unsigned short transaction_id;
    unsigned char extended_address;
    unsigned int address;
    unsigned int data_length; /* the data length field */
    const unsigned char *packet;
    unsigned int packet_length;
    const unsigned char *target_address;
    unsigned long long target_address_length;
    const unsigned char *reply_address;
    unsigned long long reply_address_length;
    const unsigned char *data; /* data field (read/modify/write command: data then mask) */
    unsigned int data_count;
    unsigned char header_crc;
    unsigned char data_crc;
    unsigned char *header_crc_location;
    unsigned char *data_crc_location;
} RmapPacketInfo;

/*
 * Command builders.  A build fails, returning null with *packet_length 0 and
 * *info cleared (packet type 255), when: the target or reply address is
 * empty (a null pointer with count 0 is empty); a pointer is null with a
 * non-zero count; the reply path (reply address without its last byte) is
 * longer than 12 bytes; the data length is above 0xFFFFFF; a read/modify/write
 * data length is not 0, 2, 4, 6 or 8; or the packet would not fit in 32 bits
 * or in memory.  packet_length and info may be null.  Flags count as set when
 * non-zero.
 */
unsigned char *RMAP_BuildWriteCommandPacket(
    const unsigned char *target_address, unsigned int target_address_length,
    const unsigned char *reply_address, unsigned char reply_address_length,
    unsigned char verify, unsigned char acknowledge, unsigned char increment,
    unsigned char key, unsigned short transaction_id, unsigned int address,
    unsigned char extended_address, const unsigned char *data, unsigned int data_length,
    unsigned int *packet_length, RmapPacketInfo *info, unsigned char always_one);

unsigned char *RMAP_BuildReadCommandPacket(
    const unsigned char *target_address, unsigned int target_address_length,
    const unsigned char *reply_address, unsigned char reply_address_length,
    unsigned char increment, unsigned char key, unsigned short transaction_id,
    unsigned int address, unsigned char extended_address, unsigned int read_length,
    unsigned int *packet_length, RmapPacketInfo *info, unsigned char always_one);

/* data_length is the packet's data length field: data bytes plus mask bytes,
   taken half from data and half from mask. */
unsigned char *RMAP_BuildReadModifyWriteCommandPacket(
    const unsigned char *target_address, unsigned int target_address_length,
    const unsigned char *reply_address, unsigned char reply_address_length,
    unsigned char key, unsigned short transaction_id, unsigned int address,
    unsigned char extended_address, unsigned char data_length,
    const unsigned char *data, const unsigned char *mask,
    unsigned int *packet_length, RmapPacketInfo *info, unsigned char always_one);

/* Releases a packet from a build function; null is ignored. */
void RMAP_FreeBuffer(unsigned char *packet);

/*
 * Results of RMAP_CheckPacketValid: 0 when the bytes are a complete,
 * consistent RMAP command or reply, otherwise the first fault found.
 *
 * Bytes below 32 in front of the packet are path addresses (logical addresses
 * run from 32 to 255): the first byte of 32 or more is the logical address
 * that the protocol identifier must follow.  A command's path bytes belong to
 * its target address, a reply's to its reply address.
 *
 * Checked in order.  Commands: 2, 3, 6, 7, then 4, 5 (a target discards a
 * corrupt header before judging its instruction), then 8 or 9, 10, 11.
 * Replies: 2, 3, 4, 5, 6, 7, then 8 or 9, 10, 11.
 */
enum {
    RMAP_CHECK_OK = 0,
    RMAP_CHECK_NULL_BYTES = 1,       /* a null pointer with a non-zero length */
    RMAP_CHECK_TOO_SHORT = 2,        /* no logical address, protocol identifier and
                                        instruction after the path bytes (also length 0) */
    RMAP_CHECK_PROTOCOL_ID = 3,      /* protocol identifier other than 1 */
    RMAP_CHECK_RESERVED_BIT = 4,     /* instruction bit 7 set */
    RMAP_CHECK_COMMAND_CODE = 5,     /* command code that does not exist; for a reply
                                        also a command that asks for no reply */
    RMAP_CHECK_HEADER_TRUNCATED = 6, /* fewer bytes than the header the instruction implies */
    RMAP_CHECK_HEADER_CRC = 7,       /* header CRC wrong */
    RMAP_CHECK_DATA_TRUNCATED = 8,   /* fewer bytes than data length plus data CRC (early EOP) */
    RMAP_CHECK_TOO_LONG = 9,         /* bytes beyond the end the header implies (too much data) */
    RMAP_CHECK_DATA_CRC = 10,        /* data CRC wrong */
    RMAP_CHECK_READ_MODIFY_WRITE_LENGTH = 11 /* read/modify/write data length not 0, 2, 4, 6
                                                or 8 (command) or above 4 (reply) */
};

/*
 * Validates and describes bytes in place: info's pointers point into them.
 * On a non-zero result info is cleared (packet type 255).  info may be null.
 * The trailing argument is accepted for compatibility and ignored.
 */
int RMAP_CheckPacketValid(const void *bytes, unsigned int length, RmapPacketInfo *info,
                          unsigned char always_one);

/* Accessors; a null record reads as a cleared one (type 255, no bytes). */
int RMAP_GetPacketType(const RmapPacketInfo *info);
const unsigned char *RMAP_GetReplyAddress(const RmapPacketInfo *info, unsigned long long *length);
const unsigned char *RMAP_GetTargetAddress(const RmapPacketInfo *info, unsigned long long *length);
const unsigned char *RMAP_GetData(const RmapPacketInfo *info, unsigned int *length);
unsigned char RMAP_GetVerifyBeforeWrite(const RmapPacketInfo *info);
unsigned char RMAP_GetIncrementAddress(const RmapPacketInfo *info);
unsigned char RMAP_GetStatus(const RmapPacketInfo *info);
unsigned short RMAP_GetTransactionID(const RmapPacketInfo *info);
unsigned char RMAP_GetHeaderCRC(const RmapPacketInfo *info);
unsigned char RMAP_GetDataCRC(const RmapPacketInfo *info);

#ifdef __cplusplus
}
#endif

#endif
