#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

// A batch of receive slots for recvmmsg: one 1500-byte buffer, source address and mmsghdr
// per slot. Owned by one thread (the main loop); the data of a slot is valid until the next
// Receive().
class UDPReceiveBatch {
public:
    static constexpr int SLOTS = 48;
    static constexpr size_t BUFFER_SIZE = 1500;

    UDPReceiveBatch();
    UDPReceiveBatch(const UDPReceiveBatch&) = delete;
    UDPReceiveBatch& operator=(const UDPReceiveBatch&) = delete;

    // Takes up to SLOTS waiting datagrams without blocking; returns how many (0 when none
    // or on error). A datagram longer than BUFFER_SIZE arrives cut to BUFFER_SIZE.
    int Receive(int fd);

    const uint8_t* Data(int i) const { return m_buffers[i]; }
    size_t Length(int i) const { return m_msgs[i].msg_len; }
    const sockaddr_in& Source(int i) const { return m_addresses[i]; }

private:
    uint8_t m_buffers[SLOTS][BUFFER_SIZE];
    sockaddr_in m_addresses[SLOTS];
    iovec m_iovecs[SLOTS];
    mmsghdr m_msgs[SLOTS];
};
