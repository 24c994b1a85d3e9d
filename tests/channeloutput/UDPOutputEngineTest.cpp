#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/resource.h>
#include <thread>

#include "LoopbackReceiver.h"
#include "PcapWriter.h"
#include "TsharkDecode.h"
#include "NetworkMonitor.h"
#include "UDPOutputEngine.h"
#include "WarningHolder.h"
#include "common.h"
#include "settings.h"

// The UDP output engine on the loopback interface, sending to receivers on 127.0.0.2-5 (the
// protocols' fixed ports, so these tests run serially).
namespace {

using namespace std::chrono_literals;

Json::Value config(const std::string& universes, int threaded = 1) {
    Json::Value c = LoadJsonFromString(R"({"type":"UDP","enabled":1,"interface":"lo","universes":)" +
                                       universes + "}");
    c["threaded"] = threaded;
    return c;
}

const char* ALL_PROTOCOLS = R"([
  {"type":1,"address":"127.0.0.2","startChannel":1,"channelCount":16,"id":7,"universeCount":2,"priority":120},
  {"type":3,"address":"127.0.0.3","startChannel":33,"channelCount":9,"id":300},
  {"type":5,"address":"127.0.0.4","startChannel":50,"channelCount":1500},
  {"type":7,"address":"127.0.0.5","startChannel":2000,"channelCount":30,"id":2}
])";

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, size_t from, size_t n) {
    return std::vector<uint8_t>(v.begin() + long(from), v.begin() + long(from + n));
}

class UDPOutputEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        WarningHolder::ClearWarnings();
        for (auto* r : {&e131, &artnet, &ddp, &kinet}) ASSERT_TRUE(r->ok()) << "receiver bind";
        for (size_t i = 0; i < channels.size(); i++) channels[i] = uint8_t(i * 13 + 1);
    }
    void TearDown() override {
        SetSetting("DisableFakeNetworkBridges", 0);
        WarningHolder::ClearWarnings();
    }
    void frame(UDPOutputEngine& out) {
        out.PrepData(channels.data());
        EXPECT_EQ(out.SendData(channels.data()), 1);
    }
    bool hasWarning(const std::string& part) {
        for (const auto& w : WarningHolder::GetWarnings())
            if (w.find(part) != std::string::npos) return true;
        return false;
    }

    std::vector<uint8_t> channels = std::vector<uint8_t>(8388608 + 8, 0);
    LoopbackReceiver e131{"127.0.0.2", 5568};
    LoopbackReceiver artnet{"127.0.0.3", 6454};
    LoopbackReceiver ddp{"127.0.0.4", 4048};
    LoopbackReceiver kinet{"127.0.0.5", 6038};
};

TEST_F(UDPOutputEngineTest, EveryProtocolArrivesExactly) {
    for (int threaded : {0, 1}) {
        SCOPED_TRACE(threaded ? "threaded" : "unthreaded");
        UDPOutputEngine out;
        ASSERT_TRUE(out.Init(config(ALL_PROTOCOLS, threaded)));
        for (int f = 0; f < 3; f++) {
            channels[0] = uint8_t(f);
            frame(out);
            auto e = e131.receive(2, 2000);
            ASSERT_EQ(e.size(), 2u);
            for (size_t u = 0; u < 2; u++) {
                ASSERT_EQ(e[u].size(), 126u + 16);
                EXPECT_EQ(e[u][108], 120) << "priority";
                EXPECT_EQ(e[u][111], f) << "sequence per universe";
                EXPECT_EQ(e[u][113] << 8 | e[u][114], 7 + int(u)) << "universe";
                EXPECT_EQ(slice(e[u], 126, 16), slice(channels, u * 16, 16));
            }
            auto a = artnet.receive(1, 2000);
            ASSERT_EQ(a.size(), 1u);
            EXPECT_EQ(a[0][12], f + 1) << "Art-Net sequence";
            EXPECT_EQ(a[0][14] | a[0][15] << 8, 300);
            EXPECT_EQ(a[0][16] << 8 | a[0][17], 10) << "even length";
            EXPECT_EQ(slice(a[0], 18, 9), slice(channels, 32, 9));
            auto d = ddp.receive(2, 2000);
            ASSERT_EQ(d.size(), 2u);
            EXPECT_EQ(d[0][0], 0x40);
            EXPECT_EQ(d[1][0], 0x41) << "push on the last datagram";
            EXPECT_EQ(d[1][7], 1440 & 0xFF) << "second datagram's offset";
            EXPECT_EQ(slice(d[0], 10, 1440), slice(channels, 49, 1440));
            EXPECT_EQ(slice(d[1], 10, 60), slice(channels, 49 + 1440, 60));
            auto k = kinet.receive(1, 2000);
            ASSERT_EQ(k.size(), 1u);
            EXPECT_EQ(k[0][16], 2) << "KiNet port";
            EXPECT_EQ(slice(k[0], 24, 30), slice(channels, 1999, 30));
        }
        std::vector<std::pair<int, int>> ranges;
        out.GetRequiredChannelRanges([&](int a, int b) { ranges.push_back({a, b}); });
        EXPECT_EQ(ranges, (std::vector<std::pair<int, int>>{{0, 31}, {32, 40}, {49, 1548}, {1999, 2028}}));
        out.Close();
    }
}

