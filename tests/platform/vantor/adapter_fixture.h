// Shared by the simulated adapter's tests: an opened, registered device 0 and
// small helpers around the C calls.
#ifndef ZARK_TESTS_PLATFORM_VANTOR_ADAPTER_FIXTURE_H
#define ZARK_TESTS_PLATFORM_VANTOR_ADAPTER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "vantor_sim_control.h"

using Bytes = std::vector<std::uint8_t>;

class Adapter : public testing::Test {
protected:
    // Applies the settings, opens device 0 and registers it to receive.
    void Start(const char *settings = "")
    {
        vantor_sim::ApplySettings(settings);
        ASSERT_NE(Vantor_Open(&device_, 0), 0);
        ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(device_), 0);
    }

    void SetUp() override { Start(); }

    void TearDown() override
    {
        // Every test releases what it started.
        EXPECT_EQ(vantor_sim::LiveTransferCount(), 0u);
    }

    // A waiting send of one packet, released at once.
    TransferStatus Send(Bytes bytes)
    {
        TransferId id = nullptr;
        TransferStatus status = Vantor_SendPacket(device_, bytes.data(), static_cast<unsigned>(bytes.size()), 1, &id);
        Vantor_FreeSend(device_, id);
        return status;
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
        Read read;
        read.buffer.assign(size, 0xcc);
        read.properties.assign(count, PacketProperties{99, 99, 0});
        read.started = Vantor_ReadPackets(device_, read.buffer.data(), size, count, 0, read.properties.data(),
                                          &read.id);
        return read;
    }

    // The bytes of packet i of a finished read, from its properties.
    static Bytes PacketOf(const Read &read, std::size_t i)
    {
        std::size_t at = 0;
        for (std::size_t k = 0; k < i; ++k) {
            at += read.properties[k].len;
        }
        return Bytes(read.buffer.begin() + static_cast<std::ptrdiff_t>(at),
                     read.buffer.begin() + static_cast<std::ptrdiff_t>(at + read.properties[i].len));
    }

    DeviceHandle device_ = nullptr;
};

#endif
