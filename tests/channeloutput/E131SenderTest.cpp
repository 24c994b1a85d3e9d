#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <vector>

#include "DatagramBytes.h"
#include "E131Sender.h"

namespace {

E131Sender::Config eightSlots() {
    E131Sender::Config c;
    for (size_t i = 0; i < c.cid.size(); i++) c.cid[i] = uint8_t(0xA0 + i);
    c.sourceName = "yard";
    c.firstUniverse = 0x0102;
    c.universeCount = 2;
    c.channelsPerUniverse = 8;
    c.multicast = true;
    return c;
}

TEST(E131Sender, DataPacketMatchesStandardLayout) {
    E131Sender s;
    std::string err;
    ASSERT_TRUE(s.configure(eightSlots(), err)) << err;
    ASSERT_EQ(s.size(), 2u);
    const uint8_t channels[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    s.fill(1, channels);

    std::vector<uint8_t> expected = {
        // root layer
        0x00, 0x10,                                     // preamble size
        0x00, 0x00,                                     // post-amble size
        'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0, // ACN packet identifier
        0x70, 0x76,                                     // flags, length 134 - 16
        0x00, 0x00, 0x00, 0x04,                         // VECTOR_ROOT_E131_DATA
        0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, // CID
        0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
        // framing layer
        0x70, 0x60,                                     // flags, length 134 - 38
        0x00, 0x00, 0x00, 0x02,                         // VECTOR_E131_DATA_PACKET
    };
    std::vector<uint8_t> name(64, 0);                   // source name, NUL-padded
    name[0] = 'y'; name[1] = 'a'; name[2] = 'r'; name[3] = 'd';
    expected.insert(expected.end(), name.begin(), name.end());
    const std::vector<uint8_t> tail = {
        100,                                            // priority
        0x00, 0x00,                                     // synchronization address
        0x00,                                           // sequence number (first packet)
        0x00,                                           // options
        0x01, 0x03,                                     // universe 0x0103 (second of the run)
        // DMP layer
        0x70, 0x13,                                     // flags, length 134 - 115
        0x02,                                           // VECTOR_DMP_SET_PROPERTY
        0xA1,                                           // address and data type
        0x00, 0x00,                                     // first property address
        0x00, 0x01,                                     // address increment
        0x00, 0x09,                                     // property value count: 8 slots + START
        0x00,                                           // START code
        9, 10, 11, 12, 13, 14, 15, 16,                  // slots of the second universe
    };
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(bytes(s, 1), expected);

    const sockaddr_in& d = s.destination(1);
    EXPECT_EQ(d.sin_addr.s_addr, inet_addr("239.255.1.3"));
    EXPECT_EQ(ntohs(d.sin_port), 5568);
    EXPECT_EQ(s.destination(0).sin_addr.s_addr, inet_addr("239.255.1.2"));
}

TEST(E131Sender, SequencePerUniverseWraps) {
    E131Sender s;
    std::string err;
    ASSERT_TRUE(s.configure(eightSlots(), err));
    const uint8_t channels[16] = {};
    for (int n = 0; n < 256; n++) s.fill(0, channels);
    s.fill(1, channels);
    EXPECT_EQ(s.datagram(0)[111], 255);
    EXPECT_EQ(s.datagram(1)[111], 0);
    s.fill(0, channels);
    EXPECT_EQ(s.datagram(0)[111], 0);
}

TEST(E131Sender, UnicastAndLongSourceName) {
    E131Sender::Config c = eightSlots();
    c.multicast = false;
    c.unicastAddress = inet_addr("10.1.2.3");
    c.sourceName = std::string(80, 'x');
    c.priority = 200;
    c.channelsPerUniverse = 512;
    c.universeCount = 1;
    E131Sender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err)) << err;
    EXPECT_EQ(s.length(0), 638u);
    EXPECT_EQ(s.destination(0).sin_addr.s_addr, inet_addr("10.1.2.3"));
    EXPECT_EQ(s.datagram(0)[44 + 62], 'x');
    EXPECT_EQ(s.datagram(0)[44 + 63], 0) << "the name stays NUL-terminated";
    EXPECT_EQ(s.datagram(0)[108], 200);
    EXPECT_EQ(s.datagram(0)[123], 0x02);
    EXPECT_EQ(s.datagram(0)[124], 0x01);
}

TEST(E131Sender, RejectsValuesOutsideStandard) {
    struct Case { const char* what; void (*edit)(E131Sender::Config&); bool ok; };
    const Case cases[] = {
        {"512 slots", [](E131Sender::Config& c) { c.channelsPerUniverse = 512; }, true},
        {"513 slots", [](E131Sender::Config& c) { c.channelsPerUniverse = 513; }, false},
        {"0 slots", [](E131Sender::Config& c) { c.channelsPerUniverse = 0; }, false},
        {"universe 0", [](E131Sender::Config& c) { c.firstUniverse = 0; }, false},
        {"last universe 63999", [](E131Sender::Config& c) { c.firstUniverse = 63998; }, true},
        {"last universe 64000", [](E131Sender::Config& c) { c.firstUniverse = 63999; }, false},
        {"priority 201", [](E131Sender::Config& c) { c.priority = 201; }, false},
        {"no universes", [](E131Sender::Config& c) { c.universeCount = 0; }, false},
        {"unicast without address", [](E131Sender::Config& c) { c.multicast = false; }, false},
    };
    for (const Case& tc : cases) {
        E131Sender::Config c = eightSlots();
        tc.edit(c);
        E131Sender s;
        std::string err;
        EXPECT_EQ(s.configure(c, err), tc.ok) << tc.what;
        EXPECT_EQ(err.empty(), tc.ok) << tc.what;
    }
}

TEST(E131Sender, MessagePointsAtDatagramAndDestination) {
    E131Sender s;
    std::string err;
    ASSERT_TRUE(s.configure(eightSlots(), err));
    mmsghdr m;
    s.toMessage(1, m);
    ASSERT_EQ(m.msg_hdr.msg_iovlen, 1u);
    EXPECT_EQ(m.msg_hdr.msg_iov[0].iov_base, s.datagram(1));
    EXPECT_EQ(m.msg_hdr.msg_iov[0].iov_len, s.length(1));
    EXPECT_EQ(m.msg_hdr.msg_name, &s.destination(1));
    EXPECT_EQ(m.msg_hdr.msg_namelen, sizeof(sockaddr_in));
}

} // namespace