// What really left the output, handed to an independent decoder.
TEST_F(UDPOutputEngineTest, SentPacketsDecodeCleanly) {
    if (!tsharkAvailable()) GTEST_SKIP() << "tshark missing";
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(config(ALL_PROTOCOLS)));
    char dir[] = "/tmp/udpoutput-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string pcap = std::string(dir) + "/sent.pcap";
    {
        PcapWriter w(pcap);
        for (int f = 0; f < 2; f++) {
            frame(out);
            for (const auto& d : e131.receive(2, 2000))
                w.add(inet_addr("127.0.0.1"), inet_addr("127.0.0.2"), 40000, 5568, d.data(), d.size());
            for (const auto& d : artnet.receive(1, 2000))
                w.add(inet_addr("127.0.0.1"), inet_addr("127.0.0.3"), 40000, 6454, d.data(), d.size());
        }
    }
    const auto rows = tsharkFields(pcap, "-e acn.dmx.universe -e acn.dmx.seq_number "
                                         "-e artnet.output.universe -e artnet.output.sequence "
                                         "-e _ws.malformed");
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    const std::vector<std::string> expected = {"7,0,,,", "8,0,,,", ",,300,1,",
                                               "7,1,,,", "8,1,,,", ",,300,2,"};
    EXPECT_EQ(rows, expected);
    out.Close();
}

TEST_F(UDPOutputEngineTest, MalformedEntriesAreDisabledOthersSend) {
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(config(R"([
      {"type":1,"startChannel":1,"channelCount":16,"id":1,"description":"porch"},
      {"type":9,"address":"127.0.0.2","startChannel":1,"channelCount":16},
      {"type":3,"address":"127.0.0.3","startChannel":1,"channelCount":600},
      {"type":4,"address":"no-such-host.invalid","startChannel":1,"channelCount":10},
      {"type":1,"address":"127.0.0.2","startChannel":1,"channelCount":16,"id":1}
    ])")));
    EXPECT_TRUE(hasWarning("UDP output entry 1 (E1.31 porch) disabled: \"address\" is missing"));
    EXPECT_TRUE(hasWarning("UDP output entry 3 (ArtNet ) disabled"));
    EXPECT_TRUE(hasWarning("UDP output entry 4 (DDP ) disabled: cannot resolve"));
    frame(out);
    EXPECT_EQ(e131.receive(2, 300).size(), 1u) << "only the good entry";
    EXPECT_TRUE(artnet.receive(1, 100).empty());
    out.Close();
}

TEST_F(UDPOutputEngineTest, SelfSendGuard) {
    const char* toMyself = R"([{"type":1,"address":"127.0.0.1","startChannel":1,"channelCount":8,"id":1}])";
    {
        UDPOutputEngine out;
        ASSERT_TRUE(out.Init(config(toMyself)));
        EXPECT_TRUE(hasWarning("UDP Output set to send data to myself.  Disabling 127.0.0.1"));
        int ranges = 0;
        out.GetRequiredChannelRanges([&](int, int) { ranges++; });
        EXPECT_EQ(ranges, 0);
        out.Close();
    }
    WarningHolder::ClearWarnings();
    SetSetting("DisableFakeNetworkBridges", 1);
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(config(toMyself)));
    EXPECT_FALSE(hasWarning("send data to myself"));
    out.Close();
}

