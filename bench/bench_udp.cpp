// Frame cost of the UDP output: preparing and sending 1,000 E1.31 universes to a receiver
// on loopback, against a bare sendmmsg loop that sends the same prepared datagrams.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "E131OutputData.h"
#include "UDPOutputEngine.h"
#include "UDPProtocols.h"

namespace {
std::atomic<long> allocations{0};
}

// Counts every allocation, so the benchmark can show that a steady-state frame makes none.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

constexpr int UNIVERSES = 1000;
const char* RECEIVER_ADDRESS = "127.0.0.2";

// Reads and drops everything sent to the receiver address, port 5568, so the receive queue never fills.
class Receiver {
public:
    Receiver() {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        int big = 8 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof(big));
        int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(udpproto::E131_PORT);
        a.sin_addr.s_addr = inet_addr(RECEIVER_ADDRESS);
        m_ok = bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        timeval tv{0, 100000};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        m_thread = std::thread([this] {
            static uint8_t buf[64][700];
            mmsghdr msgs[64];
            iovec iov[64];
            for (int i = 0; i < 64; i++) {
                iov[i] = {buf[i], sizeof(buf[i])};
                std::memset(&msgs[i], 0, sizeof(msgs[i]));
                msgs[i].msg_hdr.msg_iov = &iov[i];
                msgs[i].msg_hdr.msg_iovlen = 1;
            }
            while (m_run) {
                const int n = recvmmsg(m_fd, msgs, 64, 0, nullptr);
                if (n > 0) received += n;
            }
        });
    }
    ~Receiver() {
        m_run = false;
        m_thread.join();
        close(m_fd);
    }
    bool ok() const { return m_ok; }
    std::atomic<long> received{0};

private:
    int m_fd = -1;
    bool m_ok = false;
    std::atomic<bool> m_run{true};
    std::thread m_thread;
};

Json::Value thousandUniverses() {
    Json::Value entry;
    entry["type"] = 1;
    entry["address"] = RECEIVER_ADDRESS;
    entry["startChannel"] = 1;
    entry["channelCount"] = 512;
    entry["universeCount"] = UNIVERSES;
    entry["id"] = 1;
    return entry;
}

// The receiver, a channel buffer and the counters every case reports.
struct Frame {
    Receiver receiver;
    std::vector<uint8_t> channels = std::vector<uint8_t>(8388608 + 8, 0);
    long allocationsBefore = 0;
    uint8_t n = 0;

    void change() { // every frame differs a little, as a show does
        channels[size_t(n) * 97] = n;
        n++;
    }
    void start() { allocationsBefore = allocations.load(); }
    void report(benchmark::State& state) {
        state.counters["allocs/frame"] = double(allocations.load() - allocationsBefore) /
                                         double(state.iterations());
        state.counters["received"] = double(receiver.received.load());
    }
};

// The same datagrams as the output sends, prepared once, sent by a bare sendmmsg loop.
void BM_BareSendmmsg(benchmark::State& state) {
    Frame f;
    if (!f.receiver.ok()) return state.SkipWithError("cannot bind the receiver");
    E131OutputData entry(thousandUniverses(), UDPOutputContext{});
    UDPOutputMessages msgs;
    entry.PrepareData(f.channels.data(), msgs);
    std::vector<mmsghdr>& group = msgs.GetMessages(entry.destinationKey());
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    f.start();
    for (auto _ : state) {
        size_t sent = 0;
        while (sent < group.size()) {
            const int r = sendmmsg(fd, group.data() + sent,
                                   unsigned(std::min<size_t>(group.size() - sent, 1024)), MSG_DONTWAIT);
            if (r <= 0) break;
            sent += size_t(r);
        }
    }
    f.report(state);
    close(fd);
}
BENCHMARK(BM_BareSendmmsg)->Unit(benchmark::kMillisecond)->UseRealTime();

// The UDP output's frame: PrepData and SendData, unthreaded (0) or with send workers (1).
void BM_UDPOutputFrame(benchmark::State& state) {
    Frame f;
    if (!f.receiver.ok()) return state.SkipWithError("cannot bind the receiver");
    Json::Value config;
    config["enabled"] = 1;
    config["interface"] = "lo";
    config["threaded"] = int(state.range(0));
    config["universes"].append(thousandUniverses());
    UDPOutputEngine out;
    if (!out.Init(config)) return state.SkipWithError("Init failed");
    for (int warm = 0; warm < 3; warm++) { // sockets, vectors and workers come first
        out.PrepData(f.channels.data());
        out.SendData(f.channels.data());
    }
    f.start();
    for (auto _ : state) {
        f.change();
        out.PrepData(f.channels.data());
        out.SendData(f.channels.data());
    }
    f.report(state);
    out.Close();
}
BENCHMARK(BM_UDPOutputFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
