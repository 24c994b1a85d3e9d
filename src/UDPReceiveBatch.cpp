#include "UDPReceiveBatch.h"

#include <cstring>

UDPReceiveBatch::UDPReceiveBatch() {
    memset(m_msgs, 0, sizeof(m_msgs));
    memset(m_addresses, 0, sizeof(m_addresses));
    for (int i = 0; i < SLOTS; i++) {
        m_iovecs[i].iov_base = m_buffers[i];
        m_iovecs[i].iov_len = BUFFER_SIZE;
        m_msgs[i].msg_hdr.msg_iov = &m_iovecs[i];
        m_msgs[i].msg_hdr.msg_iovlen = 1;
        m_msgs[i].msg_hdr.msg_name = &m_addresses[i];
    }
}

int UDPReceiveBatch::Receive(int fd) {
    for (int i = 0; i < SLOTS; i++) {
        // recvmmsg writes back the address length it used.
        m_msgs[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    }
    int n = recvmmsg(fd, m_msgs, SLOTS, MSG_DONTWAIT, nullptr);
    return n > 0 ? n : 0;
}
