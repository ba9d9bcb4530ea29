// The capture file as the device library writes it: the pcap header, one
// record per packet sent or delivered on in-process and bridge devices alike,
// time-codes as records of their own, and records cut at the largest size
// readers accept.  Its times change from run to run: no golden can hold it.
#include <gtest/gtest.h>

#include "support/scratch_dir.h"
#include "support/ssdtp_wire.h"
#include "vantor_sim_control.h"

namespace {

namespace wire = ssdtp_wire;
using wire::Bytes;

std::uint32_t Little32(const std::string &file, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t k = 4; k-- > 0;) value = value << 8 | static_cast<unsigned char>(file.at(at + k));
    return value;
}

struct Record {
    std::uint32_t kept = 0, whole = 0;
    Bytes pseudo_header, bytes;
    bool operator==(const Record &) const = default;
};

std::vector<Record> Records(const std::string &file)
{
    EXPECT_EQ(file.substr(0, 8), std::string("\x4d\x3c\xb2\xa1\x02\x00\x04\x00", 8)); // ns magic, version 2.4
    EXPECT_TRUE(Little32(file, 16) == 262144u && Little32(file, 20) == 147u);         // largest record, USER0
    std::vector<Record> records;
    for (std::size_t at = 24; at < file.size(); at += 16 + records.back().kept) {
        const auto body = file.begin() + static_cast<std::ptrdiff_t>(at + 16);
        const std::uint32_t kept = Little32(file, at + 8);
        records.push_back({kept, Little32(file, at + 12), Bytes(body, body + 4), Bytes(body + 4, body + kept)});
    }
    return records;
}

TEST(Capture, PacketsOfEveryDeviceKindAndTimeCodes)
{
    ScratchDir dir;
    wire::Listener listener;
    vantor_sim::ApplySettings("devices=0:0,2:0@" + listener.endpoint() + ";far_end=loopback;capture=" +
                              (dir / "run.pcap").string());
    DeviceHandle local = nullptr, bridge = nullptr;
    ASSERT_TRUE(Vantor_Open(&local, 0) != 0 && Vantor_Open(&bridge, 2) != 0);
    const std::unique_ptr<wire::Link> peer = listener.Accept();
    ASSERT_TRUE(peer && Vantor_RegisterReceiveOnAllPorts(local) != 0 && Vantor_RegisterReceiveOnAllPorts(bridge) != 0);
    Bytes small{0x01, 0x02};
    Bytes large(300000, 0x5a); // beyond the largest record: kept cut, length whole
    ASSERT_NE(Vantor_EnableSendEEPs(local, 1), 0);
    for (Bytes *packet : {&small, &large}) {
        TransferId id = nullptr;
        ASSERT_EQ(Vantor_SendPacket(local, packet->data(), static_cast<unsigned>(packet->size()), 1, &id),
                  VANTOR_TRANSFER_SUCCESS);
        Vantor_FreeSend(local, id);
    }
    ASSERT_TRUE(peer->Send(wire::TimeCode(0x3f)) && peer->Send(wire::Frame(wire::kEop, {0xab})));
    Bytes buffer(8);
    PacketProperties properties{};
    TransferId read = nullptr;
    ASSERT_EQ(Vantor_ReadPackets(bridge, buffer.data(), 8, 1, 1, &properties, &read), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeRead(bridge, read);
    vantor_sim::ApplySettings(""); // completes the capture

    // Pseudo-header: version, kind (sent 0, delivered 1, time-code 2), end (EEP 0x40, EOP 0x80), device.
    const Bytes cut(large.begin(), large.begin() + 262140);
    const std::vector<Record> expected = {
        {6, 6, {1, 0, 0x40, 0}, small},          {6, 6, {1, 1, 0x40, 0}, small},
        {262144, 300004, {1, 0, 0x40, 0}, cut}, {262144, 300004, {1, 1, 0x40, 0}, cut},
        {5, 5, {1, 2, 0, 2}, {0x3f}},            {5, 5, {1, 1, 0x80, 2}, {0xab}},
    };
    EXPECT_TRUE(Records(dir.Read("run.pcap")) == expected);
}

} // namespace
