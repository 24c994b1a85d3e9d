#include <gtest/gtest.h>

#include "BridgePackets.h"
#include "DDPReceiver.h"

namespace {

DDPPacket Parse(const Bytes& p) { return ParseDDPPacket(p.data(), p.size()); }

TEST(DDPReceiver, DecodesData) {
    Bytes data = Ramp(1440);
    Bytes p = MakeDDP(0x00123456, data, 0x41, 9);
    DDPPacket d = Parse(p);
    ASSERT_EQ(d.kind, DDPPacketKind::Data) << d.error;
    EXPECT_EQ(d.offset, 0x00123456u);
    EXPECT_EQ(d.length, 1440u);
    EXPECT_EQ(d.sequence, 9);
    EXPECT_TRUE(d.push);
    EXPECT_EQ(d.data, p.data() + 10);
}

TEST(DDPReceiver, TimecodeMovesTheData) {
    Bytes p = MakeDDP(3, Ramp(6), 0x50);
    DDPPacket d = Parse(p);
    ASSERT_EQ(d.kind, DDPPacketKind::Data);
    EXPECT_EQ(d.data, p.data() + 14);
    EXPECT_FALSE(d.push);
}

TEST(DDPReceiver, EveryTruncationIsMalformed) {
    for (uint8_t flags : {0x41, 0x50}) {
        Bytes p = MakeDDP(0, Ramp(30), flags);
        for (size_t n = 0; n < p.size(); n++) {
            EXPECT_EQ(ParseDDPPacket(p.data(), n).kind, DDPPacketKind::Malformed)
                << "flags " << (int)flags << " length " << n;
        }
    }
}

TEST(DDPReceiver, NonDataPackets) {
    struct {
        const char* name;
        uint8_t flags;
        int id;
        DDPPacketKind kind;
    } cases[] = {
        {"status query", 0x42, 251, DDPPacketKind::Query},
        {"config query", 0x42, 250, DDPPacketKind::Query},
        {"query to the display", 0x42, 1, DDPPacketKind::Query},
        {"JSON control", 0x41, 246, DDPPacketKind::OtherId},
        {"all displays", 0x41, 255, DDPPacketKind::OtherId},
        {"id 0", 0x41, 0, DDPPacketKind::OtherId},
    };
    for (const auto& c : cases) {
        // Only the id byte is needed for these: a 4-byte datagram is enough.
        Bytes p = Truncated(MakeDDP(0, {}, c.flags, 1, c.id), 4);
        DDPPacket d = Parse(p);
        EXPECT_EQ(d.kind, c.kind) << c.name;
        EXPECT_EQ(d.id, c.id) << c.name;
    }
}

TEST(DDPReceiver, EmptyDataAndLargeOffsets) {
    DDPPacket d = Parse(MakeDDP(0xFFFFFFFF, {}, 0x41));
    ASSERT_EQ(d.kind, DDPPacketKind::Data);
    EXPECT_EQ(d.offset, 0xFFFFFFFFu);
    EXPECT_EQ(d.length, 0u);
    Bytes lying = MakeDDP(0, Ramp(10));
    lying[8] = 0xFF;
    EXPECT_EQ(Parse(lying).kind, DDPPacketKind::Malformed);
}

} // namespace
