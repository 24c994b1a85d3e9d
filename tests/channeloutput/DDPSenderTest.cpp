#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <numeric>
#include <vector>

#include "DatagramBytes.h"
#include "DDPSender.h"

namespace {

TEST(DDPSender, HeaderMatchesStandardLayout) {
    DDPSender::Config c;
    c.channelCount = 6;
    c.firstOffset = 0x01020304;
    c.address = inet_addr("10.0.0.7");
    DDPSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err)) << err;
    ASSERT_EQ(s.size(), 1u);
    const uint8_t channels[6] = {9, 8, 7, 6, 5, 4};
    s.fill(0, channels);
    s.finishFrame(0);
    const std::vector<uint8_t> expected = {
        0x41,                   // version 1, push
        0x01,                   // sequence
        0x0B,                   // data type RGB, 8 bits per colour
        0x01,                   // destination: default output
        0x01, 0x02, 0x03, 0x04, // data offset
        0x00, 0x06,             // data length
        9, 8, 7, 6, 5, 4,
    };
    EXPECT_EQ(bytes(s, 0), expected);
    EXPECT_EQ(ntohs(s.destination(0).sin_port), 4048);
}

TEST(DDPSender, SplitsAt1440AndPushesOnlyLastFilled) {
    struct Case { int channels; size_t datagrams; size_t lastLength; };
    const Case cases[] = {{1440, 1, 1440}, {1441, 2, 1}, {2880, 2, 1440}, {1, 1, 1}};
    for (const Case& tc : cases) {
        DDPSender::Config c;
        c.channelCount = tc.channels;
        c.firstOffset = 100;
        c.address = inet_addr("10.0.0.7");
        DDPSender s;
        std::string err;
        ASSERT_TRUE(s.configure(c, err));
        ASSERT_EQ(s.size(), tc.datagrams) << tc.channels;
        EXPECT_EQ(s.sourceLength(s.size() - 1), tc.lastLength) << tc.channels;
        EXPECT_EQ(s.length(s.size() - 1), tc.lastLength + 10) << tc.channels;
        const size_t lastOffset = (tc.datagrams - 1) * 1440 + 100;
        const uint8_t* p = s.datagram(s.size() - 1);
        EXPECT_EQ((uint32_t(p[4]) << 24 | p[5] << 16 | p[6] << 8 | p[7]), lastOffset);
    }

    DDPSender::Config c;
    c.channelCount = 3000;
    c.address = inet_addr("10.0.0.7");
    DDPSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err));
    std::vector<uint8_t> channels(3000);
    std::iota(channels.begin(), channels.end(), 0);
    for (size_t i = 0; i < 3; i++) s.fill(i, channels.data());
    s.finishFrame(2);
    EXPECT_EQ(s.datagram(0)[0], 0x40);
    EXPECT_EQ(s.datagram(2)[0], 0x41);
    EXPECT_EQ(s.datagram(1)[10], uint8_t(1440));
    // A frame whose last datagram is unchanged pushes on the last one sent.
    s.fill(0, channels.data());
    s.finishFrame(0);
    EXPECT_EQ(s.datagram(0)[0], 0x41);
    s.fill(2, channels.data());
    EXPECT_EQ(s.datagram(2)[0], 0x40) << "an old push is cleared on refill";
}

TEST(DDPSender, SequenceRunsOneToFifteen) {
    DDPSender::Config c;
    c.channelCount = 3;
    c.address = inet_addr("10.0.0.7");
    DDPSender s;
    std::string err;
    ASSERT_TRUE(s.configure(c, err));
    const uint8_t ch[3] = {};
    for (int n = 0; n < 15; n++) s.fill(0, ch);
    EXPECT_EQ(s.datagram(0)[1], 15);
    s.fill(0, ch);
    EXPECT_EQ(s.datagram(0)[1], 1);
}

TEST(DDPSender, Rejects) {
    DDPSender::Config c;
    c.address = inet_addr("10.0.0.7");
    DDPSender s;
    std::string err;
    EXPECT_FALSE(s.configure(c, err)) << "0 channels";
    c.channelCount = 10;
    c.firstOffset = 0xFFFFFFFA;
    EXPECT_FALSE(s.configure(c, err)) << "offset past 32 bits";
}

} // namespace
