#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <json/json.h>

#include "BridgePackets.h"
#include "BridgeTestSupport.h"
#include "E131Bridge.h"

namespace {

constexpr uint64_t T0 = 1000000;

// A bridge over a channel buffer with universes 1 (E1.31, 512 at channel 1), 2 (E1.31, 100
// channels at 1001), 3 (Art-Net, 512 at 2001) and 0x7FFF (Art-Net, 4 at 8388605: the last channels).
class BridgeFixture : public testing::Test {
protected:
    BridgeFixture() {
        BridgeOptions o;
        o.clockMs = [this] { return now; };
        bridge = std::make_unique<E131Bridge>(&sink, o);
        InputUniverseConfig cfg;
        cfg.loaded = true;
        cfg.timeoutMs = 2000;
        cfg.universes = {Universe(1, 1, 512), Universe(2, 1001, 100), Universe(3, 2001, 512, UNIVERSE_TYPE_ARTNET),
                         Universe(0x7FFF, 8388605, 4, UNIVERSE_TYPE_ARTNET)};
        bridge->SetInputUniverses(cfg);
    }
    bool E131(const Bytes& p) { return bridge->StoreE131Data(p.data(), p.size(), now); }
    bool ArtNet(const Bytes& p) { return bridge->HandleArtNetDatagram(p.data(), p.size(), now); }
    bool DDP(const Bytes& p) { return bridge->StoreDDPData(p.data(), p.size(), now); }
    void InstallArtNetHandlers() { bridge->InstallArtNetHandlers(); }

    // The statistics row with this "id" (a number or a text), or null.
    Json::Value Row(const Json::Value& id) {
        Json::Value stats = bridge->GetE131UniverseBytesReceived();
        for (const auto& r : stats["universes"]) {
            if (r["id"] == id) return r;
        }
        return Json::Value();
    }
    std::vector<std::string> RowIds() {
        std::vector<std::string> ids;
        Json::Value stats = bridge->GetE131UniverseBytesReceived();
        for (const auto& r : stats["universes"]) {
            ids.push_back(r["id"].isString() ? r["id"].asString() : std::to_string(r["id"].asInt()));
        }
        return ids;
    }

    uint64_t now = T0;
    ChannelBufferSink sink;
    std::unique_ptr<E131Bridge> bridge;
};

TEST_F(BridgeFixture, E131DataReachesItsChannelsUntilTheTimeout) {
    EXPECT_FALSE(bridge->HasBridgeData());
    EXPECT_FALSE(E131(MakeE131Data(2, 1, Ramp(100, 10))));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].start, 1000);
    EXPECT_EQ(sink.calls[0].length, 100);
    EXPECT_EQ(sink.calls[0].expires, T0 + 2000);
    EXPECT_EQ(sink.calls[0].data, Ramp(100, 10));
    EXPECT_TRUE(bridge->HasBridgeData());
    now += 1500;
    EXPECT_DOUBLE_EQ(bridge->GetSecondsFromInputPacket(), 1.5);
    Json::Value r = Row(2);
    EXPECT_EQ(r["startChannel"], 1001);
    EXPECT_EQ(r["bytesReceived"], "100");
    EXPECT_EQ(r["packetsReceived"], "1");
    EXPECT_EQ(r["errors"], "0");
}

TEST_F(BridgeFixture, CopiesOnlyWhatTheDatagramHoldsAndTheUniverseTakes) {
    // Universe 2 takes 100 channels: 512 slots are cut to 100.
    E131(MakeE131Data(2, 1, Ramp(512)));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].length, 100);
    EXPECT_EQ(sink.channels[1100], 0);
    // Universe 1 takes 512: a packet of 20 slots bridges 20, not 512 bytes of an old buffer.
    E131(MakeE131Data(1, 1, Ramp(20)));
    ASSERT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(sink.calls[1].length, 20);
    EXPECT_EQ(Row(1)["bytesReceived"], "20");
}

TEST_F(BridgeFixture, E131LookupIsByNumberWhateverTheType) {
    E131(MakeE131Data(3, 0, Ramp(8)));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].start, 2000);
}

