#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sends one ICMP echo request to `host` (dotted IPv4 or a host name) and waits up to
// `timeoutMs` for the answer. Returns the round trip in milliseconds plus 1 (so always
// above 0) when the host answered, 0 when it did not, -1 when the host cannot be resolved
// or no ICMP socket can be opened. Blocks the caller: use it from a worker thread.
//
// As root a raw ICMP socket is used; otherwise an unprivileged ICMP datagram socket
// (allowed by net.ipv4.ping_group_range).
int ping(const std::string& host, int timeoutMs);

struct PingRequest {
    std::string host;
    int timeoutMs;
};
// Pings every host at once from one socket and returns ping()'s answer per request, so a
// round over many dead controllers takes the longest time-out, not their sum.
std::vector<int> pingMany(const std::vector<PingRequest>& requests);

namespace pingdetail {
// True when `packet` (`length` bytes as received) is the echo reply to our request with
// `id` and `sequence`. Raw sockets deliver the IPv4 header first; datagram sockets do not,
// and the kernel rewrites the id, so it is not compared there.
bool isEchoReply(const uint8_t* packet, size_t length, bool hasIPHeader, uint16_t id,
                 uint16_t sequence);
// The echo request as it goes on the wire (8-byte header and `payloadLength` bytes).
size_t buildEchoRequest(uint8_t* out, size_t size, uint16_t id, uint16_t sequence,
                        size_t payloadLength);
uint16_t checksum(const uint8_t* data, size_t length);
} // namespace pingdetail
