// The bridge's sockets on loopback, ephemeral ports only.
#include <gtest/gtest.h>
#include <json/json.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "BridgePackets.h"
#include "BridgeTestSupport.h"
#include "E131Bridge.h"
#include "WarningHolder.h"

namespace {

NetInterface Iface(const char* name, const char* address) {
    NetInterface i;
    i.name = name;
    inet_pton(AF_INET, address, &i.address);
    return i;
}

class BridgeSocketFixture : public testing::Test {
protected:
    void Start(bool loaded, std::vector<UniverseEntry> universes, std::vector<NetInterface> interfaces = {},
               uint32_t bindAddress = htonl(INADDR_LOOPBACK)) {
        BridgeOptions o;
        o.bindAddress = bindAddress;
        o.e131Port = o.ddpPort = o.artNetPort = 0;
        o.hostName = "bridge-test";
        o.version = "3.9";
        o.artPollReplyTo = Loopback(replies.port);
        o.listInterfaces = [interfaces] { return interfaces; };
        bridge = std::make_unique<E131Bridge>(&sink, o);
        InputUniverseConfig cfg;
        cfg.loaded = loaded;
        cfg.universes = std::move(universes);
        bridge->SetInputUniverses(cfg);
        ASSERT_TRUE(bridge->Initialize());
        for (auto& [fd, handler] : bridge->GetBridgeFDs()) handlers[fd] = handler;
    }
    // Waits (bounded) for the socket to become readable and runs its handler once.
    bool Service(int fd) {
        EXPECT_TRUE(WaitReadable(fd)) << "nothing arrived";
        EXPECT_TRUE(handlers.count(fd));
        return handlers.count(fd) ? handlers[fd](fd) : false;
    }

    LoopbackSocket sender;
    LoopbackSocket replies;
    ChannelBufferSink sink;
    std::unique_ptr<E131Bridge> bridge;
    std::map<int, E131Bridge::FDHandler> handlers;
};

TEST_F(BridgeSocketFixture, UnicastE131ArtNetAndDDP) {
    Start(true, {Universe(5, 1, 512, UNIVERSE_TYPE_E131_UNICAST), Universe(6, 601, 512, UNIVERSE_TYPE_ARTNET)});
    ASSERT_GE(bridge->ArtNetSocket(), 0);
    ASSERT_TRUE(sender.SendTo(BoundPort(bridge->E131Socket()), MakeE131Data(5, 1, Ramp(512, 3))));
    EXPECT_FALSE(Service(bridge->E131Socket()));
    ASSERT_TRUE(sender.SendTo(BoundPort(bridge->ArtNetSocket()), MakeArtDmx(6, 1, Ramp(512, 4))));
    EXPECT_FALSE(Service(bridge->ArtNetSocket()));
    ASSERT_TRUE(sender.SendTo(BoundPort(bridge->DDPSocket()), MakeDDP(2000, Ramp(30), 0x41)));
    EXPECT_TRUE(Service(bridge->DDPSocket())); // push
    ASSERT_EQ(sink.calls.size(), 3u);
    EXPECT_EQ(sink.calls[0].start, 0);
    EXPECT_EQ(sink.calls[0].data, Ramp(512, 3));
    EXPECT_EQ(sink.calls[1].start, 600);
    EXPECT_EQ(sink.calls[2].start, 2000);
    EXPECT_EQ(sink.calls[2].length, 30);
}

TEST_F(BridgeSocketFixture, OneHandlerCallTakesSeveralBatches) {
    Start(true, {Universe(1, 1, 512, UNIVERSE_TYPE_E131_UNICAST)});
    uint16_t port = BoundPort(bridge->E131Socket());
    for (int i = 0; i < 100; i++) ASSERT_TRUE(sender.SendTo(port, MakeE131Data(1, i, Ramp(64))));
    // Loopback delivers synchronously: all 100 are queued before the handler runs.
    Service(bridge->E131Socket());
    Json::Value stats = bridge->GetE131UniverseBytesReceived();
    EXPECT_EQ(stats["universes"][0]["packetsReceived"], "100");
    EXPECT_EQ(stats["universes"][0]["errors"], "0");
}

TEST_F(BridgeSocketFixture, MulticastOnTheLoopbackInterface) {
    // 127.0.0.2 stands for an interface address on lo (127.0.0.1 itself is never joined).
    // A group's datagrams reach only sockets bound to any address (on an ephemeral port here).
    Start(true, {Universe(300, 1, 512, UNIVERSE_TYPE_E131_MULTICAST)}, {Iface("lo", "127.0.0.2")}, INADDR_ANY);
    int out = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    in_addr lo;
    lo.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char loop = 1, ttl = 0;
    setsockopt(out, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof(lo));
    setsockopt(out, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop));
    setsockopt(out, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    sockaddr_in group = Loopback(BoundPort(bridge->E131Socket()));
    inet_pton(AF_INET, E131MulticastGroup(300).c_str(), &group.sin_addr);
    Bytes p = MakeE131Data(300, 1, Ramp(512, 5));
    sendto(out, p.data(), p.size(), 0, (sockaddr*)&group, sizeof(group));
    close(out);
    Service(bridge->E131Socket());
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].data, Ramp(512, 5));
}