TEST_F(BridgeFixture, SequenceErrors) {
    struct {
        std::vector<int> sequences;
        int errors;
    } cases[] = {
        {{1, 2, 3}, 0},      {{255, 0}, 0}, {{255, 1}, 0}, {{255, 2}, 1},
        {{7, 7}, 1},         {{1, 3, 4}, 1}, {{0, 1, 2}, 0},
    };
    for (const auto& c : cases) {
        bridge->ResetBytesReceived();
        for (int s : c.sequences) E131(MakeE131Data(1, s, Ramp(4)));
        EXPECT_EQ(Row(1)["errors"], std::to_string(c.errors)) << testing::PrintToString(c.sequences);
    }
}

TEST_F(BridgeFixture, ArtNetSequenceZeroMeansNotCounting) {
    InstallArtNetHandlers();
    struct {
        std::vector<int> sequences;
        int errors;
    } cases[] = {{{0, 0, 0, 0}, 0}, {{5, 0, 9}, 0}, {{254, 255, 1}, 0}, {{1, 2, 4}, 1}};
    for (const auto& c : cases) {
        bridge->ResetBytesReceived();
        for (int s : c.sequences) ArtNet(MakeArtDmx(3, s, Ramp(4)));
        EXPECT_EQ(Row(3)["errors"], std::to_string(c.errors)) << testing::PrintToString(c.sequences);
        EXPECT_EQ(Row(3)["packetsReceived"], std::to_string(c.sequences.size()));
    }
}

TEST_F(BridgeFixture, PreviewDataDoesNotDriveOutputs) {
    E131(MakeE131Data(1, 1, Ramp(16), E131_OPTION_PREVIEW));
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_FALSE(bridge->HasBridgeData());
}

TEST_F(BridgeFixture, StreamTerminatedEndsTheDataAtOnce) {
    E131(MakeE131Data(1, 1, Ramp(16)));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_TRUE(E131(MakeE131Data(1, 2, Ramp(16, 100), E131_OPTION_TERMINATED)));
    ASSERT_EQ(sink.calls.size(), 2u);
    // The same range, already expired; the packet's own values are not used.
    EXPECT_EQ(sink.calls[1].start, 0);
    EXPECT_EQ(sink.calls[1].length, 16);
    EXPECT_LT(sink.calls[1].expires, now);
    EXPECT_EQ(sink.calls[1].data, Bytes(16, 0));
    // The other two of the three terminating packets change nothing more.
    E131(MakeE131Data(1, 3, Ramp(16, 100), E131_OPTION_TERMINATED));
    EXPECT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(Row(1)["errors"], "0");
}

TEST_F(BridgeFixture, UnconfiguredUniversesAreCountedAsIgnored) {
    Bytes p = MakeE131Data(99, 1, Ramp(10));
    E131(p);
    InstallArtNetHandlers();
    ArtNet(MakeArtDmx(98, 1, Ramp(6)));
    EXPECT_TRUE(sink.calls.empty());
    Json::Value r = Row("Ignored");
    EXPECT_EQ(r["packetsReceived"], "2");
    EXPECT_EQ(r["bytesReceived"], std::to_string(p.size() - 16 + 6));
    EXPECT_EQ(r["errors"], "-");
}

TEST_F(BridgeFixture, SyncPacketsForceOutput) {
    EXPECT_TRUE(E131(MakeE131Sync(1, 1)));
    EXPECT_EQ(Row("E1.31 Sync")["packetsReceived"], "1");
    InstallArtNetHandlers();
    EXPECT_TRUE(ArtNet(MakeArtNetHeader(ARTNET_OP_SYNC, 14)));
}

TEST_F(BridgeFixture, ArtDmxUsesMinOfLengthAndSize) {
    InstallArtNetHandlers();
    ArtNet(MakeArtDmx(0x7FFF, 1, Ramp(512)));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].start, 8388604);
    EXPECT_EQ(sink.calls[0].length, 4);
    EXPECT_EQ(Row(0x7FFF)["bytesReceived"], "4");
}

TEST_F(BridgeFixture, DDPData) {
    EXPECT_EQ(Row("DDP"), Json::Value()); // no row before DDP data arrived
    EXPECT_FALSE(DDP(MakeDDP(10, Ramp(30), 0x40, 1)));
    EXPECT_TRUE(DDP(MakeDDP(40, Ramp(30), 0x41, 2)));
    ASSERT_EQ(sink.calls.size(), 2u);
    EXPECT_EQ(sink.calls[1].start, 40);
    EXPECT_EQ(sink.calls[1].expires, T0 + 2000);
    Json::Value r = Row("DDP");
    EXPECT_EQ(r["startChannel"], "11-70");
    EXPECT_EQ(r["bytesReceived"], "60");
    EXPECT_EQ(r["packetsReceived"], "2");
    EXPECT_EQ(r["errors"], "0");
}

