#include "E131Sender.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cstring>

using namespace udpproto;

namespace {
// Field offsets of an E1.31 data packet.
constexpr size_t ROOT_FLAGS_LENGTH = 16;
constexpr size_t ROOT_VECTOR = 18;
constexpr size_t ROOT_CID = 22;
constexpr size_t FRAMING_FLAGS_LENGTH = 38;
constexpr size_t FRAMING_VECTOR = 40;
constexpr size_t FRAMING_SOURCE_NAME = 44;
constexpr size_t FRAMING_PRIORITY = 108;
constexpr size_t FRAMING_SEQUENCE = 111;
constexpr size_t FRAMING_UNIVERSE = 113;
constexpr size_t DMP_FLAGS_LENGTH = 115;
constexpr size_t DMP_VECTOR = 117;
constexpr size_t DMP_ADDRESS_TYPE = 118;
constexpr size_t DMP_ADDRESS_INCREMENT = 121;
constexpr size_t DMP_PROPERTY_COUNT = 123;

constexpr uint8_t ACN_IDENTIFIER[12] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
} // namespace

uint32_t E131Sender::multicastAddress(int universe) {
    return htonl((239u << 24) | (255u << 16) | (uint32_t(universe >> 8) & 0xFF) << 8 |
                 (uint32_t(universe) & 0xFF));
}

bool E131Sender::configure(const Config& c, std::string& error) {
    if (c.channelsPerUniverse < 1 || c.channelsPerUniverse > E131_MAX_SLOTS) {
        error = "E1.31 channel count " + std::to_string(c.channelsPerUniverse) +
                " is outside 1-512";
        return false;
    }
    if (c.universeCount < 1 || c.firstUniverse < E131_MIN_UNIVERSE ||
        c.firstUniverse + c.universeCount - 1 > E131_MAX_UNIVERSE) {
        error = "E1.31 universes " + std::to_string(c.firstUniverse) + " (count " +
                std::to_string(c.universeCount) + ") are outside 1-63999";
        return false;
    }
    if (c.priority < 0 || c.priority > E131_MAX_PRIORITY) {
        error = "E1.31 priority " + std::to_string(c.priority) + " is outside 0-200";
        return false;
    }
    if (!c.multicast && c.unicastAddress == 0) {
        error = "E1.31 unicast needs an address";
        return false;
    }

    const size_t slots = size_t(c.channelsPerUniverse);
    const size_t length = E131_HEADER_LENGTH + slots;
    reset(size_t(c.universeCount), length, slots * size_t(c.universeCount));
    m_sequence.assign(size_t(c.universeCount), 0);

    for (int u = 0; u < c.universeCount; u++) {
        const int universe = c.firstUniverse + u;
        uint8_t* p = mutableDatagram(size_t(u));
        putU16(p + 0, 0x0010);                      // preamble size
        putU16(p + 2, 0x0000);                      // post-amble size
        std::memcpy(p + 4, ACN_IDENTIFIER, sizeof(ACN_IDENTIFIER));
        putU16(p + ROOT_FLAGS_LENGTH, uint16_t(0x7000 | (length - ROOT_FLAGS_LENGTH)));
        putU32(p + ROOT_VECTOR, 0x00000004);
        std::memcpy(p + ROOT_CID, c.cid.data(), E131_CID_LENGTH);
        putU16(p + FRAMING_FLAGS_LENGTH, uint16_t(0x7000 | (length - FRAMING_FLAGS_LENGTH)));
        putU32(p + FRAMING_VECTOR, 0x00000002);
        std::memcpy(p + FRAMING_SOURCE_NAME, c.sourceName.data(),
                    std::min(c.sourceName.size(), E131_SOURCE_NAME_LENGTH - 1));
        p[FRAMING_PRIORITY] = uint8_t(c.priority);
        // synchronization address, sequence and options stay 0
        putU16(p + FRAMING_UNIVERSE, uint16_t(universe));
        putU16(p + DMP_FLAGS_LENGTH, uint16_t(0x7000 | (length - DMP_FLAGS_LENGTH)));
        p[DMP_VECTOR] = 0x02;
        p[DMP_ADDRESS_TYPE] = 0xA1;
        // first property address 0
        putU16(p + DMP_ADDRESS_INCREMENT, 1);
        putU16(p + DMP_PROPERTY_COUNT, uint16_t(slots + 1));
        // START code 0
        const uint32_t address = c.multicast ? multicastAddress(universe) : c.unicastAddress;
        setDatagram(size_t(u), length, size_t(u) * slots, slots, address, E131_PORT);
    }
    return true;
}

void E131Sender::fill(size_t i, const uint8_t* range) {
    uint8_t* p = mutableDatagram(i);
    std::memcpy(p + E131_HEADER_LENGTH, range + sourceOffset(i), sourceLength(i));
    p[FRAMING_SEQUENCE] = m_sequence[i]++;
}
