/*
 * The SpaceWire-USB adapter's device library, as this program uses it.
 *
 * C linkage, so the program links unchanged against the adapter's own
 * library or against the simulated adapter under platform/vantor.
 * Only the calls, types and constants the program needs are declared.
 */
#ifndef ZARK_DEVICE_VANTOR_API_H
#define ZARK_DEVICE_VANTOR_API_H

#ifdef __cplusplus
extern "C" {
#endif

/* An opened adapter. */
typedef void *DeviceHandle;

/* A started send or read; released once with Vantor_FreeSend or Vantor_FreeRead. */
typedef void *TransferId;

/* State of a transfer. */
typedef int TransferStatus;
enum {
    VANTOR_TRANSFER_NOT_STARTED = 0,
    VANTOR_TRANSFER_STARTED = 1,
    VANTOR_TRANSFER_SUCCESS = 2,
    VANTOR_TRANSFER_ERROR_DISCONNECT = 3,
    VANTOR_TRANSFER_ERROR_PARITY = 4,
    VANTOR_TRANSFER_ERROR_UNKNOWN = 5,
    VANTOR_TRANSFER_ERROR_TIMEOUT = 6,
    VANTOR_TRANSFER_ERROR_LINK_NOT_STARTED = 7,
    VANTOR_TRANSFER_ERROR_USER_BUFFER_LOCK_FAILED = 8,
    VANTOR_TRANSFER_ERROR_LINK_ALREADY_IN_USE = 9,
    VANTOR_TRANSFER_ERROR_RECEIVE_BUFFER_FULL = 10,
    VANTOR_TRANSFER_ERROR_OUT_OF_MEMORY = 11,
    VANTOR_TRANSFER_ERROR_NOT_FOUND = 12,
    VANTOR_TRANSFER_ERROR_USB_ERROR = 13,
    VANTOR_TRANSFER_ERROR_NOT_REGISTERED_TO_RECEIVE = 14
};

/* End-of-packet markers of a received packet. */
enum {
    VANTOR_EOP_NONE = 0,
    VANTOR_EOP_EEP = 64,
    VANTOR_EOP_EOP = 128
};

/* Per received packet: its length and how it ended. 16 bytes. */
typedef struct PacketProperties {
    unsigned long long len; /* bytes received */
    int eop;                /* VANTOR_EOP_EOP, VANTOR_EOP_EEP or VANTOR_EOP_NONE */
    int reserved;           /* not read */
} PacketProperties;

/* Adapter types reported before opening. */
typedef int DeviceType;
enum {
    VANTOR_DEVICE_PELMAR = 0,
    VANTOR_DEVICE_OSTREL = 1,
    VANTOR_DEVICE_QUENBY = 2,
    VANTOR_DEVICE_VARROW = 3,
    VANTOR_DEVICE_DRUMMET = 4,
    VANTOR_DEVICE_QUENBY_MK2 = 5,
    VANTOR_DEVICE_HOLBECK = 6,
    VANTOR_DEVICE_FENNICK = 7,
    VANTOR_DEVICE_CORVANE = 8,
    VANTOR_DEVICE_DEMBREL = 9,
    VANTOR_DEVICE_TAMSEL_II = 10,
    VANTOR_DEVICE_LUNKETT = 255
};

double Vantor_GetDriverVersion(void);
unsigned char Vantor_CountDevices(void);
unsigned int Vantor_ListDevices(void);
DeviceType Vantor_GetUnopenedDeviceType(int device_number);
/* Non-zero on success; *device is then the open adapter. */
unsigned char Vantor_Open(DeviceHandle *device, int device_number);

unsigned char Vantor_EnableHeaderMode(DeviceHandle device, unsigned char enable);
unsigned char Vantor_EnableNetworkMode(DeviceHandle device, unsigned char enable);
/* A read not complete within this many seconds ends with status 6. */
unsigned char Vantor_SetTimeout(DeviceHandle device, double seconds);

unsigned char Vantor_RegisterReceiveOnAllPorts(DeviceHandle device);
unsigned char Vantor_UnregisterReceiveOnAllPorts(DeviceHandle device);
/* While enabled, packets sent end with an EEP instead of an EOP. */
unsigned char Vantor_EnableSendEEPs(DeviceHandle device, unsigned char enable);

TransferStatus Vantor_SendPacket(DeviceHandle device, void *data, unsigned int length,
                                 unsigned char wait, TransferId *id);
TransferStatus Vantor_SendMultiplePacketLengths(DeviceHandle device, void **packets,
                                                unsigned int *lengths, unsigned int count,
                                                unsigned char wait, TransferId *id);
/* Receives up to count packets back to back into buffer (size bytes in all),
 * one PacketProperties per packet; a packet not received has length 0. */
TransferStatus Vantor_ReadPackets(DeviceHandle device, void *buffer, unsigned int size,
                                  unsigned int count, unsigned char wait,
                                  PacketProperties *properties, TransferId *id);
TransferStatus Vantor_GetReadStatus(DeviceHandle device, TransferId id);
TransferStatus Vantor_WaitOnReadCompleting(DeviceHandle device, TransferId id, unsigned char flag);
TransferStatus Vantor_WaitOnSendCompleting(DeviceHandle device, TransferId id, unsigned char flag);
unsigned char Vantor_FreeRead(DeviceHandle device, TransferId id);
unsigned char Vantor_FreeSend(DeviceHandle device, TransferId id);

#ifdef __cplusplus
}
static_assert(sizeof(PacketProperties) == 16, "PacketProperties must be 16 bytes");
#endif

#endif