TEST_F(BridgeFixture, DDPSequence) {
    struct {
        std::vector<int> sequences;
        int errors;
    } cases[] = {{{1, 2, 3}, 0}, {{14, 15, 1}, 0}, {{15, 2}, 1}, {{0, 0, 5}, 0}, {{3, 5}, 1}};
    for (const auto& c : cases) {
        bridge->ResetBytesReceived();
        bridge = std::make_unique<E131Bridge>(&sink, BridgeOptions{}); // fresh last sequence
        for (int s : c.sequences) DDP(MakeDDP(0, Ramp(3), 0x41, s));
        EXPECT_EQ(Row("DDP")["errors"], std::to_string(c.errors)) << testing::PrintToString(c.sequences);
    }
}

TEST_F(BridgeFixture, DDPNeverWritesPastTheChannelSpace) {
    const uint32_t end = (uint32_t)BRIDGE_CHANNEL_SPACE;
    // Sequence 0: only the range errors are counted.
    DDP(MakeDDP(end, Ramp(10), 0x41, 0));
    DDP(MakeDDP(0xFFFFFFF0u, Ramp(100), 0x41, 0));
    EXPECT_TRUE(sink.calls.empty());
    DDP(MakeDDP(end - 4, Ramp(10), 0x41, 0));
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].start, (int)end - 4);
    EXPECT_EQ(sink.calls[0].length, 4);
    EXPECT_EQ(Row("DDP")["errors"], "3");
    EXPECT_EQ(Row("DDP")["bytesReceived"], "4");
}

