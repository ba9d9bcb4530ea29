#include "interactive/exchange.h"

#include <cstdio>

#include "app/settings.h"
#include "common/display.h"
#include "common/key_press.h"
#include "common/receive_buffer.h"
#include "common/transfer_guard.h"

namespace {

void StartRead(DeviceHandle device, const ReceiveBuffer &buffer, PacketProperties &properties, OwnedRead &read)
{
    Vantor_ReadPackets(device, buffer.data(), buffer.size, 1, 0, &properties, read.Start(device));
}

void AwaitPackets(DeviceHandle device, const ReceiveBuffer &buffer, PacketProperties &properties, OwnedRead &read,
                  const ExchangeStyle &style, const ShowReceived &show)
{
    {
        // Single-key mode before the message, so that a key pressed as soon as
        // it shows is neither echoed nor left for the next prompt.
        SingleKeyMode single_key_mode;
        for (;;) {
            std::puts(style.waiting);
            std::fflush(stdout);
            TransferStatus status = VANTOR_TRANSFER_NOT_STARTED;
            bool key_pressed = false;
            WaitOnKeyPressOrReadCompleting(device, read.id(), &status, &key_pressed);
            read.Free();
            if (status != VANTOR_TRANSFER_SUCCESS) {
                if (!key_pressed) {
                    std::printf("%s%s\n", style.read_failed, DisplayStatus(status));
                }
                break;
            }
            show(buffer.data(), ReceivedLength(buffer, properties.len), properties.eop);
            if (key_pressed || !style.monitor) {
                break;
            }
            StartRead(device, buffer, properties, read);
        }
    }
    std::fflush(stdout);
}

} // namespace

bool SendPacket(DeviceHandle device, std::span<const std::uint8_t> packet, const ExchangeStyle &style)
{
    OwnedSend send;
    const TransferStatus status = Vantor_SendPacket(device, const_cast<std::uint8_t *>(packet.data()),
                                                    static_cast<unsigned int>(packet.size()), 1, send.Start(device));
    if (status != VANTOR_TRANSFER_SUCCESS) {
        std::printf("%s%s\n", style.send_failed, DisplayStatus(status));
        return false;
    }
    std::fputs(style.sent, stdout);
    return true;
}

void ExchangePacket(DeviceHandle device, std::span<const std::uint8_t> packet, const ExchangeStyle &style,
                    const ShowReceived &show)
{
    const ReceiveRegistration registration(device);
    // Declared before the read, so that they outlast it: the device writes into both.
    const ReceiveBuffer buffer = AllocateReceiveBuffer(static_cast<std::uint64_t>(receive_buffer_size));
    PacketProperties properties{};
    OwnedRead read;
    if (buffer) {
        StartRead(device, buffer, properties, read);
    } else {
        std::puts(style.no_buffer);
    }
    const bool sent = packet.empty() || SendPacket(device, packet, style);
    if (buffer && (sent || style.monitor)) {
        AwaitPackets(device, buffer, properties, read, style, show);
    }
}