TEST_F(BridgeSocketFixture, ArtPollIsAnsweredOncePerInterface) {
    Start(true, {Universe(1, 1, 512, UNIVERSE_TYPE_ARTNET)},
          {Iface("lo", "127.0.0.1"), Iface("eth0", "192.168.5.6"), Iface("usb0", "192.168.7.2"),
           Iface("wlan0", "10.9.8.7")});
    ASSERT_TRUE(sender.SendTo(BoundPort(bridge->ArtNetSocket()), MakeArtNetHeader(ARTNET_OP_POLL, 14)));
    EXPECT_FALSE(Service(bridge->ArtNetSocket()));
    Bytes first = replies.Receive();
    Bytes second = replies.Receive();
    Bytes none = replies.Receive(100);
    ASSERT_EQ(first.size(), ARTPOLLREPLY_SIZE);
    ASSERT_EQ(second.size(), ARTPOLLREPLY_SIZE);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(Bytes(first.begin() + 10, first.begin() + 14), (Bytes{192, 168, 5, 6}));
    EXPECT_EQ(Bytes(second.begin() + 10, second.begin() + 14), (Bytes{10, 9, 8, 7}));
    EXPECT_EQ(first[16], 3);
    EXPECT_EQ(first[17], 9);
    EXPECT_EQ(std::string((const char*)first.data() + 26), "bridge-test");
}

// The reply as a packet analyser reads it: the datagram wrapped in dummy UDP/IP headers.
TEST_F(BridgeSocketFixture, ArtPollReplyDecodesWithTshark) {
    if (system("command -v tshark > /dev/null && command -v text2pcap > /dev/null") != 0) {
        GTEST_SKIP() << "tshark or text2pcap not installed";
    }
    Start(true, {Universe(1, 1, 512, UNIVERSE_TYPE_ARTNET)}, {Iface("eth0", "192.168.5.6")});
    ASSERT_TRUE(sender.SendTo(BoundPort(bridge->ArtNetSocket()), MakeArtNetHeader(ARTNET_OP_POLL, 14)));
    Service(bridge->ArtNetSocket());
    Bytes reply = replies.Receive();
    ASSERT_EQ(reply.size(), ARTPOLLREPLY_SIZE);

    std::string dir = testing::TempDir();
    std::string hex = dir + "artpollreply.hex", pcap = dir + "artpollreply.pcap", out = dir + "artpollreply.txt";
    {
        FILE* f = fopen(hex.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fprintf(f, "0000");
        for (uint8_t b : reply) fprintf(f, " %02x", b);
        fprintf(f, "\n");
        fclose(f);
    }
    std::string cmd = "text2pcap -q -u 6454,6454 " + hex + " " + pcap + " && timeout 60 tshark -r " + pcap +
                      " -T fields -E separator=, -e artnet.poll_reply.ip_address -e artnet.poll_reply.port_nr"
                      " -e artnet.poll_reply.short_name -e artnet.poll_reply.long_name -e artnet.poll_reply.num_ports"
                      " -e artnet.poll_reply.port_types_1 -e artnet.poll_reply.port_types_4 > " + out + " 2>/dev/null";
    ASSERT_EQ(system(cmd.c_str()), 0);
    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "192.168.5.6,6454,bridge-test,bridge-test,4,0xc0,0xc0");
    remove(hex.c_str());
    remove(pcap.c_str());
    remove(out.c_str());
}

TEST_F(BridgeSocketFixture, UnconfiguredInputWarnsOncePerSender) {
    WarningHolder::ClearWarnings();
    Start(false, {});
    ASSERT_EQ(handlers.size(), 2u);
    for (int i = 0; i < 3; i++) sender.SendTo(BoundPort(bridge->E131Socket()), MakeE131Data(1, i, Ramp(8)));
    EXPECT_FALSE(Service(bridge->E131Socket()));
    // DDP for another destination id is not data.
    sender.SendTo(BoundPort(bridge->DDPSocket()), MakeDDP(0, Ramp(8), 0x41, 1, 251));
    Service(bridge->DDPSocket());
    auto warnings = WarningHolder::GetWarnings();
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), "Received E1.31 data from 127.0.0.1"), 1);
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), "Received DDP data from 127.0.0.1"), 0);
    sender.SendTo(BoundPort(bridge->DDPSocket()), MakeDDP(0, Ramp(8)));
    Service(bridge->DDPSocket());
    warnings = WarningHolder::GetWarnings();
    EXPECT_EQ(std::count(warnings.begin(), warnings.end(), "Received DDP data from 127.0.0.1"), 1);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_FALSE(bridge->HasBridgeData());
    WarningHolder::ClearWarnings();
}

TEST_F(BridgeSocketFixture, FloodOfHostileDatagramsThenGoodData) {
    Start(true, {Universe(1, 1, 512, UNIVERSE_TYPE_E131_UNICAST)});
    int fd = bridge->E131Socket();
    uint16_t port = BoundPort(fd);
    Bytes good = MakeE131Data(1, 1, Ramp(512, 11));
    Bytes hostile[] = {Truncated(good, 125), Truncated(good, 300), MakeE131Data(0, 1, Ramp(512)),
                       MakeE131Data(65535, 1, Ramp(512)), Bytes(1500, 0xFF), Bytes(1, 0)};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    // 100,000 datagrams, drained as they come: the kernel may drop some, which is fine.
    for (int i = 0; i < 100000 && std::chrono::steady_clock::now() < deadline; i++) {
        sender.SendTo(port, hostile[i % 6]);
        if (i % 200 == 199) handlers[fd](fd);
    }
    while (WaitReadable(fd, 0)) handlers[fd](fd);
    EXPECT_TRUE(sink.calls.empty());
    sender.SendTo(port, good);
    Service(fd);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].data, Ramp(512, 11));
}

} // namespace