TEST_F(BridgeFixture, DDPForOtherDestinationsWritesNothingToStandardOutput) {
    testing::internal::CaptureStdout();
    for (int id : {250, 251, 246, 255}) {
        DDP(MakeDDP(0, {}, 0x42, 1, id));
        DDP(MakeDDP(0, Ramp(4), 0x41, 1, id));
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_FALSE(bridge->HasBridgeData());
}

TEST_F(BridgeFixture, StatisticsRowsInOrderAndReset) {
    InstallArtNetHandlers();
    DDP(MakeDDP(0, Ramp(3)));
    E131(MakeE131Data(1, 1, Ramp(3)));
    E131(Truncated(MakeE131Data(1, 2, Ramp(3)), 100));  // E1.31 error
    ArtNet(Truncated(MakeArtDmx(3, 1, Ramp(8)), 20));   // Art-Net error
    E131(MakeE131Data(500, 1, Ramp(3)));                // ignored
    E131(MakeE131Sync(1, 1));
    EXPECT_EQ(RowIds(), (std::vector<std::string>{"DDP", "1", "2", "3", "32767", "E1.31 Errors", "Art-Net Errors",
                                                  "Ignored", "E1.31 Sync"}));
    EXPECT_EQ(Row("E1.31 Errors")["errors"], "1");
    EXPECT_EQ(Row("E1.31 Errors")["bytesReceived"], "-");

    bridge->ResetBytesReceived();
    EXPECT_EQ(RowIds(), (std::vector<std::string>{"1", "2", "3", "32767", "Ignored", "E1.31 Sync"}));
    EXPECT_EQ(Row(1)["packetsReceived"], "0");
    // After a reset the first packet is not compared with the old sequence number.
    E131(MakeE131Data(1, 77, Ramp(3)));
    EXPECT_EQ(Row(1)["errors"], "0");
}

// Hostile datagrams: none may change a channel, and well-formed data after them still arrives.
TEST_F(BridgeFixture, HostileDatagramsChangeNothing) {
    InstallArtNetHandlers();
    std::vector<std::pair<std::string, Bytes>> e131, artnet, ddp;
    Bytes e = MakeE131Data(1, 1, Ramp(512, 7));
    for (size_t n : {0, 4, 16, 18, 22, 38, 40, 44, 108, 111, 113, 115, 117, 123, 125, 126, 200, 637}) {
        e131.push_back({"E1.31 cut at " + std::to_string(n), Truncated(e, n)});
    }
    e131.push_back({"E1.31 bad identifier", Patched(e, 6, 'X')});
    e131.push_back({"E1.31 slot count above datagram", Patched(e, 123, 0x7F)});
    e131.push_back({"E1.31 universe 0", MakeE131Data(0, 1, Ramp(512))});
    e131.push_back({"E1.31 universe 65535", MakeE131Data(65535, 1, Ramp(512))});
    e131.push_back({"E1.31 extended type 2", Patched(MakeE131Sync(1, 1), 43, 2)});

    Bytes a = MakeArtDmx(3, 1, Ramp(512, 9));
    for (size_t n : {0, 7, 8, 10, 11, 12, 14, 16, 17, 18, 100, 529}) {
        artnet.push_back({"ArtDmx cut at " + std::to_string(n), Truncated(a, n)});
    }
    artnet.push_back({"Art-Net bad identifier", Patched(a, 0, 'a')});
    artnet.push_back({"Art-Net version 15", Patched(a, 11, 15)});
    artnet.push_back({"ArtDmx length 0x7Fxx over 10 bytes", Patched(MakeArtDmx(3, 1, Ramp(10)), 16, 0x7F)});
    artnet.push_back({"ArtDmx universe 0", MakeArtDmx(0, 1, Ramp(512))});
    artnet.push_back({"unknown opcode", MakeArtNetHeader(0x9900, 40)});

    Bytes d = MakeDDP(100, Ramp(300));
    for (size_t n : {0, 1, 3, 4, 9, 10, 200, 309}) {
        ddp.push_back({"DDP cut at " + std::to_string(n), Truncated(d, n)});
    }
    ddp.push_back({"DDP timecode cut at 13", Truncated(MakeDDP(0, Ramp(10), 0x51), 13)});
    ddp.push_back({"DDP offset at the end", MakeDDP((uint32_t)BRIDGE_CHANNEL_SPACE, Ramp(100))});
    ddp.push_back({"DDP offset 2^32-1", MakeDDP(0xFFFFFFFFu, Ramp(100))});
    ddp.push_back({"DDP query with length", Patched(MakeDDP(0, {}, 0x42), 9, 200)});

    for (const auto& [name, p] : e131) EXPECT_FALSE(E131(p)) << name;
    for (const auto& [name, p] : artnet) EXPECT_FALSE(ArtNet(p)) << name;
    for (const auto& [name, p] : ddp) DDP(p);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(std::count(sink.channels.begin(), sink.channels.end(), 0), BRIDGE_CHANNEL_SPACE);

    // Well-formed data still lands where it belongs and nowhere else.
    E131(MakeE131Data(1, 2, Ramp(512, 7)));
    ArtNet(MakeArtDmx(3, 2, Ramp(512, 9)));
    DDP(MakeDDP(5000, Ramp(8)));
    std::vector<uint8_t> expected(BRIDGE_CHANNEL_SPACE, 0);
    Bytes e1 = Ramp(512, 7), a1 = Ramp(512, 9), d1 = Ramp(8);
    std::copy(e1.begin(), e1.end(), expected.begin());
    std::copy(a1.begin(), a1.end(), expected.begin() + 2000);
    std::copy(d1.begin(), d1.end(), expected.begin() + 5000);
    EXPECT_TRUE(sink.channels == expected);
}

// The HTTP threads read (and reset) the statistics while the main loop counts.
TEST_F(BridgeFixture, StatisticsReadWhileReceiving) {
    InstallArtNetHandlers();
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            Json::Value stats = bridge->GetE131UniverseBytesReceived();
            EXPECT_GE(stats["universes"].size(), 4u);
            bridge->GetSecondsFromInputPacket();
            bridge->HasBridgeData();
            bridge->ResetBytesReceived();
        }
    });
    Bytes e = MakeE131Data(1, 0, Ramp(512));
    Bytes a = MakeArtDmx(3, 0, Ramp(512));
    Bytes d = MakeDDP(0, Ramp(100));
    for (int i = 0; i < 5000; i++) {
        e[111] = (uint8_t)i;
        E131(e);
        ArtNet(a);
        DDP(d);
    }
    done = true;
    reader.join();
}

