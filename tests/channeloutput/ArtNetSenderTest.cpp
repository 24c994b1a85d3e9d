#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <vector>

#include "DatagramBytes.h"
#include "ArtNetSender.h"

namespace {

TEST(ArtNetSender, ArtDmxMatchesStandardLayout) {
    ArtNetSender::Config c;
    c.firstUniverse = 0x1234; // Net 0x12, SubNet 3, Universe 4
    c.universeCount = 2;
    c.channelsPerUniverse = 5; // odd: padded to an even length
    c.address = inet_addr("10.0.0.9");
    ArtNetSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err)) << err;
    const uint8_t channels[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    s.fill(1, channels);
    const std::vector<uint8_t> expected = {
        'A', 'r', 't', '-', 'N', 'e', 't', 0, // ID
        0x00, 0x50,                           // OpCode ArtDmx 0x5000, little-endian
        0x00, 0x0E,                           // protocol version 14
        0x01,                                 // sequence (first packet)
        0x00,                                 // physical port
        0x35,                                 // SubUni: port-address 0x1235 low byte
        0x12,                                 // Net
        0x00, 0x06,                           // data length 6 (5 slots, even)
        6, 7, 8, 9, 10, 0,                    // slots, pad
    };
    EXPECT_EQ(bytes(s, 1), expected);
    EXPECT_EQ(s.destination(1).sin_addr.s_addr, inet_addr("10.0.0.9"));
    EXPECT_EQ(ntohs(s.destination(1).sin_port), 6454);
    EXPECT_EQ(s.sourceOffset(1), 5u);
    EXPECT_EQ(s.sourceLength(1), 5u);
}

TEST(ArtNetSender, SequenceSkipsZero) {
    ArtNetSender::Config c;
    c.channelsPerUniverse = 2;
    c.address = inet_addr("10.0.0.9");
    ArtNetSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err));
    const uint8_t ch[2] = {};
    for (int n = 0; n < 255; n++) s.fill(0, ch);
    EXPECT_EQ(s.datagram(0)[12], 255);
    s.fill(0, ch);
    EXPECT_EQ(s.datagram(0)[12], 1);
}

TEST(ArtNetSender, Limits) {
    struct Case { int first, count, channels; bool ok; };
    const Case cases[] = {
        {0, 1, 512, true},  {0, 1, 513, false}, {0, 1, 0, false},
        {32767, 1, 2, true}, {32767, 2, 2, false}, {-1, 1, 2, false},
    };
    for (const Case& tc : cases) {
        ArtNetSender::Config c;
        c.firstUniverse = tc.first;
        c.universeCount = tc.count;
        c.channelsPerUniverse = tc.channels;
        c.address = inet_addr("10.0.0.9");
        ArtNetSender s;
        std::string err;
        EXPECT_EQ(s.configure(c, err), tc.ok) << tc.first << "/" << tc.count << "/" << tc.channels;
    }
    ArtNetSender s;
    std::string err;
    EXPECT_FALSE(s.configure(ArtNetSender::Config{}, err)) << "no address";
}

} // namespace
