// SSDTP2 framing: the encoder's bytes, and the deframer on well-formed streams
// (every way of fragmenting a packet, time-codes and link-speed frames between),
// on broken ones, and between packets.  Every stream is fed in one call and
// one byte at a time, which must agree.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "ssdtp.h"

namespace {

using namespace vantor_sim;
using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// A header written by hand: the size's two high bytes apart from its low eight.
Bytes Header(std::uint8_t flag, std::uint64_t size, std::uint16_t high = 0, std::uint8_t reserved = 0)
{
    Bytes header = {flag, reserved, static_cast<std::uint8_t>(high >> 8), static_cast<std::uint8_t>(high)};
    for (int shift = 56; shift >= 0; shift -= 8) {
        header.push_back(static_cast<std::uint8_t>(size >> shift));
    }
    return header;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Frame(std::uint8_t flag, const Bytes &payload)
{
    return Cat({Header(flag, payload.size()), payload});
}

Bytes TimeCode(std::uint8_t code, std::uint8_t flag = kSsdtpTimeCode)
{
    return Frame(flag, {code, 0x00});
}

const Bytes kLinkSpeed = Frame(kSsdtpLinkSpeed, {0x00, 0x0a});

// "EOP 0a 0b" for a packet, "T 05" for a time-code.
Texts Describe(const std::vector<SsdtpEvent> &events)
{
    Texts texts;
    for (const SsdtpEvent &event : events) {
        const bool packet = event.kind == SsdtpEvent::Kind::Packet;
        std::string text = !packet                               ? "T"
                           : event.packet.eop == VANTOR_EOP_EOP ? "EOP"
                           : event.packet.eop == VANTOR_EOP_EEP ? "EEP"
                                                                : "?";
        for (std::uint8_t byte : packet ? event.packet.bytes : Bytes{event.time_code}) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", byte);
            text += hex;
        }
        texts.push_back(text);
    }
    return texts;
}

struct Outcome {
    bool ok = true;
    Texts events;
    std::string error;
    bool mid_packet = false;
};

// Feeds the stream in one call or one byte at a time; a valid frame fed
// afterwards must be refused exactly when the stream was.
Outcome Decode(const Bytes &stream, std::uint64_t limit, bool bytewise)
{
    SsdtpDeframer deframer(limit);
    std::vector<SsdtpEvent> events;
    Outcome run;
    if (!bytewise) {
        run.ok = deframer.Feed(stream, events);
    }
    for (std::size_t at = 0; bytewise && at < stream.size(); ++at) {
        run.ok = deframer.Feed(std::span(stream).subspan(at, 1), events) && run.ok;
    }
    run.events = Describe(events);
    run.error = deframer.Error();
    run.mid_packet = deframer.MidPacket();
    EXPECT_EQ(run.ok, run.error.empty());
    if (!run.ok) {
        EXPECT_FALSE(deframer.Feed(Frame(kSsdtpEop, {1}), events));
        EXPECT_EQ(events.size(), run.events.size());
    }
    return run;
}

Outcome DecodeBothWays(const Bytes &stream, std::uint64_t limit = kDefaultPacketLimit)
{
    const Outcome whole = Decode(stream, limit, false);
    const Outcome bytewise = Decode(stream, limit, true);
    EXPECT_EQ(whole.ok, bytewise.ok);
    EXPECT_EQ(whole.events, bytewise.events);
    EXPECT_EQ(whole.error, bytewise.error);
    EXPECT_EQ(whole.mid_packet, bytewise.mid_packet);
    return whole;
}

TEST(SsdtpEncoder, WritesEveryByteOfTheHeader)
{
    const auto bytes = [](const auto &header) { return Bytes(header.begin(), header.end()); };
    EXPECT_EQ(bytes(SsdtpHeader(kSsdtpFragment, 1)), (Bytes{0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}));
    EXPECT_EQ(bytes(SsdtpHeader(kSsdtpLinkSpeed, 0x8102030405060708)),
              (Bytes{0x38, 0, 0, 0, 0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));

    // The worked example of ssdtp.h: fe 01 ended by an EEP, as two fragments.
    const Bytes example = {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0xfe,
                           0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x01};
    EXPECT_EQ(DecodeBothWays(example).events, Texts{"EEP fe 01"});

    Bytes out = {0xaa};
    AppendSsdtpPacket(out, Bytes{0xfe, 0x01}, VANTOR_EOP_EEP);
    AppendSsdtpPacket(out, Bytes{}, VANTOR_EOP_EOP);
    EXPECT_EQ(out, Cat({{0xaa}, Header(0x01, 2), {0xfe, 0x01}, Header(0x00, 0)}));
}

TEST(SsdtpDeframer, EveryFragmentationOfAPacketGivesThePacket)
{
    const Bytes packet = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15};
    // Bit i of cuts: a fragment ends after byte i.
    for (unsigned cuts = 0; cuts < 1u << packet.size(); ++cuts) {
        Bytes stream;
        std::size_t begin = 0;
        for (std::size_t i = 0; i < packet.size(); ++i) {
            if ((cuts >> i & 1u) != 0) {
                stream = Cat({stream, Frame(kSsdtpFragment, Bytes(packet.begin() + begin, packet.begin() + i + 1))});
                begin = i + 1;
            }
        }
        const bool eep = cuts % 3 == 0;
        stream = Cat({stream, Frame(eep ? kSsdtpEep : kSsdtpEop, Bytes(packet.begin() + begin, packet.end()))});
        const Outcome run = DecodeBothWays(stream);
        EXPECT_TRUE(run.ok) << cuts;
        EXPECT_EQ(run.events, Texts{std::string(eep ? "EEP" : "EOP") + " 10 11 12 13 14 15"}) << cuts;
        EXPECT_FALSE(run.mid_packet) << cuts;
    }
}

TEST(SsdtpDeframer, EndingsEmptyPacketsTimeCodesAndLinkSpeed)
{
    const struct {
        const char *name;
        Bytes stream;
        Texts events;
    } cases[] = {
        {"EOP then EEP", Cat({Frame(0x00, {0x01}), Frame(0x01, {0x02, 0x03})}), {"EOP 01", "EEP 02 03"}},
        {"empty EOP", Frame(0x00, {}), {"EOP"}},
        {"empty EEP", Frame(0x01, {}), {"EEP"}},
        {"empty fragments", Cat({Frame(0x02, {}), Frame(0x02, {}), Frame(0x01, {})}), {"EEP"}},
        {"empty end after a fragment", Cat({Frame(0x02, {0x07}), Frame(0x00, {})}), {"EOP 07"}},
        {"time-codes between fragments and packets",
         Cat({TimeCode(0x05), Frame(0x02, {0x0a, 0x0b}), TimeCode(0x3f, kSsdtpTimeCodeAlternate), Frame(0x02, {0x0c}),
              TimeCode(0x00), Frame(0x00, {0x0d}), TimeCode(0x07, kSsdtpTimeCodeAlternate), Frame(0x01, {0x0e})}),
         {"T 05", "T 3f", "T 00", "EOP 0a 0b 0c 0d", "T 07", "EEP 0e"}},
        {"link speed between fragments and packets",
         Cat({kLinkSpeed, Frame(0x02, {0x01}), kLinkSpeed, Frame(0x00, {0x02}), kLinkSpeed}), {"EOP 01 02"}},
        {"time-code whose second byte is not 0", Frame(0x30, {0x21, 0x22}), {"T 21"}},
    };
    for (const auto &c : cases) {
        const Outcome run = DecodeBothWays(c.stream);
        EXPECT_TRUE(run.ok) << c.name << ": " << run.error;
        EXPECT_EQ(run.events, c.events) << c.name;
        EXPECT_FALSE(run.mid_packet) << c.name;
    }
}

TEST(SsdtpDeframer, RefusesABrokenFrameAsSoonAsItsHeaderArrives)
{
    // Streams end with the header of the frame that breaks them: the refusal
    // must not wait for a payload.
    const Bytes eight(8, 0xee);
    const struct {
        const char *name;
        std::uint64_t limit;
        Bytes stream;
        bool ok;
        Texts events;
    } cases[] = {
        {"flag 03", 100, Cat({Frame(0x00, {0x01}), Header(0x03, 0)}), false, {"EOP 01"}},
        {"flag 2f", 100, Header(0x2f, 2), false, {}},
        {"flag 32", 100, Header(0x32, 2), false, {}},
        {"flag 39", 100, Header(0x39, 2), false, {}},
        {"flag ff", 100, Header(0xff, 0), false, {}},
        {"reserved byte", 100, Header(0x00, 0, 0, 0x01), false, {}},
        {"reserved byte of a time-code", 100, Header(0x30, 2, 0, 0x80), false, {}},
        {"size 2^79", kDefaultPacketLimit, Header(0x00, 0, 0x8000), false, {}},
        {"size 2^64", kDefaultPacketLimit, Header(0x02, 0, 0x0001), false, {}},
        {"size 2^64 - 1", kDefaultPacketLimit, Header(0x01, ~std::uint64_t{0}), false, {}},
        {"one above the limit", 8, Header(0x00, 9), false, {}},
        {"the limit", 8, Frame(0x01, eight), true, {"EEP ee ee ee ee ee ee ee ee"}},
        {"fragment above the limit", 8, Header(0x02, 9), false, {}},
        {"fragments one above the limit", 8, Cat({Frame(0x02, {1, 2, 3, 4, 5}), Header(0x00, 4)}), false, {}},
        {"fragments at the limit", 8, Cat({Frame(0x02, {1, 2, 3, 4, 5}), Frame(0x02, {6}), Frame(0x00, {7, 8})}),
         true, {"EOP 01 02 03 04 05 06 07 08"}},
        {"limit 0", 0, Cat({Frame(0x00, {}), TimeCode(0x01)}), true, {"EOP", "T 01"}},
        {"limit 0, one byte", 0, Header(0x00, 1), false, {}},
        {"time-code of 1 byte", 100, Header(0x30, 1), false, {}},
        {"time-code of 3 bytes", 100, Header(0x31, 3), false, {}},
        {"time-code of 2^64 + 2 bytes", 100, Header(0x30, 2, 0x0001), false, {}},
        {"link speed of 0 bytes", 100, Header(0x38, 0), false, {}},
        {"link speed of 1 byte", 100, Header(0x38, 1), false, {}},
    };
    for (const auto &c : cases) {
        const Outcome run = DecodeBothWays(c.stream, c.limit);
        EXPECT_EQ(run.ok, c.ok) << c.name;
        EXPECT_EQ(run.events, c.events) << c.name;
    }
}

TEST(SsdtpDeframer, MidPacketFromAFramesFirstByteToThePacketsEnd)
{
    // Offsets: packet 0-13, empty fragment 14-25, time-code 26-39, fragment
    // 40-52, end 53-65, time-code 66-79.
    const Bytes stream = Cat({Frame(0x00, {1, 2}), Frame(0x02, {}), TimeCode(9), Frame(0x02, {3}), Frame(0x00, {4}),
                              TimeCode(10)});
    const struct {
        std::size_t prefix;
        bool mid_packet;
    } cases[] = {{0, false}, {1, true},  {12, true}, {13, true}, {14, false}, {20, true}, {26, true},
                 {30, true}, {40, true}, {53, true}, {65, true}, {66, false}, {70, true}, {80, false}};
    ASSERT_EQ(stream.size(), 80u);
    for (const auto &c : cases) {
        EXPECT_EQ(DecodeBothWays(Bytes(stream.begin(), stream.begin() + c.prefix)).mid_packet, c.mid_packet)
            << c.prefix;
    }
}

} // namespace
