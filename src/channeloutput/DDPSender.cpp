#include "DDPSender.h"

#include <algorithm>
#include <cstring>

using namespace udpproto;

namespace {
constexpr size_t DDP_FLAGS = 0;
constexpr size_t DDP_SEQUENCE = 1;
constexpr size_t DDP_DATA_TYPE = 2;
constexpr size_t DDP_DESTINATION = 3;
constexpr size_t DDP_OFFSET = 4;
constexpr size_t DDP_LENGTH = 8;
constexpr uint8_t FLAG_VERSION_1 = 0x40;
constexpr uint8_t FLAG_PUSH = 0x01;
constexpr uint8_t TYPE_RGB8 = 0x0B;
constexpr uint8_t ID_DEFAULT_OUTPUT = 1;
} // namespace

bool DDPSender::configure(const Config& c, std::string& error) {
    if (c.channelCount < 1) {
        error = "DDP channel count " + std::to_string(c.channelCount) + " must be at least 1";
        return false;
    }
    if (uint64_t(c.firstOffset) + uint64_t(c.channelCount) > 0xFFFFFFFFull) {
        error = "DDP data offset " + std::to_string(c.firstOffset) + " is out of range";
        return false;
    }
    if (c.address == 0) {
        error = "DDP needs an address";
        return false;
    }
    const size_t total = size_t(c.channelCount);
    const size_t count = (total + DDP_MAX_DATA - 1) / DDP_MAX_DATA;
    reset(count, DDP_HEADER_LENGTH + DDP_MAX_DATA, total);
    m_sequence = 0;
    for (size_t i = 0; i < count; i++) {
        const size_t offset = i * DDP_MAX_DATA;
        const size_t len = std::min<size_t>(DDP_MAX_DATA, total - offset);
        uint8_t* p = mutableDatagram(i);
        p[DDP_FLAGS] = FLAG_VERSION_1;
        p[DDP_DATA_TYPE] = TYPE_RGB8;
        p[DDP_DESTINATION] = ID_DEFAULT_OUTPUT;
        putU32(p + DDP_OFFSET, uint32_t(c.firstOffset + offset));
        putU16(p + DDP_LENGTH, uint16_t(len));
        setDatagram(i, DDP_HEADER_LENGTH + len, offset, len, c.address, DDP_PORT);
    }
    return true;
}

void DDPSender::fill(size_t i, const uint8_t* range) {
    uint8_t* p = mutableDatagram(i);
    std::memcpy(p + DDP_HEADER_LENGTH, range + sourceOffset(i), sourceLength(i));
    // The 4-bit sequence runs 1-15 per datagram; 0 would tell the receiver "unused".
    m_sequence = m_sequence >= 15 ? 1 : uint8_t(m_sequence + 1);
    p[DDP_SEQUENCE] = m_sequence;
    p[DDP_FLAGS] = FLAG_VERSION_1; // a push of an earlier frame must not linger
}

void DDPSender::finishFrame(size_t last) {
    mutableDatagram(last)[DDP_FLAGS] |= FLAG_PUSH;
}
