#include "ArtNetSender.h"

#include <cstring>

using namespace udpproto;

namespace {
constexpr size_t ARTNET_OPCODE = 8;
constexpr size_t ARTNET_VERSION = 10;
constexpr size_t ARTNET_SEQUENCE = 12;
constexpr size_t ARTNET_SUBUNI = 14;
constexpr size_t ARTNET_NET = 15;
constexpr size_t ARTNET_LENGTH = 16;
constexpr uint8_t ARTNET_ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr uint16_t OPCODE_DMX = 0x5000;
constexpr uint16_t PROTOCOL_VERSION = 14;
} // namespace

bool ArtNetSender::configure(const Config& c, std::string& error) {
    if (c.channelsPerUniverse < 1 || c.channelsPerUniverse > ARTNET_MAX_SLOTS) {
        error = "Art-Net channel count " + std::to_string(c.channelsPerUniverse) +
                " is outside 1-512";
        return false;
    }
    if (c.universeCount < 1 || c.firstUniverse < 0 ||
        c.firstUniverse + c.universeCount - 1 > ARTNET_MAX_PORT_ADDRESS) {
        error = "Art-Net universes " + std::to_string(c.firstUniverse) + " (count " +
                std::to_string(c.universeCount) + ") are outside 0-32767";
        return false;
    }
    if (c.address == 0) {
        error = "Art-Net needs an address";
        return false;
    }
    const size_t slots = size_t(c.channelsPerUniverse);
    // The data length must be even; an odd universe is padded with one 0 slot.
    const size_t wireSlots = (slots + 1) & ~size_t(1);
    const size_t length = ARTNET_HEADER_LENGTH + wireSlots;
    reset(size_t(c.universeCount), length, slots * size_t(c.universeCount));
    m_sequence.assign(size_t(c.universeCount), 0);
    for (int u = 0; u < c.universeCount; u++) {
        const int portAddress = c.firstUniverse + u;
        uint8_t* p = mutableDatagram(size_t(u));
        std::memcpy(p, ARTNET_ID, sizeof(ARTNET_ID));
        p[ARTNET_OPCODE] = uint8_t(OPCODE_DMX & 0xFF); // little-endian
        p[ARTNET_OPCODE + 1] = uint8_t(OPCODE_DMX >> 8);
        putU16(p + ARTNET_VERSION, PROTOCOL_VERSION);
        // sequence patched per frame; physical port stays 0
        p[ARTNET_SUBUNI] = uint8_t(portAddress & 0xFF);
        p[ARTNET_NET] = uint8_t((portAddress >> 8) & 0x7F);
        putU16(p + ARTNET_LENGTH, uint16_t(wireSlots));
        setDatagram(size_t(u), length, size_t(u) * slots, slots, c.address, ARTNET_PORT);
    }
    return true;
}

void ArtNetSender::fill(size_t i, const uint8_t* range) {
    uint8_t* p = mutableDatagram(i);
    std::memcpy(p + ARTNET_HEADER_LENGTH, range + sourceOffset(i), sourceLength(i));
    // 0 means "no sequence" to a node, so the counter runs 1-255.
    uint8_t& s = m_sequence[i];
    s = s == 255 ? 1 : uint8_t(s + 1);
    p[ARTNET_SEQUENCE] = s;
}
