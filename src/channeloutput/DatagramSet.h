#pragma once

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <vector>

// A fixed set of datagrams built once at configuration time, each with its own
// destination. Per frame a sender only copies channel data into a datagram and patches
// its sequence number; nothing is allocated after configure().
//
// Every datagram carries a slice of the sender's channel range: sourceOffset(i) is the
// slice's first byte relative to the range, sourceLength(i) its byte count.
class DatagramSet {
public:
    virtual ~DatagramSet() = default;

    size_t size() const { return m_lengths.size(); }
    const uint8_t* datagram(size_t i) const { return m_storage.data() + i * m_stride; }
    size_t length(size_t i) const { return m_lengths[i]; }
    size_t sourceOffset(size_t i) const { return m_sourceOffsets[i]; }
    size_t sourceLength(size_t i) const { return m_sourceLengths[i]; }
    const sockaddr_in& destination(size_t i) const { return m_destinations[i]; }
    // Total channel bytes the set reads (the sender's channel range).
    size_t channelSpan() const { return m_span; }

    // Copies this datagram's slice from `range` (the first byte of the sender's range) and
    // advances its sequence number.
    virtual void fill(size_t i, const uint8_t* range) = 0;
    // Called after the datagrams of one frame were filled; `last` is the last one filled.
    virtual void finishFrame(size_t last) {}

    // Points `msg` at datagram i and its destination. The pointers stay valid for the life
    // of the set; the datagram's bytes change only with fill().
    void toMessage(size_t i, mmsghdr& msg);

protected:
    // Drops any earlier layout and makes room for `count` datagrams of at most `stride` bytes.
    void reset(size_t count, size_t stride, size_t span);
    uint8_t* mutableDatagram(size_t i) { return m_storage.data() + i * m_stride; }
    void setDatagram(size_t i, size_t length, size_t sourceOffset, size_t sourceLength,
                     uint32_t addressNetOrder, uint16_t port);

private:
    std::vector<uint8_t> m_storage;
    size_t m_stride = 0;
    size_t m_span = 0;
    std::vector<size_t> m_lengths;
    std::vector<size_t> m_sourceOffsets;
    std::vector<size_t> m_sourceLengths;
    std::vector<sockaddr_in> m_destinations;
    std::vector<iovec> m_iov;
};
