#include "Ping.h"

#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>

#include "log.h"

namespace pingdetail {

uint16_t checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (length & 1) sum += uint32_t(data[length - 1]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

size_t buildEchoRequest(uint8_t* out, size_t size, uint16_t id, uint16_t sequence,
                        size_t payloadLength) {
    const size_t length = 8 + payloadLength;
    if (size < length) return 0;
    std::memset(out, 0, length);
    out[0] = 8; // echo request
    out[4] = uint8_t(id >> 8);
    out[5] = uint8_t(id);
    out[6] = uint8_t(sequence >> 8);
    out[7] = uint8_t(sequence);
    for (size_t i = 0; i < payloadLength; i++) out[8 + i] = uint8_t(i);
    const uint16_t sum = checksum(out, length);
    out[2] = uint8_t(sum >> 8);
    out[3] = uint8_t(sum);
    return length;
}

bool isEchoReply(const uint8_t* packet, size_t length, bool hasIPHeader, uint16_t id,
                 uint16_t sequence) {
    size_t offset = 0;
    if (hasIPHeader) {
        if (length < 20 || (packet[0] >> 4) != 4) return false;
        offset = size_t(packet[0] & 0x0F) * 4;
        if (offset < 20) return false;
    }
    if (length < offset + 8) return false;
    const uint8_t* icmp = packet + offset;
    if (icmp[0] != 0 || icmp[1] != 0) return false; // echo reply, code 0
    if (hasIPHeader && (uint16_t(icmp[4] << 8 | icmp[5]) != id)) return false;
    return uint16_t(icmp[6] << 8 | icmp[7]) == sequence;
}

} // namespace pingdetail

namespace {

bool resolve(const std::string& host, in_addr& out) {
    bool hasLetter = false;
    for (char c : host) hasLetter |= std::isalpha(static_cast<unsigned char>(c)) != 0;
    if (!hasLetter) return inet_pton(AF_INET, host.c_str(), &out) == 1;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return false;
    out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return true;
}

std::atomic<uint16_t> nextSequence{1};

} // namespace

int ping(const std::string& host, int timeoutMs) { return pingMany({{host, timeoutMs}})[0]; }

std::vector<int> pingMany(const std::vector<PingRequest>& requests) {
    using Clock = std::chrono::steady_clock;
    std::vector<int> results(requests.size(), 0);
    struct Pending {
        in_addr address{};
        uint16_t sequence = 0;
        Clock::time_point deadline;
        bool done = false;
    };
    std::vector<Pending> pending(requests.size());
    bool anyResolved = false;
    for (size_t i = 0; i < requests.size(); i++) {
        if (!resolve(requests[i].host, pending[i].address)) {
            LogDebug(kivlog::General, "ping: cannot resolve '%s'\n", requests[i].host.c_str());
            results[i] = -1;
            pending[i].done = true;
        } else {
            anyResolved = true;
        }
    }
    if (!anyResolved) return results;

    bool raw = true;
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        raw = false;
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    if (fd < 0) {
        LogErr(kivlog::General, "ping: no ICMP socket: %s\n", strerror(errno));
        for (size_t i = 0; i < requests.size(); i++)
            if (!pending[i].done) results[i] = -1;
        return results;
    }
    // Replies are told apart by sender and sequence number (a raw socket sees every
    // reply on the host; a datagram socket's id is chosen by the kernel).
    const uint16_t id = uint16_t(getpid());
    const auto start = Clock::now();
    for (size_t i = 0; i < requests.size(); i++) {
        Pending& p = pending[i];
        if (p.done) continue;
        p.sequence = nextSequence.fetch_add(1);
        p.deadline = start + std::chrono::milliseconds(std::max(0, requests[i].timeoutMs));
        uint8_t request[64];
        const size_t length =
            pingdetail::buildEchoRequest(request, sizeof(request), id, p.sequence, 32);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = p.address;
        if (sendto(fd, request, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) < 0) {
            LogDebug(kivlog::General, "ping: send to %s failed: %s\n", requests[i].host.c_str(),
                     strerror(errno));
            p.done = true;
        }
    }
    uint8_t reply[1500];
    for (;;) {
        const auto now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        for (Pending& p : pending) {
            if (p.done) continue;
            if (now >= p.deadline) p.done = true; // no answer in time: result stays 0
            else next = std::min(next, p.deadline);
        }
        if (next == Clock::time_point::max()) break;
        const int waitMs = int(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, waitMs);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t n = recvfrom(fd, reply, sizeof(reply), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) continue;
        for (size_t i = 0; i < pending.size(); i++) {
            Pending& p = pending[i];
            if (p.done || from.sin_addr.s_addr != p.address.s_addr ||
                !pingdetail::isEchoReply(reply, size_t(n), raw, id, p.sequence))
                continue;
            results[i] = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 Clock::now() - start).count()) + 1;
            p.done = true;
            break;
        }
    }
    close(fd);
    return results;
}
