// Shared by the simulated adapter's tests: device 0 opened and registered
// through the C calls, and reads whose buffers live in the test.
#ifndef ZARK_TESTS_PLATFORM_VANTOR_ADAPTER_FIXTURE_H
#define ZARK_TESTS_PLATFORM_VANTOR_ADAPTER_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/hand_rmap.h"
#include "vantor_sim_control.h"

using hand_rmap::Bytes;
using Arrivals = std::vector<std::pair<Bytes, int>>; // packets with their endings

struct Read {
    DeviceHandle device = nullptr;
    Bytes buffer;
    std::vector<PacketProperties> properties;
    TransferId id = nullptr;
    TransferStatus started = -1;

    TransferStatus Status() const { return Vantor_GetReadStatus(device, id); }
    TransferStatus Wait() const { return Vantor_WaitOnReadCompleting(device, id, 0); }
    void Free() const { EXPECT_EQ(Vantor_FreeRead(device, id), 1); }
    // The packets in the buffer: entries up to the first never filled (length 0, no ending).
    Arrivals Packets() const
    {
        Arrivals packets;
        auto at = buffer.begin();
        for (const PacketProperties &entry : properties) {
            if (entry.len == 0 && entry.eop == VANTOR_EOP_NONE) break;
            packets.emplace_back(Bytes(at, at + static_cast<std::ptrdiff_t>(entry.len)), entry.eop);
            at += static_cast<std::ptrdiff_t>(entry.len);
        }
        return packets;
    }
};

class Adapter : public testing::Test {
protected:
    void Start(const std::string &settings = "")
    {
        vantor_sim::ApplySettings(settings);
        ASSERT_TRUE(Vantor_Open(&device_, 0) != 0 && Vantor_RegisterReceiveOnAllPorts(device_) != 0);
    }
    void SetUp() override { Start(); }
    // Every test releases what it started; a reset closes bridges before their peers go.
    void TearDown() override
    {
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
        vantor_sim::ApplySettings("");
    }

    // A waiting send of one packet, released at once.
    TransferStatus Send(Bytes bytes, DeviceHandle device = nullptr)
    {
        device = device != nullptr ? device : device_;
        TransferId id = nullptr;
        const TransferStatus status = Vantor_SendPacket(device, bytes.data(), static_cast<unsigned>(bytes.size()), 1, &id);
        Vantor_FreeSend(device, id);
        return status;
    }
    Read StartRead(unsigned size, unsigned count, DeviceHandle device = nullptr)
    {
        Read read{device != nullptr ? device : device_, Bytes(size, 0xcc), std::vector<PacketProperties>(count)};
        read.started =
            Vantor_ReadPackets(read.device, read.buffer.data(), size, count, 0, read.properties.data(), &read.id);
        return read;
    }
    DeviceHandle device_ = nullptr;
};

#endif
