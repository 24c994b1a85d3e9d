#pragma once

// A channel buffer standing in for the sequence engine, and loopback socket helpers.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "BridgeDataSink.h"
#include "InputUniverses.h"

struct BridgeCall {
    int start;
    int length;
    uint64_t expires;
    std::vector<uint8_t> data;
};

// Writes like the engine does and fails the test on any write outside the channel space.
class ChannelBufferSink : public BridgeDataSink {
public:
    ChannelBufferSink() : channels(BRIDGE_CHANNEL_SPACE, 0) {}
    void SetBridgeData(const uint8_t* data, int start, int length, uint64_t expires) override {
        EXPECT_GE(start, 0);
        EXPECT_GT(length, 0);
        EXPECT_LE((int64_t)start + length, BRIDGE_CHANNEL_SPACE);
        if (start < 0 || length <= 0 || (int64_t)start + length > BRIDGE_CHANNEL_SPACE) {
            return;
        }
        memcpy(&channels[start], data, length);
        calls.push_back({start, length, expires, std::vector<uint8_t>(data, data + length)});
    }
    std::vector<uint8_t> channels;
    std::vector<BridgeCall> calls;
};

inline UniverseEntry Universe(int id, int start, int size, int type = UNIVERSE_TYPE_E131_MULTICAST) {
    UniverseEntry e;
    e.active = 1;
    e.universe = id;
    e.startAddress = start;
    e.size = size;
    e.type = type;
    return e;
}

inline sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a;
    memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A datagram socket bound to an ephemeral loopback port, closed with the object.
class LoopbackSocket {
public:
    LoopbackSocket() {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Loopback(0);
        bind(fd, (sockaddr*)&a, sizeof(a));
        socklen_t len = sizeof(a);
        getsockname(fd, (sockaddr*)&a, &len);
        port = ntohs(a.sin_port);
    }
    ~LoopbackSocket() { close(fd); }
    bool SendTo(uint16_t to, const std::vector<uint8_t>& p) const {
        sockaddr_in a = Loopback(to);
        return sendto(fd, p.data(), p.size(), 0, (sockaddr*)&a, sizeof(a)) == (ssize_t)p.size();
    }
    // Waits at most `ms` for a datagram.
    std::vector<uint8_t> Receive(int ms = 1000) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return {};
        std::vector<uint8_t> buf(2000);
        ssize_t n = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
        buf.resize(n > 0 ? n : 0);
        return buf;
    }
    int fd;
    uint16_t port;
};

inline bool WaitReadable(int fd, int ms = 1000) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}
