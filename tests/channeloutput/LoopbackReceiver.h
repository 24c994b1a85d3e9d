#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

// A UDP socket on a loopback address and port that collects datagrams with a deadline.
class LoopbackReceiver {
public:
    LoopbackReceiver(const char* address, uint16_t port) {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        int big = 4 << 20;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof(big));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = inet_addr(address);
        m_ok = bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    ~LoopbackReceiver() { close(m_fd); }
    bool ok() const { return m_ok; }

    // Up to `count` datagrams, waiting at most `timeoutMs` in all.
    std::vector<std::vector<uint8_t>> receive(size_t count, int timeoutMs) {
        std::vector<std::vector<uint8_t>> out;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(left)) <= 0) break;
            uint8_t buf[2048];
            const ssize_t n = recv(m_fd, buf, sizeof(buf), MSG_DONTWAIT);
            if (n >= 0) out.emplace_back(buf, buf + n);
        }
        return out;
    }
    // Drops whatever is queued.
    void drain() {
        uint8_t buf[2048];
        while (recv(m_fd, buf, sizeof(buf), MSG_DONTWAIT) >= 0) {
        }
    }

private:
    int m_fd = -1;
    bool m_ok = false;
};
