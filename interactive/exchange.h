// The exchange both interactive modes make with the device: listen, send the
// packet typed or built, and show what arrives until a key is pressed.
#ifndef ZARK_INTERACTIVE_EXCHANGE_H
#define ZARK_INTERACTIVE_EXCHANGE_H

#include <cstdint>
#include <functional>
#include <span>

#include "device/vantor_api.h"

// What a mode says at each step, and how long it listens.
struct ExchangeStyle {
    const char *no_buffer;   // the receive buffer cannot be had (nothing is awaited then)
    const char *send_failed; // before the status's name
    const char *sent;        // after a packet went out
    const char *waiting;     // each time a wait begins
    const char *read_failed; // before the status's name, unless a key ended the wait
    // A monitor listens even when its packet did not go out, and after each
    // packet until a key is pressed; otherwise one reply ends the exchange.
    bool monitor;
};

// Shows one packet received: its bytes and how it ended.
using ShowReceived = std::function<void(const std::uint8_t *bytes, int length, int end_type)>;

// Sends the packet and waits until it has gone, saying how it went.  True
// when it was sent.
bool SendPacket(DeviceHandle device, std::span<const std::uint8_t> packet, const ExchangeStyle &style);

// Listens on all ports, sends the packet (nothing when it is empty) and shows
// what arrives in single-key mode.  Every transfer and the registration are
// released before it returns.
void ExchangePacket(DeviceHandle device, std::span<const std::uint8_t> packet, const ExchangeStyle &style,
                    const ShowReceived &show);

#endif
