// The real kivd bridges E1.31 (unicast and multicast), Art-Net and DDP sent on this host to a "UDP" output: the
// values must arrive on the output's receiver, expire after the input timeout, show in
// the statistics of the HTTP API, and survive a table of hostile datagrams. The output
// speaks KiNet (port 6038) because the bridge holds the E1.31, Art-Net and DDP ports on
// every address. Every wait is bounded; the daemon is stopped with SIGTERM, then SIGKILL.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <json/json.h>

#include "bridge/BridgePackets.h"
#include "integration/IntegrationFiles.h"
#include "channeloutput/LoopbackReceiver.h"
#include "channeloutput/UDPProtocols.h"

namespace {

using namespace udpproto;

const std::string KIVD = std::string(KIV_BUILD_DIR) + "/src/kivd";

constexpr int SLOTS = 512;
constexpr int CHANNELS = 3 * SLOTS; // E1.31 universe 1, Art-Net universe 2, DDP
constexpr int TIMEOUT_MS = 1000;    // the input universes' data expiry
constexpr uint32_t CHANNEL_SPACE = 8388608;


std::string http(const std::string& path, const std::string& method = "GET") {
    const std::string command = "curl -s -m 3 -X " + method + " http://127.0.0.1:32322" + path;
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Sends datagrams to the daemon on 127.0.0.1.
class Sender {
public:
    Sender() : m_fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Sender() { close(m_fd); }
    // The bridge joins groups on every interface but loopback, so multicast goes out on
    // `address`'s interface with TTL 0: looped back to this host, never put on the wire.
    bool multicastVia(in_addr address) const {
        const uint8_t ttl = 0;
        return setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof(address)) == 0 &&
               setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl)) == 0;
    }
    void send(const Bytes& p, uint16_t port, const char* address = "127.0.0.1") const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = inet_addr(address);
        (void)sendto(m_fd, p.data(), p.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
    }

private:
    int m_fd;
};

Bytes pattern(uint8_t seed) {
    Bytes b(SLOTS);
    for (size_t i = 0; i < b.size(); i++) b[i] = uint8_t(1 + (i * 3 + seed) % 250);
    return b;
}

class BridgeEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/kiv-bridge-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        media = dir;
        for (auto sub : {"config", "sequences", "playlists", "logs", "tmp"})
            std::filesystem::create_directories(media + "/" + sub);
        writeFile(media + "/config/channeloutputs.json",
                  R"({"channelOutputs": [{"type": "UDP", "enabled": 1, "interface": "lo", "universes": [
                      {"type": 7, "address": "127.0.0.24", "startChannel": 1, "channelCount": 512,
                       "id": 1, "universeCount": 3}]}]})");
    }
    void TearDown() override {
        stop();
        if (!HasFailure()) std::filesystem::remove_all(media);
    }
    void writeInputUniverses() {
        writeFile(media + "/config/ci-universes.json",
                  R"({"channelInputs": [{"type": "universes", "enabled": 1, "timeout": )" +
                      std::to_string(TIMEOUT_MS) + R"(, "universes": [
                      {"active": 1, "type": 1, "id": 1, "startChannel": 1, "channelCount": 512},
                      {"active": 1, "type": 2, "id": 2, "startChannel": 513, "channelCount": 512}]}]})");
    }

    void start() {
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            setenv("KIV_MEDIA_DIR", media.c_str(), 1);
            unsetenv("KIV_PLUGIN_DIR");
            int out = open((media + "/kivd-output.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(out, 1);
            dup2(out, 2);
            execl(KIVD.c_str(), KIVD.c_str(), "-f", nullptr);
            _exit(127);
        }
    }
    bool running() const { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
    bool stop() {
        if (pid <= 0) return true;
        kill(pid, SIGTERM);
        bool ended = false;
        for (int i = 0; i < 100 && !ended; i++) {
            ended = waitpid(pid, nullptr, WNOHANG) == pid;
            if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
        return ended;
    }
    std::string log() const { return readFile(media + "/kivd-output.txt"); }

    // Reads the output until `done` holds for the channels it last carried, at most `ms`.
    bool outputUntil(const std::function<bool(const Bytes&)>& done, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            for (auto& p : receiver.receive(30, 100)) {
                if (p.size() != KINET_V2_HEADER_LENGTH + SLOTS || p[16] < 1 || p[16] > 3) continue;
                std::copy(p.begin() + long(KINET_V2_HEADER_LENGTH), p.end(), image.begin() + (p[16] - 1) * SLOTS);
            }
            if (done(image)) return true;
        }
        return done(image);
    }
    // The output runs only while bridged data is live, so nothing can be awaited here.
    void startAndWaitForOutput() {
        ASSERT_TRUE(receiver.ok()) << "another program holds 127.0.0.24:6038";
        start();
    }
    // One well-formed datagram per protocol, with channels from `seed`.
    void sendAll(uint8_t seed, int sequence) {
        sender.send(MakeE131Data(1, sequence, pattern(seed)), E131_PORT);
        sender.send(MakeArtDmx(2, sequence % 255 + 1, pattern(uint8_t(seed + 1))), ARTNET_PORT);
        sender.send(MakeDDP(2 * SLOTS, pattern(uint8_t(seed + 2)), 0x41, sequence % 15 + 1), DDP_PORT);
    }
    static bool holds(const Bytes& image, uint8_t seed) {
        for (int u = 0; u < 3; u++) {
            const Bytes want = pattern(uint8_t(seed + u));
            if (!std::equal(want.begin(), want.end(), image.begin() + u * SLOTS)) return false;
        }
        return true;
    }
    // Sends until the output carries `seed` (the daemon may still be starting), at most 10 s.
    bool bridges(uint8_t seed, int& sequence) {
        for (int i = 0; i < 100; i++) {
            sendAll(seed, sequence++);
            if (outputUntil([&](const Bytes& im) { return holds(im, seed); }, 100)) return true;
        }
        return false;
    }

    std::string media;
    pid_t pid = -1;
    LoopbackReceiver receiver{"127.0.0.24", KINET_PORT};
    Sender sender;
    Bytes image = Bytes(CHANNELS, 0);
};

TEST_F(BridgeEndToEnd, ProtocolsReachTheOutputAndExpire) {
    writeInputUniverses();
    startAndWaitForOutput();
    int sequence = 1;
    ASSERT_TRUE(bridges(10, sequence)) << "bridged values never reached the output\n" << log();
    // The daemon is up now, so from here on it receives every datagram sent.
    http("/kivd/e131stats", "DELETE");
    const int before = sequence;
    ASSERT_TRUE(bridges(11, sequence)) << log();
    const int sent = sequence - before;

    // With no show playing, the output runs while bridged data lives: on for most of the
    // timeout after the last datagram, then silent once it has expired.
    const auto last = std::chrono::steady_clock::now();
    receiver.drain();
    std::this_thread::sleep_until(last + std::chrono::milliseconds(TIMEOUT_MS / 2));
    receiver.drain();
    EXPECT_FALSE(receiver.receive(1, TIMEOUT_MS / 4).empty()) << "the output stopped before the data expired";
    std::this_thread::sleep_until(last + std::chrono::milliseconds(TIMEOUT_MS + 1000));
    receiver.drain();
    EXPECT_TRUE(receiver.receive(1, 500).empty()) << "the output still runs after the data expired";

    // One statistics row per configured universe and one for DDP, counting every datagram
    // sent (loopback loses none).
    const std::string text = http("/kivd/e131stats");
    Json::Value stats;
    std::istringstream in(text);
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), in, &stats, nullptr)) << text;
    const Json::Value& rows = stats["universes"];
    ASSERT_TRUE(rows.isArray()) << text;
    const auto row = [&](const Json::Value& id) {
        for (const auto& r : rows)
            if (r["id"] == id) return r;
        return Json::Value();
    };
    const struct {
        Json::Value id, start;
    } expected[] = {{"DDP", "1025-1536"}, {1, 1}, {2, 513}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.id.toStyledString());
        const Json::Value r = row(e.id);
        EXPECT_EQ(r["startChannel"], e.start) << text;
        EXPECT_EQ(r["packetsReceived"].asString(), std::to_string(sent)) << text;
        EXPECT_EQ(r["bytesReceived"].asString(), std::to_string(sent * SLOTS)) << text;
        EXPECT_EQ(r["errors"].asString(), "0") << text;
    }
    EXPECT_TRUE(stop()) << "kivd did not stop on SIGTERM within 5 s";
}

