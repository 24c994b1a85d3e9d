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

// Reads and drops everything sent to 127.0.0.1:5568 so the receive queue never fills.
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
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

int senderSocket() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int big = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &big, sizeof(big));
    return fd;
}

void sendAll(int fd, std::vector<mmsghdr>& msgs) {
    size_t sent = 0;
    while (sent < msgs.size()) {
        const int r = sendmmsg(fd, msgs.data() + sent, unsigned(std::min<size_t>(msgs.size() - sent, 1024)), 0);
        if (r <= 0) break;
        sent += size_t(r);
    }
}

std::unique_ptr<E131OutputData> thousandUniverses() {
    Json::Value entry;
    entry["type"] = 1;
    entry["address"] = "127.0.0.1";
    entry["startChannel"] = 1;
    entry["channelCount"] = 512;
    entry["universeCount"] = UNIVERSES;
    entry["id"] = 1;
    UDPOutputContext context;
    context.sourceName = "bench";
    return std::make_unique<E131OutputData>(entry, context);
}

void report(benchmark::State& state, long allocationsBefore, long received) {
    state.counters["allocs/frame"] = benchmark::Counter(
        double(allocations.load() - allocationsBefore) / double(state.iterations()));
    state.counters["universes/frame"] = UNIVERSES;
    state.counters["received"] = double(received);
}

void BM_BareSendmmsg(benchmark::State& state) {
    Receiver receiver;
    if (!receiver.ok()) {
        state.SkipWithError("cannot bind 127.0.0.1:5568");
        return;
    }
    auto entry = thousandUniverses();
    std::vector<uint8_t> channels(UNIVERSES * 512 + 16, 0);
    UDPOutputMessages msgs;
    entry->PrepareData(channels.data(), msgs);
    std::vector<mmsghdr>& group = msgs.GetMessages(entry->destinationKey());
    const int fd = senderSocket();
    const long before = allocations.load();
    for (auto _ : state) sendAll(fd, group);
    report(state, before, receiver.received.load());
    close(fd);
}
BENCHMARK(BM_BareSendmmsg)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrepareAndSend(benchmark::State& state) {
    Receiver receiver;
    if (!receiver.ok()) {
        state.SkipWithError("cannot bind 127.0.0.1:5568");
        return;
    }
    auto entry = thousandUniverses();
    std::vector<uint8_t> channels(UNIVERSES * 512 + 16, 0);
    UDPOutputMessages msgs;
    const int fd = senderSocket();
    entry->PrepareData(channels.data(), msgs); // first frame sizes the vectors
    const long before = allocations.load();
    uint8_t n = 0;
    for (auto _ : state) {
        channels[size_t(n) * 97] = n; // the frame changes
        n++;
        msgs.clearMessages();
        entry->PrepareData(channels.data(), msgs);
        sendAll(fd, msgs.GetMessages(entry->destinationKey()));
    }
    report(state, before, receiver.received.load());
    close(fd);
}
BENCHMARK(BM_PrepareAndSend)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrepareOnly(benchmark::State& state) {
    auto entry = thousandUniverses();
    std::vector<uint8_t> channels(UNIVERSES * 512 + 16, 0);
    UDPOutputMessages msgs;
    entry->PrepareData(channels.data(), msgs);
    uint8_t n = 0;
    for (auto _ : state) {
        channels[size_t(n) * 97] = n;
        n++;
        msgs.clearMessages();
        entry->PrepareData(channels.data(), msgs);
    }
}
BENCHMARK(BM_PrepareOnly)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
