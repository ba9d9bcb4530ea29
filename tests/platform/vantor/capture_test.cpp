// The capture file as the device library writes it: the pcap header, one
// record per packet sent or delivered on in-process and bridge devices alike,
// time-codes as records of their own, records cut at the largest size
// readers accept, and a file that cannot be created named once.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/capture_stdout.h"
#include "support/scratch_dir.h"
#include "support/ssdtp_peer.h"
#include "vantor_sim_control.h"

namespace {

namespace wire = ssdtp_wire;
using wire::Bytes;

std::uint32_t Little32(const std::string &file, std::size_t at)
{
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k) {
        value = value << 8 | static_cast<unsigned char>(file.at(at + static_cast<std::size_t>(k)));
    }
    return value;
}

struct Record {
    std::uint32_t kept = 0;
    std::uint32_t whole = 0;
    Bytes pseudo_header;
    Bytes bytes;
};

std::vector<Record> Records(const std::string &file)
{
    EXPECT_EQ(file.substr(0, 8), std::string("\x4d\x3c\xb2\xa1\x02\x00\x04\x00", 8)); // ns magic, version 2.4
    EXPECT_EQ(Little32(file, 16), 262144u);                                          // largest record
    EXPECT_EQ(Little32(file, 20), 147u);                                             // USER0
    std::vector<Record> records;
    for (std::size_t at = 24; at < file.size();) {
        Record record{Little32(file, at + 8), Little32(file, at + 12), {}, {}};
        const auto body = file.begin() + static_cast<std::ptrdiff_t>(at + 16);
        record.pseudo_header.assign(body, body + 4);
        record.bytes.assign(body + 4, body + record.kept);
        records.push_back(record);
        at += 16 + record.kept;
    }
    return records;
}

TEST(Capture, PacketsOfEveryDeviceKindAndTimeCodes)
{
    ScratchDir dir;
    ssdtp_peer::Peer peer;
    vantor_sim::ApplySettings("devices=0:0,2:0@" + peer.endpoint() + ";far_end=loopback;capture=" +
                              (dir / "run.pcap").string());
    DeviceHandle local = nullptr, bridge = nullptr;
    ASSERT_NE(Vantor_Open(&local, 0), 0);
    ASSERT_NE(Vantor_Open(&bridge, 2), 0);
    ASSERT_TRUE(peer.WaitAccepted(1));
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(local), 0);
    ASSERT_NE(Vantor_RegisterReceiveOnAllPorts(bridge), 0);

    Bytes small{0x01, 0x02};
    Bytes large(300000, 0x5a); // beyond the largest record: kept cut, length whole
    ASSERT_NE(Vantor_EnableSendEEPs(local, 1), 0);
    for (Bytes *packet : {&small, &large}) {
        TransferId id = nullptr;
        ASSERT_EQ(Vantor_SendPacket(local, packet->data(), static_cast<unsigned>(packet->size()), 1, &id),
                  VANTOR_TRANSFER_SUCCESS);
        Vantor_FreeSend(local, id);
    }
    ASSERT_TRUE(peer.Send(wire::TimeCode(0x3f)));
    ASSERT_TRUE(peer.Send(wire::Frame(wire::kEop, {0xab})));
    Bytes buffer(8);
    PacketProperties properties{};
    TransferId read = nullptr;
    ASSERT_EQ(Vantor_ReadPackets(bridge, buffer.data(), 8, 1, 1, &properties, &read), VANTOR_TRANSFER_SUCCESS);
    Vantor_FreeRead(bridge, read);
    vantor_sim::ApplySettings(""); // completes the capture

    const std::vector<Record> records = Records(dir.Read("run.pcap"));
    ASSERT_EQ(records.size(), 6u);
    // version, kind (sent 0, delivered 1, time-code 2), end (EEP 0x40, EOP 0x80), device
    const std::vector<Bytes> pseudo_headers = {{1, 0, 0x40, 0}, {1, 1, 0x40, 0}, {1, 0, 0x40, 0},
                                               {1, 1, 0x40, 0}, {1, 2, 0, 2},    {1, 1, 0x80, 2}};
    for (std::size_t k = 0; k < records.size(); ++k) {
        EXPECT_EQ(records[k].pseudo_header, pseudo_headers[k]) << "record " << k;
    }
    EXPECT_EQ(records[0].bytes, small);
    EXPECT_EQ(records[1].bytes, small);
    for (const Record *cut : {&records[2], &records[3]}) {
        EXPECT_EQ(cut->kept, 262144u);
        EXPECT_EQ(cut->whole, 300004u);
        EXPECT_EQ(cut->bytes, Bytes(large.begin(), large.begin() + 262140));
    }
    EXPECT_EQ(records[4].bytes, Bytes{0x3f});
    EXPECT_EQ(records[5].bytes, Bytes{0xab});
}

TEST(Capture, FileThatCannotBeCreatedIsNamedAndTheDeviceWorks)
{
    ScratchDir dir;
    CaptureStdout out;
    vantor_sim::ApplySettings("capture=" + (dir / "missing" / "run.pcap").string());
    const std::string printed = out.Take();
    EXPECT_EQ(printed.rfind("VANTOR_SIM:", 0), 0u) << printed;
    EXPECT_NE(printed.find("capture="), std::string::npos) << printed;
    DeviceHandle device = nullptr;
    EXPECT_NE(Vantor_Open(&device, 0), 0);
    vantor_sim::ApplySettings("");
}

} // namespace