TEST_F(UDPOutputEngineTest, DisabledOutputSendsNothing) {
    Json::Value c = config(ALL_PROTOCOLS);
    c.removeMember("enabled");
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(c));
    out.PrepData(channels.data());
    EXPECT_EQ(out.SendData(channels.data()), 0);
    int ranges = 0;
    out.GetRequiredChannelRanges([&](int, int) { ranges++; });
    EXPECT_EQ(ranges, 0);
    EXPECT_TRUE(e131.receive(1, 100).empty());
    out.Close();
}

// Descriptors run out mid-show: the output stops with a warning, the process goes on.
TEST_F(UDPOutputEngineTest, SocketFailureDisablesTheOutput) {
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(config(ALL_PROTOCOLS, 0)));
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    const int probe = dup(0);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(probe); // no descriptor above the ones in use
    close(probe);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    out.PrepData(channels.data());
    const int result = out.SendData(channels.data());
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(hasWarning("UDP output disabled: Error opening datagram socket"));
    out.PrepData(channels.data());
    EXPECT_EQ(out.SendData(channels.data()), 0) << "stays off";
    out.Close();
}

TEST_F(UDPOutputEngineTest, NetworkDownAndBackUp) {
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(config(ALL_PROTOCOLS)));
    frame(out);
    out.networkEvent(int(NetworkMonitor::NetEventType::DEL_ADDR), 0, "lo");
    out.PrepData(channels.data());
    EXPECT_EQ(out.SendData(channels.data()), 0) << "no sockets while down";
    out.networkEvent(int(NetworkMonitor::NetEventType::DEL_ADDR), 0, "eth9");
    // lo keeps its address, so the ping thread sets the sockets up again.
    int result = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (result == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        out.PrepData(channels.data());
        result = out.SendData(channels.data());
    }
    EXPECT_EQ(result, 1);
    out.Close();
}

// A worker that overruns its 50 ms keeps its datagrams: the next frame neither refills
// them nor counts the late finish as one of its own jobs.
TEST_F(UDPOutputEngineTest, LateWorkerKeepsItsFrame) {
    UDPOutputEngine out;
    ASSERT_TRUE(out.Init(config(R"([
      {"type":1,"address":"127.0.0.2","startChannel":1,"channelCount":8,"id":1},
      {"type":3,"address":"127.0.0.3","startChannel":1,"channelCount":8,"id":1},
      {"type":0,"startChannel":1,"channelCount":8,"id":1}
    ])")));
    std::mutex m;
    std::condition_variable cv;
    bool releaseE131 = false;
    std::vector<uint8_t> e131Sent;
    std::atomic<int> multicastBatches{0};
    out.SetSendFunction([&](int fd, mmsghdr* msgs, unsigned n, int flags) -> int {
        const auto* to = static_cast<const sockaddr_in*>(msgs[0].msg_hdr.msg_name);
        if (to->sin_addr.s_addr == inet_addr("127.0.0.2")) {
            std::unique_lock<std::mutex> l(m);
            cv.wait_for(l, 2s, [&] { return releaseE131; });
            const auto* p = static_cast<const uint8_t*>(msgs[0].msg_hdr.msg_iov[0].iov_base);
            e131Sent.assign(p + 126, p + 134);
            return int(n);
        }
        if ((ntohl(to->sin_addr.s_addr) >> 24) == 239) multicastBatches++;
        if (to->sin_addr.s_addr == inet_addr("127.0.0.3")) std::this_thread::sleep_for(30ms);
        return int(n);
    });
    channels[0] = 0x11;
    const auto t0 = std::chrono::steady_clock::now();
    frame(out);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 50ms);
    EXPECT_EQ(multicastBatches, 0) << "reserved groups wait while workers overrun";

    channels[0] = 0x22;
    out.PrepData(channels.data()); // the E1.31 group is still in flight
    {
        std::lock_guard<std::mutex> l(m);
        releaseE131 = true;
    }
    cv.notify_all();
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_EQ(out.SendData(channels.data()), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - t1, 25ms)
        << "the late E1.31 finish must not stand in for the Art-Net job";
    EXPECT_EQ(multicastBatches, 1);
    std::unique_lock<std::mutex> l(m);
    ASSERT_EQ(e131Sent.size(), 8u);
    EXPECT_EQ(e131Sent[0], 0x11) << "the late worker sent its own frame, not a refilled one";
    l.unlock();

    // Once it is done the destination is prepared and sent again.
    channels[0] = 0x33;
    frame(out);
    l.lock();
    EXPECT_EQ(e131Sent[0], 0x33);
    l.unlock();
    out.Close();
}

} // namespace
