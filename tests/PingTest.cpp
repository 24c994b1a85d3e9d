#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "Ping.h"

namespace {

TEST(Ping, LoopbackAnswers) {
    EXPECT_GT(ping("127.0.0.1", 1000), 0);
    EXPECT_GT(ping("localhost", 1000), 0) << "host names are resolved";
}

TEST(Ping, UnresolvableHostFailsAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(ping("300.1.2.3", 2000), 0);
    EXPECT_LT(ping("", 2000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(Ping, ManyHostsAtOnce) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<int> r =
        pingMany({{"127.0.0.1", 1000}, {"300.1.2.3", 1000}, {"127.0.0.2", 1000}, {"127.0.0.3", 0}});
    ASSERT_EQ(r.size(), 4u);
    EXPECT_GT(r[0], 0);
    EXPECT_LT(r[1], 0);
    EXPECT_GT(r[2], 0);
    EXPECT_EQ(r[3], 0) << "a zero time-out waits for nothing";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000))
        << "answers end the wait early";
}

TEST(Ping, EchoRequestChecksumVerifies) {
    uint8_t buf[64];
    const size_t n = pingdetail::buildEchoRequest(buf, sizeof(buf), 0x1234, 7, 33);
    ASSERT_EQ(n, 41u);
    EXPECT_EQ(buf[0], 8);
    EXPECT_EQ(pingdetail::checksum(buf, n), 0) << "a packet with its checksum sums to 0";
    EXPECT_EQ(pingdetail::buildEchoRequest(buf, 40, 1, 1, 33), 0u) << "buffer one byte short";
}

TEST(Ping, ReplyMatching) {
    // IPv4 header (20 bytes) + echo reply id 0x1234, sequence 7
    const std::vector<uint8_t> rawReply = {
        0x45, 0, 0, 28, 0, 0, 0, 0, 64, 1, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1,
        0, 0, 0, 0, 0x12, 0x34, 0x00, 0x07};
    struct Case { const char* what; std::vector<uint8_t> packet; bool ip; bool match; };
    std::vector<Case> cases = {
        {"raw reply", rawReply, true, true},
        {"datagram reply, id rewritten by the kernel",
         std::vector<uint8_t>{0, 0, 0, 0, 0x99, 0x99, 0, 7}, false, true},
        {"truncated ICMP header", std::vector<uint8_t>(rawReply.begin(), rawReply.end() - 1), true,
         false},
        {"shorter than an IP header", std::vector<uint8_t>(rawReply.begin(), rawReply.begin() + 19),
         true, false},
        {"our own echo request", rawReply, true, false},
        {"other id", rawReply, true, false},
        {"other sequence", rawReply, true, false},
        {"header length past the packet", rawReply, true, false},
        {"header length below 20", rawReply, true, false},
    };
    cases[4].packet[20] = 8;
    cases[5].packet[25] = 0x35;
    cases[6].packet[27] = 8;
    cases[7].packet[0] = 0x4F;
    cases[8].packet[0] = 0x44;
    for (const Case& c : cases)
        EXPECT_EQ(pingdetail::isEchoReply(c.packet.data(), c.packet.size(), c.ip, 0x1234, 7),
                  c.match)
            << c.what;
}

} // namespace
