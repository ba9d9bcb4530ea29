// Owners for what the device library hands out and must get back exactly
// once: a started transfer's identifier, and receiving while registered.
// Every path out of the code that started them gives them back, including
// early returns, so no identifier is freed twice or left behind.
#ifndef ZARK_COMMON_TRANSFER_GUARD_H
#define ZARK_COMMON_TRANSFER_GUARD_H

#include <utility>

#include "device/vantor_api.h"

template <unsigned char (*kFree)(DeviceHandle, TransferId)>
class OwnedTransfer {
public:
    OwnedTransfer() = default;
    OwnedTransfer(const OwnedTransfer &) = delete;
    OwnedTransfer &operator=(const OwnedTransfer &) = delete;
    OwnedTransfer(OwnedTransfer &&other) noexcept
        : device_(other.device_), id_(std::exchange(other.id_, nullptr))
    {
    }
    OwnedTransfer &operator=(OwnedTransfer &&other) noexcept
    {
        if (this != &other) {
            Free();
            device_ = other.device_;
            id_ = std::exchange(other.id_, nullptr);
        }
        return *this;
    }
    ~OwnedTransfer() { Free(); }

    // Where the library's start call writes the identifier; a transfer this
    // owner still held is freed first.
    TransferId *Start(DeviceHandle device)
    {
        Free();
        device_ = device;
        return &id_;
    }
    TransferId id() const { return id_; }
    explicit operator bool() const { return id_ != nullptr; }
    void Free()
    {
        if (id_ != nullptr) {
            kFree(device_, std::exchange(id_, nullptr));
        }
    }

private:
    DeviceHandle device_ = nullptr;
    TransferId id_ = nullptr;
};

using OwnedSend = OwnedTransfer<&Vantor_FreeSend>;
using OwnedRead = OwnedTransfer<&Vantor_FreeRead>;

// Packets are received only while this lives.
class ReceiveRegistration {
public:
    explicit ReceiveRegistration(DeviceHandle device) : device_(device) { Vantor_RegisterReceiveOnAllPorts(device); }
    ReceiveRegistration(const ReceiveRegistration &) = delete;
    ReceiveRegistration &operator=(const ReceiveRegistration &) = delete;
    ~ReceiveRegistration() { Vantor_UnregisterReceiveOnAllPorts(device_); }

private:
    DeviceHandle device_;
};

#endif
