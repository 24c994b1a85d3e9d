#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <vector>

#include "NetworkMonitor.h"

namespace {

using Event = std::pair<NetworkMonitor::NetEventType, std::pair<int, std::string>>;

// One netlink message: header, fixed part, one string attribute.
std::vector<uint8_t> message(uint16_t type, const void* fixed, size_t fixedLength,
                             uint16_t attribute, const std::string& text) {
    const size_t attrLength = RTA_LENGTH(text.size() + 1);
    const size_t length = NLMSG_HDRLEN + NLMSG_ALIGN(fixedLength) + RTA_ALIGN(attrLength);
    std::vector<uint8_t> m(length, 0);
    nlmsghdr h{};
    h.nlmsg_len = uint32_t(length);
    h.nlmsg_type = type;
    std::memcpy(m.data(), &h, sizeof(h));
    std::memcpy(m.data() + NLMSG_HDRLEN, fixed, fixedLength);
    rtattr ra{};
    ra.rta_len = uint16_t(attrLength);
    ra.rta_type = attribute;
    uint8_t* a = m.data() + NLMSG_HDRLEN + NLMSG_ALIGN(fixedLength);
    std::memcpy(a, &ra, sizeof(ra));
    std::memcpy(a + RTA_LENGTH(0), text.c_str(), text.size() + 1);
    return m;
}

std::vector<uint8_t> addressMessage(uint16_t type, const std::string& label) {
    ifaddrmsg a{};
    a.ifa_family = AF_INET;
    a.ifa_index = 1;
    return message(type, &a, sizeof(a), IFA_LABEL, label);
}

std::vector<uint8_t> linkMessage(uint16_t type, unsigned flags, const std::string& name) {
    ifinfomsg i{};
    i.ifi_flags = flags;
    return message(type, &i, sizeof(i), IFLA_IFNAME, name);
}

TEST(NetworkMonitor, ParsesLinkAndAddressMessages) {
    using T = NetworkMonitor::NetEventType;
    std::vector<uint8_t> buf;
    for (const auto& m : {linkMessage(RTM_NEWLINK, IFF_UP | IFF_RUNNING, "eth0"),
                          linkMessage(RTM_NEWLINK, IFF_UP, "eth1"),
                          addressMessage(RTM_NEWADDR, "eth0:1"),
                          addressMessage(RTM_DELADDR, "wlan0"),
                          linkMessage(RTM_DELLINK, 0, "eth2")})
        buf.insert(buf.end(), m.begin(), m.end());
    const std::vector<Event> expected = {
        {T::NEW_LINK, {1, "eth0"}}, {T::NEW_LINK, {0, "eth1"}}, {T::NEW_ADDR, {1, "eth0"}},
        {T::DEL_ADDR, {0, "wlan0"}}, {T::DEL_LINK, {0, "eth2"}}};
    EXPECT_EQ(NetworkMonitor::parseMessages(buf.data(), buf.size()), expected);
}

TEST(NetworkMonitor, MalformedMessagesAreDropped) {
    std::vector<uint8_t> good = addressMessage(RTM_NEWADDR, "eth0");
    // A message cut short stops parsing without reading past the buffer.
    EXPECT_TRUE(NetworkMonitor::parseMessages(good.data(), good.size() - 1).empty());
    EXPECT_TRUE(NetworkMonitor::parseMessages(good.data(), 3).empty());
    // An attribute longer than its message yields no name, not an over-read.
    std::vector<uint8_t> bad = good;
    rtattr ra;
    std::memcpy(&ra, bad.data() + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifaddrmsg)), sizeof(ra));
    ra.rta_len = 200;
    std::memcpy(bad.data() + NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifaddrmsg)), &ra, sizeof(ra));
    const auto events = NetworkMonitor::parseMessages(bad.data(), bad.size());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].second.second, "lo") << "falls back to the interface index (1 = lo)";
    // IPv6 addresses are not reported.
    ifaddrmsg v6{};
    v6.ifa_family = AF_INET6;
    const auto m = message(RTM_NEWADDR, &v6, sizeof(v6), IFA_LABEL, "eth0");
    EXPECT_TRUE(NetworkMonitor::parseMessages(m.data(), m.size()).empty());
}

// Adds and removes an address on the loopback interface and expects both events.
TEST(NetworkMonitor, ReportsLoopbackAddressChanges) {
    NetworkMonitor monitor;
    std::map<int, std::function<bool(int)>> loop;
    monitor.Init(loop);
    ASSERT_EQ(loop.size(), 1u);
    const int fd = loop.begin()->first;

    std::vector<Event> seen;
    const int id = monitor.registerCallback(
        [&](NetworkMonitor::NetEventType t, int state, const std::string& name) {
            if (name == "lo") seen.push_back({t, {state, name}});
        });
    int removedCalls = 0;
    const int removed = monitor.registerCallback(
        [&](NetworkMonitor::NetEventType, int, const std::string&) { removedCalls++; });
    EXPECT_NE(id, removed);
    monitor.removeCallback(removed);

    const char* add = "ip addr add 127.0.0.77/32 dev lo 2>/dev/null";
    const char* del = "ip addr del 127.0.0.77/32 dev lo 2>/dev/null";
    std::system(del);
    if (std::system(add) != 0) GTEST_SKIP() << "cannot change addresses here";
    std::system(del);

    using T = NetworkMonitor::NetEventType;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.size() < 2 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) loop[fd](fd);
    }
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], (Event{T::NEW_ADDR, {1, "lo"}}));
    EXPECT_EQ(seen[1], (Event{T::DEL_ADDR, {0, "lo"}}));
    EXPECT_EQ(removedCalls, 0);
    monitor.removeCallback(id);
    monitor.Close();
}

} // namespace
