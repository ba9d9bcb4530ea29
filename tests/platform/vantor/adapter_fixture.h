// Shared by the simulated adapter's tests: an opened, registered device 0 and
// small helpers around the C calls.
#ifndef ZARK_TESTS_PLATFORM_VANTOR_ADAPTER_FIXTURE_H
#define ZARK_TESTS_PLATFORM_VANTOR_ADAPTER_FIXTURE_H

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/hand_rmap.h"
#include "vantor_sim_control.h"

using hand_rmap::Bytes;
using Arrivals = std::vector<std::pair<Bytes, int>>; // packets with their endings

// A waiting send of one packet, released at once.
inline TransferStatus SendWaiting(DeviceHandle device, Bytes bytes)
{
    TransferId id = nullptr;
    const TransferStatus status = Vantor_SendPacket(device, bytes.data(), static_cast<unsigned>(bytes.size()), 1, &id);
    Vantor_FreeSend(device, id);
    return status;
}

class Adapter : public testing::Test {
protected:
    // Applies the settings, opens device 0 and registers it to receive.
    void Start(const std::string &settings = "")
    {
        vantor_sim::ApplySettings(settings);
        ASSERT_TRUE(Vantor_Open(&device_, 0) != 0 && Vantor_RegisterReceiveOnAllPorts(device_) != 0);
    }
    void SetUp() override { Start(); }
    // Every test releases what it started.
    void TearDown() override { EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u); }

    TransferStatus Send(Bytes bytes, DeviceHandle device = nullptr)
    {
        return SendWaiting(device != nullptr ? device : device_, std::move(bytes));
    }

    // A read whose buffer and properties live in the test.
    struct Read {
        Bytes buffer;
        std::vector<PacketProperties> properties;
        TransferId id = nullptr;
        TransferStatus started = -1;
    };
    Read StartRead(unsigned size, unsigned count)
    {
        Read read{Bytes(size, 0xcc), std::vector<PacketProperties>(count, PacketProperties{99, 99, 0})};
        read.started = Vantor_ReadPackets(device_, read.buffer.data(), size, count, 0, read.properties.data(), &read.id);
        return read;
    }
    TransferStatus Status(const Read &read) { return Vantor_GetReadStatus(device_, read.id); }
    void Free(const Read &read) { EXPECT_EQ(Vantor_FreeRead(device_, read.id), 1); }

    // The bytes of packet i of a read, from its properties.
    static Bytes PacketOf(const Read &read, std::size_t i)
    {
        auto at = read.buffer.begin();
        for (std::size_t k = 0; k < i; ++k) at += static_cast<std::ptrdiff_t>(read.properties[k].len);
        return Bytes(at, at + static_cast<std::ptrdiff_t>(read.properties[i].len));
    }

    // Sends a packet with a read started first: the packet that came back, if any.
    std::optional<Bytes> Exchange(Bytes packet)
    {
        Read read = StartRead(4096, 1);
        Send(std::move(packet));
        const bool received = Status(read) == VANTOR_TRANSFER_SUCCESS;
        Free(read);
        return received ? std::optional(PacketOf(read, 0)) : std::nullopt;
    }

    // Everything waiting in device 0's queue, oldest first, read one packet at a time.
    Arrivals Arrived()
    {
        Arrivals arrivals;
        while (vantor_sim::GetDeviceState(0).queued_packets > 0 && arrivals.size() < 64) {
            Read read = StartRead(4096, 1);
            arrivals.emplace_back(PacketOf(read, 0), read.properties[0].eop);
            Free(read);
        }
        return arrivals;
    }

    DeviceHandle device_ = nullptr;
};

#endif
