#include <gtest/gtest.h>

#include "BridgePackets.h"
#include "E131Receiver.h"

namespace {

E131Packet Parse(const Bytes& p) { return ParseE131Packet(p.data(), p.size()); }

TEST(E131Receiver, DecodesAFullUniverse) {
    Bytes slots = Ramp(512);
    Bytes p = MakeE131Data(7, 42, slots);
    ASSERT_EQ(p.size(), 638u);
    E131Packet e = Parse(p);
    ASSERT_EQ(e.kind, E131PacketKind::Data) << e.error;
    EXPECT_EQ(e.universe, 7);
    EXPECT_EQ(e.sequence, 42);
    EXPECT_EQ(e.priority, 100);
    EXPECT_EQ(e.slotCount, 512);
    EXPECT_EQ(e.slots, p.data() + 126);
    EXPECT_EQ(e.rootLength, 638 - 16);
    EXPECT_FALSE(e.preview);
    EXPECT_FALSE(e.terminated);
}

TEST(E131Receiver, EveryTruncationIsMalformed) {
    Bytes p = MakeE131Data(1, 0, Ramp(16));
    for (size_t n = 0; n < p.size(); n++) {
        EXPECT_EQ(ParseE131Packet(p.data(), n).kind, E131PacketKind::Malformed) << "length " << n;
    }
    Bytes s = MakeE131Sync(3, 1);
    for (size_t n = 0; n < s.size(); n++) {
        E131Packet e = ParseE131Packet(s.data(), n);
        // The root layer of the sync packet claims all 49 bytes.
        EXPECT_EQ(e.kind, E131PacketKind::Malformed) << "length " << n;
    }
    EXPECT_EQ(ParseE131Packet(nullptr, 0).kind, E131PacketKind::Malformed);
}

struct HostileCase {
    const char* name;
    size_t offset;
    uint8_t value;
    E131PacketKind expected;
};

TEST(E131Receiver, HostileHeaders) {
    const HostileCase cases[] = {
        {"preamble size", 1, 0x11, E131PacketKind::Malformed},
        {"ACN identifier", 4, 'B', E131PacketKind::Malformed},
        {"identifier padding", 15, 1, E131PacketKind::Malformed},
        {"root length above datagram", 16, 0x7F, E131PacketKind::Malformed},
        {"framing length above datagram", 38, 0x7F, E131PacketKind::Malformed},
        {"DMP length above datagram", 115, 0x7F, E131PacketKind::Malformed},
        {"slot count above datagram", 123, 0x02, E131PacketKind::Malformed},
        {"root vector 5", 21, 5, E131PacketKind::Unknown},
        {"START code 0xDD", 125, 0xDD, E131PacketKind::Unknown},
    };
    for (const auto& c : cases) {
        Bytes p = MakeE131Data(1, 0, Ramp(32));
        p[c.offset] = c.value;
        EXPECT_EQ(Parse(p).kind, c.expected) << c.name;
    }
    Bytes zeroCount = MakeE131Data(1, 0, Ramp(32));
    zeroCount[123] = 0;
    zeroCount[124] = 0;
    EXPECT_EQ(Parse(zeroCount).kind, E131PacketKind::Malformed);
}

TEST(E131Receiver, FewerSlotsClaimedThanHeldUsesTheClaim) {
    Bytes p = MakeE131Data(1, 0, Ramp(32));
    p[124] = 11; // 10 slots + START code
    E131Packet e = Parse(p);
    ASSERT_EQ(e.kind, E131PacketKind::Data);
    EXPECT_EQ(e.slotCount, 10);
}

TEST(E131Receiver, UniverseNumbersAtTheEdges) {
    for (int u : {0, 1, 63999, 65535}) {
        E131Packet e = Parse(MakeE131Data(u, 0, Ramp(8)));
        ASSERT_EQ(e.kind, E131PacketKind::Data);
        EXPECT_EQ(e.universe, u);
    }
}

TEST(E131Receiver, OptionsBits) {
    E131Packet e = Parse(MakeE131Data(1, 0, Ramp(8), E131_OPTION_PREVIEW));
    EXPECT_TRUE(e.preview);
    EXPECT_FALSE(e.terminated);
    e = Parse(MakeE131Data(1, 0, Ramp(8), E131_OPTION_TERMINATED));
    EXPECT_FALSE(e.preview);
    EXPECT_TRUE(e.terminated);
}

TEST(E131Receiver, ExtendedPackets) {
    Bytes s = MakeE131Sync(9, 1);
    E131Packet e = Parse(s);
    EXPECT_EQ(e.kind, E131PacketKind::Sync);
    s[43] = 2; // universe discovery
    e = Parse(s);
    EXPECT_EQ(e.kind, E131PacketKind::UnknownExtended);
    EXPECT_EQ(e.extendedVector, 2);
}

TEST(E131Receiver, EmptyDataPacket) {
    E131Packet e = Parse(MakeE131Data(1, 0, {}));
    ASSERT_EQ(e.kind, E131PacketKind::Data);
    EXPECT_EQ(e.slotCount, 0);
}

} // namespace
