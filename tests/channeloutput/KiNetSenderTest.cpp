#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <vector>

#include "DatagramBytes.h"
#include "KiNetSender.h"

namespace {

TEST(KiNetSender, V1DmxOut) {
    KiNetSender::Config c;
    c.version = 1;
    c.channelsPerPort = 4;
    c.address = inet_addr("10.0.0.5");
    KiNetSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err)) << err;
    const uint8_t channels[4] = {0x11, 0x22, 0x33, 0x44};
    s.fill(0, channels);
    const std::vector<uint8_t> expected = {
        0x04, 0x01, 0xDC, 0x4A, // magic
        0x01, 0x00,             // version 1
        0x01, 0x01,             // DMXOUT
        0x00, 0x00, 0x00, 0x00, // sequence
        0x00,                   // port
        0x00,                   // flags
        0x00, 0x00,             // timer
        0xFF, 0xFF, 0xFF, 0xFF, // universe
        0x00,                   // START code
        0x11, 0x22, 0x33, 0x44,
    };
    EXPECT_EQ(bytes(s, 0), expected);
    EXPECT_EQ(ntohs(s.destination(0).sin_port), 6038);
}

TEST(KiNetSender, V2PortOutPadsShortPorts) {
    KiNetSender::Config c;
    c.version = 2;
    c.firstPort = 3;
    c.portCount = 2;
    c.channelsPerPort = 3;
    c.address = inet_addr("10.0.0.5");
    KiNetSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err)) << err;
    const uint8_t channels[6] = {1, 2, 3, 4, 5, 6};
    s.fill(1, channels);
    std::vector<uint8_t> expected = {
        0x04, 0x01, 0xDC, 0x4A, // magic
        0x01, 0x00,             // version 1
        0x08, 0x01,             // PORTOUT
        0x00, 0x00, 0x00, 0x00, // sequence
        0xFF, 0xFF, 0xFF, 0xFF, // universe
        0x04,                   // port (second of the run)
        0x00,                   // pad
        0x00, 0x00,             // flags
        0x00, 0x18,             // slot count: 24 (3 padded to the minimum)
        0x00, 0x00,             // START code
        4, 5, 6,
    };
    expected.resize(24 + 24, 0);
    EXPECT_EQ(bytes(s, 1), expected);
}

TEST(KiNetSender, Limits) {
    struct Case { int version, first, count, channels; bool ok; };
    const Case cases[] = {
        {2, 16, 1, 512, true}, {2, 16, 2, 512, false}, {2, 0, 1, 512, false},
        {2, 1, 1, 513, false}, {1, 1, 1, 512, true},   {1, 1, 2, 512, false},
        {3, 1, 1, 512, false}, {1, 1, 1, 0, false},
    };
    for (const Case& tc : cases) {
        KiNetSender::Config c;
        c.version = tc.version;
        c.firstPort = tc.first;
        c.portCount = tc.count;
        c.channelsPerPort = tc.channels;
        c.address = inet_addr("10.0.0.5");
        KiNetSender s;
        std::string err;
        EXPECT_EQ(s.configure(c, err), tc.ok)
            << tc.version << " " << tc.first << " " << tc.count << " " << tc.channels;
    }
}

} // namespace