TEST_F(BridgeEndToEnd, HostileDatagramsLeaveTheDaemonRunningAndLoseNoLaterData) {
    writeInputUniverses();
    startAndWaitForOutput();
    int sequence = 1;
    ASSERT_TRUE(bridges(20, sequence)) << log();

    struct Hostile {
        const char* what;
        Bytes datagram;
        uint16_t port;
    };
    std::vector<Hostile> table;
    const Bytes e131 = MakeE131Data(1, 1, pattern(99));
    for (size_t cut : {0, 4, 16, 22, 38, 44, 108, 112, 115, 118, 123, 125, 126, 300})
        table.push_back({"E1.31 truncated", Bytes(e131.begin(), e131.begin() + long(cut)), E131_PORT});
    Bytes badId = e131;
    badId[4] = 'X';
    table.push_back({"E1.31 wrong identifier", badId, E131_PORT});
    table.push_back({"E1.31 universe 0", MakeE131Data(0, 1, pattern(99)), E131_PORT});
    table.push_back({"E1.31 universe 65535", MakeE131Data(65535, 1, pattern(99)), E131_PORT});
    Bytes overlong = MakeE131Data(1, 1, Bytes(10, 99));
    overlong[123] = 0x02; // claims 512 slots, holds 10
    overlong[124] = 0x01;
    table.push_back({"E1.31 count past the datagram", overlong, E131_PORT});
    const Bytes dmx = MakeArtDmx(2, 1, pattern(99));
    for (size_t cut : {0, 7, 8, 10, 12, 14, 16, 17, 18, 100})
        table.push_back({"ArtDmx truncated", Bytes(dmx.begin(), dmx.begin() + long(cut)), ARTNET_PORT});
    Bytes dmxLong = MakeArtDmx(2, 1, Bytes(10, 99));
    dmxLong[16] = 0x02; // length 512, holds 10
    dmxLong[17] = 0x00;
    table.push_back({"ArtDmx length past the datagram", dmxLong, ARTNET_PORT});
    Bytes notArtNet = dmx;
    notArtNet[0] = 'B';
    table.push_back({"Art-Net wrong identifier", notArtNet, ARTNET_PORT});
    const Bytes ddp = MakeDDP(2 * SLOTS, pattern(99));
    for (size_t cut : {0, 1, 4, 8, 9, 10, 13})
        table.push_back({"DDP truncated", Bytes(ddp.begin(), ddp.begin() + long(cut)), DDP_PORT});
    Bytes ddpLong = MakeDDP(2 * SLOTS, Bytes(10, 99));
    ddpLong[8] = 0x05; // length 1,400, holds 10
    ddpLong[9] = 0x78;
    table.push_back({"DDP length past the datagram", ddpLong, DDP_PORT});
    table.push_back({"DDP offset at the end", MakeDDP(CHANNEL_SPACE, pattern(99)), DDP_PORT});
    table.push_back({"DDP offset straddling the end", MakeDDP(CHANNEL_SPACE - 10, pattern(99)), DDP_PORT});
    table.push_back({"DDP offset past the end", MakeDDP(0xFFFFFF00u, pattern(99)), DDP_PORT});
    const Bytes timecode = MakeDDP(0, {1, 2}, 0x51);
    table.push_back({"DDP timecode truncated", Bytes(timecode.begin(), timecode.begin() + 12), DDP_PORT});

    for (auto& h : table) {
        sender.send(h.datagram, h.port);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(running()) << "kivd ended after: " << h.what << "\n" << log();
    }
    // A burst of 100,000 datagrams for an unconfigured universe.
    const Bytes stray = MakeE131Data(999, 1, pattern(5));
    for (int i = 0; i < 100000; i++) sender.send(stray, E131_PORT);
    ASSERT_TRUE(running()) << "kivd ended after the burst\n" << log();

    // Well-formed data sent after all that arrives exactly.
    EXPECT_TRUE(bridges(40, sequence)) << "well-formed data lost after the hostile datagrams\n" << log();
    EXPECT_TRUE(running());
    EXPECT_TRUE(stop()) << "kivd did not stop on SIGTERM within 5 s";
}

// A multicast universe is joined on loopback; its group's data reaches the output.
TEST_F(BridgeEndToEnd, MulticastE131ReachesTheOutput) {
    writeFile(media + "/config/ci-universes.json",
              R"({"channelInputs": [{"type": "universes", "enabled": 1, "universes": [
                  {"active": 1, "type": 0, "id": 3, "startChannel": 1, "channelCount": 512}]}]})");
    in_addr local{};
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) == 0) {
        for (ifaddrs* i = all; i && local.s_addr == 0; i = i->ifa_next) {
            if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_MULTICAST) &&
                !(i->ifa_flags & IFF_LOOPBACK))
                local = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
        }
        freeifaddrs(all);
    }
    if (local.s_addr == 0) {
        GTEST_SKIP() << "no multicast interface besides loopback, where the bridge joins no group";
    }
    ASSERT_TRUE(sender.multicastVia(local));
    startAndWaitForOutput();
    const Bytes want = pattern(50);
    bool arrived = false;
    for (int i = 0; i < 100 && !arrived; i++) {
        sender.send(MakeE131Data(3, i, want), E131_PORT, "239.255.0.3");
        arrived = outputUntil([&](const Bytes& im) { return std::equal(want.begin(), want.end(), im.begin()); }, 100);
    }
    EXPECT_TRUE(arrived) << "E1.31 sent to 239.255.0.3 never reached the output\n" << log();
    EXPECT_TRUE(stop()) << "kivd did not stop on SIGTERM within 5 s";
}

// Data arriving while no input universe is configured raises a warning naming the sender.
TEST_F(BridgeEndToEnd, UnconfiguredInputRaisesAWarning) {
    startAndWaitForOutput();
    std::string status;
    for (int i = 0; i < 50; i++) {
        sender.send(MakeE131Data(1, i, pattern(1)), E131_PORT);
        status = http("/kivd/status");
        if (status.find("Received E1.31 data from 127.0.0.1") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_NE(status.find("Received E1.31 data from 127.0.0.1"), std::string::npos) << status << "\n" << log();
    EXPECT_TRUE(stop()) << "kivd did not stop on SIGTERM within 5 s";
}

} // namespace
