// Control of the simulated SpaceWire-USB adapter, for tests and benchmarks.
//
// The simulator behind device/vantor_api.h models one adapter with up to 32
// devices and, at the far end of every device's link, an RMAP target and a
// loopback plug.  Its settings are those of VANTOR_SIM (grammar and worked
// example in sim_settings.h); ApplySettings replaces them from C++.
//
// How the simulated adapter behaves:
//
// - In-process devices are synchronous.  A sent packet reaches the far end
//   while the send call runs, and the reply (or loopback copy) arrives at the
//   adapter at once.  All in-process devices' links lead to the same far end:
//   one target with one memory.
// - Bridge devices (devices=N:T@HOST:PORT) connect over TCP when opened and
//   carry packets as SSDTP2 frames (ssdtp.h).  A receiver thread reads the
//   socket all the time; packets it decodes are delivered to reads inside the
//   caller's library calls, in the order they arrived.  Sends not waited for
//   are batched and go out at the latest with the next call that waits or
//   polls on the device (status, wait, unregister) and when the library is
//   unloaded; until then Vantor_WaitOnSendCompleting writes them and gives
//   their status.  A blocking read wait without time-out ends with 6 after
//   idle_wait quiet seconds.  A lost connection or a broken peer (bad flag,
//   reserved byte, size beyond packet_limit, control frame of the wrong size,
//   a packet unfinished for stall_limit seconds) ends every waiting read and
//   unwritten send with 3, is named once in a "VANTOR_SIM:" line, and makes
//   later sends and reads return 3 at once until the device is opened again.
//   send_status and read_status do not apply to bridges.
// - Devices.  Vantor_GetUnopenedDeviceType gives -1 for a number with no
//   attached device.  Opening an open device again succeeds with the same
//   handle and state.  Header and network mode are only recorded.
//   Vantor_SetTimeout refuses (returns 0) a time-out that is not a finite
//   number above 0.
// - Arrival.  A packet arriving at a device fills the oldest unfinished read
//   of that device, so a read started before a send receives its reply.  With
//   no read pending it waits in a queue, drained by the next read, but only
//   while the device is registered to receive on all ports; unregistered, it is
//   dropped, and unregistering discards the queue.
// - Reads.  Vantor_ReadPackets returns 0 for unusable arguments (unknown
//   handle, null buffer, properties or id, size or count 0), 14 when the device
//   is not registered (the id is still handed out and reports 14), and 1
//   otherwise, even when queued packets complete it at once.  Packets lie back
//   to back in the buffer, one PacketProperties each; entries of packets not
//   received have length 0.  A packet larger than the room left in the buffer
//   ends the read with status 10 and is lost.  Vantor_GetReadStatus gives 1
//   while the read waits, 2 once it holds all its packets, and 6 once the
//   device's time-out has passed since the read started (packets that did
//   arrive stay in the buffer and properties).  The time-out is the one set
//   on the device (Vantor_SetTimeout) when the read started; without one a read
//   never times out by itself.
// - Vantor_WaitOnReadCompleting: a finished read returns its status.  With a
//   time-out it sleeps until the deadline and returns 6: nothing can arrive
//   while the only thread is blocked.  Without a time-out, a read that is
//   still unfinished can never finish, so it ends with 6 at once instead of
//   hanging.
// - Sends.  A non-waiting Vantor_SendPacket or Vantor_SendMultiplePacketLengths
//   returns 1; Vantor_WaitOnSendCompleting then returns 2.  A waiting send
//   returns its final status.  Packets of zero length, null pointers and
//   counts of 0 are refused with 0.  Packets end with an EEP while
//   Vantor_EnableSendEEPs is on.
// - Fault injection.  send_status=S: every send ends with S (the packets go
//   out only when S is 2).  read_status=S: every read ends with S at once,
//   receiving nothing; Vantor_ReadPackets still returns 1.
// - Faulty far end.  reply_fault=KIND with reply_fault_every=N spoils target
//   reply number N, 2N, 3N... (counted from 1 since the settings were applied,
//   over all devices, at the far end: a reply dropped at an unregistered
//   device still counts; loopback packets do not).  A spoilt reply arrives
//   like any other: it fills the oldest unfinished read or waits in the queue,
//   and the trace shows it as it arrived.  The kinds, with the reply path
//   already taken off:
//     header_crc      header CRC byte inverted (byte 7 of a write reply,
//                     byte 11 of a read or read/modify/write reply)
//     data_crc        data CRC (last byte) inverted; a write reply has none
//                     and arrives unchanged, but is counted all the same
//     truncate        the last byte missing
//     pad             one byte 0x00 added at the end
//     transaction_id  identifier + 1 modulo 65536, header CRC recomputed
//     eep             unchanged bytes ending with an EEP
//     duplicate       two identical copies, one after the other: they fill
//                     two reads, or one read of two packets, or both queue
//     drop            nothing arrives; a read waiting for it times out
// - Bad identifiers.  Status and wait calls on an unknown, released or
//   other-kind TransferId give 12; on an unknown DeviceHandle 5.  Free calls on
//   such identifiers return 0 and release nothing.  Handles and ids never
//   repeat, so a released id stays unknown for good.
// - Far end.  Path address bytes (0 to 31) in front of a packet are skipped;
//   a packet is a command for the target when it then starts with the target's
//   logical address, protocol identifier 1 and an instruction with the command
//   bit.  The target takes the path off, executes the command on its memory
//   and sends the reply back with the reply path taken off.  Every other packet
//   is looped back exactly as sent, with the same ending.  far_end= chooses
//   which of the two answer.
// - The target's memory is 40-bit (extended address, address), sparse: a byte
//   never written reads as the low 8 bits of its own address.  memory_map=
//   gives the target a device's memory map instead (memory_map.h): regions
//   with access rules and first content, logical addresses and key; with it
//   every RMAP command is the target's, whatever its logical address.
// - trace=PATH appends one line per packet sent (">") and per packet arriving
//   at a registered device ("<"): the sign, a blank, the bytes in two-digit
//   lower-case hexadecimal each followed by a blank, then EOP, EEP, or none
//   for an injected packet without end marker.  Example: "> fe 01 4c EOP".
//   Packets dropped at an unregistered device are not traced.
// - capture=PATH writes the same packets, and the time-codes a bridge's peer
//   sent, with their times to PATH as a pcap file for Wireshark (capture.h);
//   the file is created anew each time the settings are applied.
// - Malformed settings are named in one line on standard output beginning
//   "VANTOR_SIM:", printed when the settings are applied, and ignored.
// - Calls may come from several threads: each holds the library's lock while
//   it works, and a blocking wait on a bridge releases it while it sleeps.
#ifndef ZARK_PLATFORM_VANTOR_SIM_CONTROL_H
#define ZARK_PLATFORM_VANTOR_SIM_CONTROL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "device/vantor_api.h"