TEST(E131BridgeUniverses, InvalidEntriesAreNotTaken) {
    ChannelBufferSink sink;
    E131Bridge bridge(&sink, BridgeOptions{});
    InputUniverseConfig cfg;
    cfg.loaded = true;
    cfg.universes = {Universe(70000, 1, 512), Universe(-1, 1, 512), Universe(4, 0, 512), Universe(5, 8388600, 512),
                     Universe(6, 8388097, 512)};
    bridge.SetInputUniverses(cfg);
    ASSERT_EQ(bridge.InputUniverses().size(), 1u);
    EXPECT_EQ(bridge.InputUniverses()[0].universe, 6);
    Bytes p = MakeE131Data(6, 1, Ramp(512));
    bridge.StoreE131Data(p.data(), p.size(), 1);
    ASSERT_EQ(sink.calls.size(), 1u);
    EXPECT_EQ(sink.calls[0].start + sink.calls[0].length, BRIDGE_CHANNEL_SPACE);
}

TEST(E131BridgeRegistration, SocketsAndHandlersFollowTheConfiguration) {
    struct {
        const char* name;
        bool loaded;
        std::vector<int> types;
        bool disableFake;
        bool timeCodeSync;
        bool e131, ddp, artnet; // sockets open
        size_t handlers;
    } cases[] = {
        {"nothing configured: warning handlers", false, {}, false, false, true, true, false, 2},
        {"nothing configured, fake bridges off", false, {}, true, false, false, false, false, 0},
        {"timecode sync only", false, {}, true, true, false, false, true, 0},
        {"E1.31 universes", true, {0}, true, false, true, true, false, 2},
        {"Art-Net universes only, fake off", true, {2}, true, false, false, true, true, 2},
        {"Art-Net universes only", true, {3}, false, false, true, true, true, 3},
        {"empty enabled block, fake off", true, {}, true, false, false, true, false, 1},
    };
    for (const auto& c : cases) {
        BridgeOptions o;
        o.bindAddress = htonl(INADDR_LOOPBACK);
        o.e131Port = o.ddpPort = o.artNetPort = 0;
        o.disableFakeBridges = c.disableFake;
        o.artNetTimeCodeSync = c.timeCodeSync;
        o.listInterfaces = [] { return std::vector<NetInterface>{}; };
        E131Bridge bridge(nullptr, o);
        InputUniverseConfig cfg;
        cfg.loaded = c.loaded;
        int id = 1;
        for (int t : c.types) cfg.universes.push_back(Universe(id++, 1, 512, t));
        bridge.SetInputUniverses(cfg);
        ASSERT_TRUE(bridge.Initialize()) << c.name;
        EXPECT_EQ(bridge.E131Socket() >= 0, c.e131) << c.name;
        EXPECT_EQ(bridge.DDPSocket() >= 0, c.ddp) << c.name;
        EXPECT_EQ(bridge.ArtNetSocket() >= 0, c.artnet) << c.name;
        EXPECT_EQ(bridge.GetBridgeFDs().size(), c.handlers) << c.name;
        bridge.Shutdown();
        EXPECT_EQ(bridge.E131Socket(), -1);
        EXPECT_EQ(bridge.DDPSocket(), -1);
        EXPECT_EQ(bridge.ArtNetSocket(), -1);
    }
}

TEST(E131BridgeSockets, InterfaceFilters) {
    auto iface = [](const char* name, const char* addr) {
        NetInterface i;
        i.name = name;
        inet_pton(AF_INET, addr, &i.address);
        return i;
    };
    std::vector<NetInterface> all = {iface("lo", "127.0.0.1"), iface("eth0", "192.168.1.2"),
                                     iface("usb0", "192.168.7.2"), iface("wlan0", "10.0.0.3"),
                                     iface("lo:1", "127.0.0.2")};
    std::vector<std::string> names;
    for (auto& i : MulticastInterfaces(all)) names.push_back(i.name);
    EXPECT_EQ(names, (std::vector<std::string>{"eth0", "usb0", "wlan0", "lo:1"}));
    names.clear();
    for (auto& i : ArtPollInterfaces(all)) names.push_back(i.name);
    EXPECT_EQ(names, (std::vector<std::string>{"eth0", "wlan0"}));
    EXPECT_EQ(E131MulticastGroup(1), "239.255.0.1");
    EXPECT_EQ(E131MulticastGroup(63999), "239.255.249.255");
}

} // namespace
