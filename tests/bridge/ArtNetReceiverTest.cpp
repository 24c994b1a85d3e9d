#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "ArtNetReceiver.h"
#include "BridgePackets.h"

namespace {

TEST(ArtNetReceiver, OpcodeNeedsIdentifierAndVersion) {
    Bytes p = MakeArtNetHeader(ARTNET_OP_DMX, 18);
    EXPECT_EQ(ArtNetOpcode(p.data(), p.size()), ARTNET_OP_DMX);
    for (size_t n = 0; n < ARTNET_HEADER_SIZE; n++) {
        EXPECT_EQ(ArtNetOpcode(p.data(), n), -1) << "length " << n;
    }
    Bytes wrongId = p;
    wrongId[3] = '_';
    EXPECT_EQ(ArtNetOpcode(wrongId.data(), wrongId.size()), -1);
    Bytes noNul = p;
    noNul[7] = ' ';
    EXPECT_EQ(ArtNetOpcode(noNul.data(), noNul.size()), -1);
    Bytes version13 = p;
    version13[11] = 13;
    EXPECT_EQ(ArtNetOpcode(version13.data(), version13.size()), -1);
}

TEST(ArtNetReceiver, DecodesArtDmx) {
    Bytes slots = Ramp(512);
    Bytes p = MakeArtDmx(0x7FFF, 200, slots);
    ArtDmxPacket d = ParseArtDmx(p.data(), p.size());
    ASSERT_TRUE(d.valid) << d.error;
    EXPECT_EQ(d.portAddress, 0x7FFF);
    EXPECT_EQ(d.sequence, 200);
    EXPECT_EQ(d.claimedLength, 512);
    EXPECT_EQ(d.data, p.data() + 18);
}

TEST(ArtNetReceiver, PortAddressIgnoresTheNetTopBit) {
    Bytes p = MakeArtDmx(0x0102, 1, Ramp(2));
    p[15] |= 0x80;
    EXPECT_EQ(ParseArtDmx(p.data(), p.size()).portAddress, 0x0102);
}

TEST(ArtNetReceiver, ArtDmxClaimingMoreThanHeldIsInvalid) {
    Bytes p = MakeArtDmx(1, 1, Ramp(100));
    for (size_t n = 0; n < p.size(); n++) {
        EXPECT_FALSE(ParseArtDmx(p.data(), n).valid) << "length " << n;
    }
    Bytes longer = p;
    longer[16] = 0x02; // claims 612
    EXPECT_FALSE(ParseArtDmx(longer.data(), longer.size()).valid);
    Bytes shorter = p;
    shorter[17] = 50;
    ArtDmxPacket d = ParseArtDmx(shorter.data(), shorter.size());
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(d.claimedLength, 50);
}

TEST(ArtNetReceiver, PollReplyLayout) {
    uint8_t r[ARTPOLLREPLY_SIZE];
    memset(r, 0xEE, sizeof(r));
    BuildArtPollReply(r, inet_addr("192.168.1.20"), 3, 7, "A very long player name that is cut");
    uint8_t expectedHead[] = {
        'A', 'r', 't', '-', 'N', 'e', 't', 0, // identifier
        0x00, 0x21,                           // opcode 0x2100, LE
        192, 168, 1, 20,                      // interface address
        0x36, 0x19,                           // port 6454, LE
        3, 7,                                 // version
    };
    EXPECT_EQ(memcmp(r, expectedHead, sizeof(expectedHead)), 0);
    EXPECT_EQ(std::string((const char*)r + 26), "A very long playe"); // 17 characters
    EXPECT_EQ(std::string((const char*)r + 44), "A very long player name that is cut");
    EXPECT_EQ(r[172], 0);
    EXPECT_EQ(r[173], 4);
    for (int i = 0; i < 4; i++) EXPECT_EQ(r[174 + i], 0xC0);
    // Everything else is zero.
    for (size_t i = 178; i < ARTPOLLREPLY_SIZE; i++) EXPECT_EQ(r[i], 0) << i;
    for (size_t i = 18; i < 26; i++) EXPECT_EQ(r[i], 0) << i;
    EXPECT_EQ(r[26 + 17], 0);
}

TEST(ArtNetReceiver, LongNameIsCutTo63) {
    uint8_t r[ARTPOLLREPLY_SIZE];
    BuildArtPollReply(r, 0, 0, 0, std::string(100, 'x'));
    EXPECT_EQ(std::string((const char*)r + 44).size(), 63u);
    EXPECT_EQ(r[44 + 63], 0);
}

TEST(ArtNetReceiver, VersionNumbers) {
    struct {
        const char* text;
        int major, minor;
    } cases[] = {{"1.4", 1, 4}, {"2.10-3-gabc", 2, 10}, {"7", 7, 0}, {"", 0, 0}, {"x.y", 0, 0}, {nullptr, 0, 0}};
    for (const auto& c : cases) {
        int major = -1, minor = -1;
        ParseVersionNumbers(c.text, major, minor);
        EXPECT_EQ(major, c.major) << (c.text ? c.text : "null");
        EXPECT_EQ(minor, c.minor) << (c.text ? c.text : "null");
    }
}

TEST(ArtNetReceiver, OpcodeTableDispatch) {
    ArtNetOpcodeTable table;
    int calls = 0;
    size_t seenLength = 0;
    table.Add(ARTNET_OP_SYNC, [&](const uint8_t*, size_t len, long long t) {
        calls++;
        seenLength = len;
        return t == 5;
    });
    Bytes sync = MakeArtNetHeader(ARTNET_OP_SYNC, 14);
    bool handled = false;
    EXPECT_TRUE(table.Dispatch(sync.data(), sync.size(), 5, handled));
    EXPECT_TRUE(handled);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenLength, 14u);

    Bytes poll = MakeArtNetHeader(ARTNET_OP_POLL, 14);
    EXPECT_FALSE(table.Dispatch(poll.data(), poll.size(), 5, handled));
    EXPECT_FALSE(handled);

    Bytes junk = sync;
    junk[0] = 'X';
    EXPECT_FALSE(table.Dispatch(junk.data(), junk.size(), 5, handled));
    EXPECT_FALSE(handled);
    EXPECT_EQ(calls, 1);

    table.Add(ARTNET_OP_SYNC, [&](const uint8_t*, size_t, long long) { return false; }); // replaces
    EXPECT_FALSE(table.Dispatch(sync.data(), sync.size(), 5, handled));
    EXPECT_EQ(calls, 1);
    table.Remove(ARTNET_OP_SYNC);
    EXPECT_FALSE(table.Has(ARTNET_OP_SYNC));
}

} // namespace
