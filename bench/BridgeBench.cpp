// The bridge's share of "1,000 E1.31 universes per frame at 40 frames per second":
// decoding and storing one frame's datagrams, directly and through loopback sockets.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "E131Bridge.h"

namespace {

constexpr int UNIVERSES = 1000;

// Copies like the engine's bridge buffer would.
class CopySink : public BridgeDataSink {
public:
    CopySink() : channels(BRIDGE_CHANNEL_SPACE) {}
    void SetBridgeData(const uint8_t* data, int start, int length, uint64_t) override {
        memcpy(&channels[start], data, length);
    }
    std::vector<uint8_t> channels;
};

std::vector<uint8_t> Packet(int universe, int sequence) {
    std::vector<uint8_t> p(638, 0);
    p[1] = 0x10;
    memcpy(&p[4], "ASC-E1.17", 9);
    p[16] = 0x72;
    p[17] = (638 - 16) & 0xFF;
    p[21] = 4;
    p[38] = 0x72;
    p[39] = (638 - 38) & 0xFF;
    p[43] = 2;
    p[108] = 100;
    p[111] = (uint8_t)sequence;
    p[113] = (uint8_t)(universe >> 8);
    p[114] = (uint8_t)universe;
    p[115] = 0x72;
    p[116] = (638 - 115) & 0xFF;
    p[117] = 2;
    p[118] = 0xA1;
    p[122] = 1;
    p[123] = 0x02;
    p[124] = 0x01;
    for (int i = 0; i < 512; i++) p[126 + i] = (uint8_t)(i + universe);
    return p;
}

InputUniverseConfig Config() {
    InputUniverseConfig cfg;
    cfg.loaded = true;
    for (int u = 1; u <= UNIVERSES; u++) {
        UniverseEntry e;
        e.active = 1;
        e.universe = u;
        e.startAddress = (u - 1) * 512 + 1;
        e.size = 512;
        e.type = UNIVERSE_TYPE_E131_UNICAST;
        cfg.universes.push_back(e);
    }
    return cfg;
}

void BM_BridgeFrameOfUniverses(benchmark::State& state) {
    CopySink sink;
    BridgeOptions o;
    o.clockMs = [] { return (uint64_t)1000; };
    E131Bridge bridge(&sink, o);
    bridge.SetInputUniverses(Config());
    std::vector<std::vector<uint8_t>> frame;
    for (int u = 1; u <= UNIVERSES; u++) frame.push_back(Packet(u, 1));
    int seq = 0;
    for (auto _ : state) {
        seq++;
        for (auto& p : frame) {
            p[111] = (uint8_t)seq;
            bridge.StoreE131Data(p.data(), p.size(), 1000);
        }
    }
    state.counters["universes/s"] = benchmark::Counter(state.iterations() * UNIVERSES, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BridgeFrameOfUniverses)->Unit(benchmark::kMicrosecond);

// One frame sent over loopback and drained by the E1.31 handler (recvmmsg batches of 48).
void BM_BridgeFrameOverLoopback(benchmark::State& state) {
    CopySink sink;
    BridgeOptions o;
    o.bindAddress = htonl(INADDR_LOOPBACK);
    o.e131Port = o.ddpPort = 0;
    E131Bridge bridge(&sink, o);
    bridge.SetInputUniverses(Config());
    if (!bridge.Initialize()) {
        state.SkipWithError("no socket");
        return;
    }
    int fd = bridge.E131Socket();
    int rcvbuf = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
    auto handlers = bridge.GetBridgeFDs();
    int out = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(BoundPort(fd));
    std::vector<std::vector<uint8_t>> frame;
    for (int u = 1; u <= UNIVERSES; u++) frame.push_back(Packet(u, 1));
    int seq = 0;
    for (auto _ : state) {
        state.PauseTiming();
        seq++;
        for (auto& p : frame) {
            p[111] = (uint8_t)seq;
            sendto(out, p.data(), p.size(), 0, (sockaddr*)&to, sizeof(to));
        }
        state.ResumeTiming();
        handlers[0].second(fd);
    }
    close(out);
    // Datagrams of universe 1 the kernel dropped (receive buffer full): should stay 0.
    state.counters["lost"] = (double)(state.iterations() - bridge.InputUniverses()[0].packetsReceived.Get());
}
BENCHMARK(BM_BridgeFrameOverLoopback)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
