#include "KiNetSender.h"

#include <algorithm>
#include <cstring>

using namespace udpproto;

namespace {
constexpr uint8_t KINET_MAGIC[4] = {0x04, 0x01, 0xDC, 0x4A};
constexpr size_t KINET_VERSION = 4;
constexpr size_t KINET_TYPE = 6;
// v1 DMXOUT: sequence(4) port(1) flags(1) timer(2) universe(4) START code(1)
constexpr size_t V1_UNIVERSE = 16;
// v2 PORTOUT: sequence(4) universe(4) port(1) pad(1) flags(2) count(2) START code(2)
constexpr size_t V2_UNIVERSE = 12;
constexpr size_t V2_PORT = 16;
constexpr size_t V2_SLOT_COUNT = 20;
} // namespace

bool KiNetSender::configure(const Config& c, std::string& error) {
    if (c.version != 1 && c.version != 2) {
        error = "KiNet version " + std::to_string(c.version) + " is not 1 or 2";
        return false;
    }
    if (c.channelsPerPort < 1 || c.channelsPerPort > KINET_MAX_SLOTS) {
        error = "KiNet channel count " + std::to_string(c.channelsPerPort) + " is outside 1-512";
        return false;
    }
    if (c.version == 1 && c.portCount != 1) {
        error = "KiNet v1 drives one universe per supply, not " + std::to_string(c.portCount);
        return false;
    }
    if (c.version == 2 && (c.portCount < 1 || c.firstPort < 1 ||
                           c.firstPort + c.portCount - 1 > KINET_V2_MAX_PORT)) {
        error = "KiNet ports " + std::to_string(c.firstPort) + " (count " +
                std::to_string(c.portCount) + ") are outside 1-16";
        return false;
    }
    if (c.address == 0) {
        error = "KiNet needs an address";
        return false;
    }
    const size_t slots = size_t(c.channelsPerPort);
    // PORTOUT frames carry at least 24 slots; short ports are padded with zeros.
    const size_t wireSlots = c.version == 2 ? std::max<size_t>(slots, KINET_V2_MIN_SLOTS) : slots;
    m_headerLength = c.version == 1 ? KINET_V1_HEADER_LENGTH : KINET_V2_HEADER_LENGTH;
    const size_t length = m_headerLength + wireSlots;
    reset(size_t(c.portCount), length, slots * size_t(c.portCount));
    for (int n = 0; n < c.portCount; n++) {
        uint8_t* p = mutableDatagram(size_t(n));
        std::memcpy(p, KINET_MAGIC, sizeof(KINET_MAGIC));
        p[KINET_VERSION] = 0x01;
        p[KINET_VERSION + 1] = 0x00;
        // sequence number stays 0
        if (c.version == 1) {
            p[KINET_TYPE] = 0x01; // DMXOUT 0x0101
            p[KINET_TYPE + 1] = 0x01;
            putU32(p + V1_UNIVERSE, 0xFFFFFFFF);
        } else {
            p[KINET_TYPE] = 0x08; // PORTOUT 0x0108, little-endian
            p[KINET_TYPE + 1] = 0x01;
            putU32(p + V2_UNIVERSE, 0xFFFFFFFF);
            p[V2_PORT] = uint8_t(c.firstPort + n);
            putU16(p + V2_SLOT_COUNT, uint16_t(wireSlots));
        }
        setDatagram(size_t(n), length, size_t(n) * slots, slots, c.address, KINET_PORT);
    }
    return true;
}

void KiNetSender::fill(size_t i, const uint8_t* range) {
    std::memcpy(mutableDatagram(i) + m_headerLength, range + sourceOffset(i), sourceLength(i));
}
