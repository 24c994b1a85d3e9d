#include "DatagramSet.h"

#include <cstring>

void DatagramSet::reset(size_t count, size_t stride, size_t span) {
    m_stride = stride;
    m_span = span;
    m_storage.assign(count * stride, 0);
    m_lengths.assign(count, 0);
    m_sourceOffsets.assign(count, 0);
    m_sourceLengths.assign(count, 0);
    m_destinations.assign(count, sockaddr_in{});
    m_iov.assign(count, iovec{});
}

void DatagramSet::setDatagram(size_t i, size_t length, size_t sourceOffset, size_t sourceLength,
                              uint32_t addressNetOrder, uint16_t port) {
    m_lengths[i] = length;
    m_sourceOffsets[i] = sourceOffset;
    m_sourceLengths[i] = sourceLength;
    sockaddr_in& a = m_destinations[i];
    std::memset(&a, 0, sizeof(a));
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = addressNetOrder;
    m_iov[i].iov_base = mutableDatagram(i);
    m_iov[i].iov_len = length;
}

void DatagramSet::toMessage(size_t i, mmsghdr& msg) {
    std::memset(&msg, 0, sizeof(msg));
    msg.msg_hdr.msg_name = &m_destinations[i];
    msg.msg_hdr.msg_namelen = sizeof(sockaddr_in);
    msg.msg_hdr.msg_iov = &m_iov[i];
    msg.msg_hdr.msg_iovlen = 1;
}
