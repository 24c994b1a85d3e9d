#pragma once

#include <cstddef>
#include <cstdint>

// Ports and size limits of the lighting protocols the UDP output sends; the senders and
// the output module check configurations against these.
namespace udpproto {

inline constexpr uint16_t E131_PORT = 5568;
inline constexpr size_t E131_HEADER_LENGTH = 126;
inline constexpr int E131_MAX_SLOTS = 512;
inline constexpr int E131_MIN_UNIVERSE = 1;
inline constexpr int E131_MAX_UNIVERSE = 63999;
inline constexpr int E131_MAX_PRIORITY = 200;
inline constexpr int E131_DEFAULT_PRIORITY = 100;
inline constexpr size_t E131_CID_LENGTH = 16;
inline constexpr size_t E131_SOURCE_NAME_LENGTH = 64;

inline constexpr uint16_t ARTNET_PORT = 6454;
inline constexpr size_t ARTNET_HEADER_LENGTH = 18;
inline constexpr int ARTNET_MAX_SLOTS = 512;
inline constexpr int ARTNET_MAX_PORT_ADDRESS = 0x7FFF;

inline constexpr uint16_t DDP_PORT = 4048;
inline constexpr size_t DDP_HEADER_LENGTH = 10;
inline constexpr int DDP_MAX_DATA = 1440;

inline constexpr uint16_t KINET_PORT = 6038;
inline constexpr size_t KINET_V1_HEADER_LENGTH = 21;
inline constexpr size_t KINET_V2_HEADER_LENGTH = 24;
inline constexpr int KINET_MAX_SLOTS = 512;
inline constexpr int KINET_V2_MIN_SLOTS = 24;
inline constexpr int KINET_V2_MAX_PORT = 16;

// Destination keys that do not name one host (see UDPOutputMessages).
inline constexpr uint32_t BROADCAST_KEY = 0xFFFFFFFF;
inline constexpr uint32_t MULTICAST_KEY = 0xFFFFFFFE;

inline void putU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void putU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace udpproto