namespace vantor_sim {

struct Packet {
    std::vector<std::uint8_t> bytes;
    int eop = VANTOR_EOP_EOP; // VANTOR_EOP_EOP, VANTOR_EOP_EEP or VANTOR_EOP_NONE
};

struct SentPacket {
    int device = 0; // the number of the device that sent it
    Packet packet;
};

// What the program has done to a device.  Modes and time-out stay empty until set.
struct DeviceState {
    bool attached = false;
    bool open = false;
    std::optional<bool> header_mode;
    std::optional<bool> network_mode;
    std::optional<double> timeout_seconds;
    bool registered = false;
    bool send_eeps = false;
    std::size_t queued_packets = 0; // arrived and waiting for a read
};

// Replaces all settings with those of text and resets the simulator: devices
// closed (their handles and all transfer ids become unknown), queues emptied,
// target memory back to its initial contents, sent log emptied.  Prints the
// complaint line for malformed settings.  True when every setting was sound.
bool ApplySettings(std::string_view text);

// Delivers a packet to a device as if it came over its link.  False when the
// device is not open or not registered (the packet is dropped).
bool InjectPacket(int device_number, std::span<const std::uint8_t> bytes,
                  int eop = VANTOR_EOP_EOP);

// The packets sent since the last reset or take, oldest first, and forgets
// them.  Only the most recent kSentLogLimit are kept.
inline constexpr std::size_t kSentLogLimit = 65536;
std::vector<SentPacket> TakeSentPackets();

// The target's memory, addressed by extended address * 2^32 + address.
inline constexpr std::uint64_t Address40(std::uint8_t extended_address, std::uint32_t address)
{
    return (static_cast<std::uint64_t>(extended_address) << 32) | address;
}
std::vector<std::uint8_t> ReadTargetMemory(std::uint64_t address, std::size_t count);
void WriteTargetMemory(std::uint64_t address, std::span<const std::uint8_t> bytes);

DeviceState GetDeviceState(int device_number);

// Transfers started and not yet released, all devices together.
std::size_t LiveTransferCount();

} // namespace vantor_sim

#endif
