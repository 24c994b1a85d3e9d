#pragma once

#include <cstddef>
#include <cstdint>

#include "channeloutput/UDPProtocols.h"

// Decoding of received E1.31 (sACN) datagrams, ANSI E1.31-2018 layout.
// Pure code over the datagram's bytes: nothing here touches sockets or channel data.

constexpr int E131_PORT = udpproto::E131_PORT;
constexpr size_t E131_ROOT_VECTOR_OFFSET = 18;    // 4 bytes, 4 data / 8 extended
constexpr size_t E131_FRAMING_LENGTH_OFFSET = 38; // flags and length of the framing layer
constexpr size_t E131_FRAMING_VECTOR_OFFSET = 40;
constexpr size_t E131_PRIORITY_OFFSET = 108;
constexpr size_t E131_SEQUENCE_OFFSET = 111;
constexpr size_t E131_OPTIONS_OFFSET = 112;
constexpr size_t E131_UNIVERSE_OFFSET = 113;
constexpr size_t E131_DMP_LENGTH_OFFSET = 115;
constexpr size_t E131_PROPERTY_COUNT_OFFSET = 123;
constexpr size_t E131_START_CODE_OFFSET = 125;
constexpr size_t E131_DATA_HEADER_SIZE = 126; // slots follow the START code
constexpr size_t E131_EXTENDED_HEADER_SIZE = 44; // up to the framing vector's low byte

constexpr uint8_t E131_OPTION_PREVIEW = 0x80;
constexpr uint8_t E131_OPTION_TERMINATED = 0x40;

enum class E131PacketKind {
    Data,             // DMX data (START code 0)
    Sync,             // extended packet, synchronisation
    UnknownExtended,  // extended packet of another framing vector (discovery, ...)
    Unknown,          // another root vector, or data with a non-zero START code
    Malformed,        // not E1.31, truncated, or a length field claims more than the datagram holds
};

struct E131Packet {
    E131PacketKind kind = E131PacketKind::Malformed;
    const char* error = "";     // why a packet is Malformed, for the log
    int rootVector = -1;        // low byte of the root vector, -1 when not readable
    int startCode = -1;         // data packets only
    int extendedVector = -1;    // low byte of the framing vector of extended packets
    int universe = 0;
    int sequence = 0;
    int priority = 0;
    bool preview = false;
    bool terminated = false;
    // The byte count the root layer claims ((flags & 0x0F) * 256 + low byte); for statistics.
    int rootLength = 0;
    // Data packets: the slots after the START code, all inside the datagram.
    const uint8_t* slots = nullptr;
    int slotCount = 0;
};

// Decodes one datagram. Every field is read only after the length was checked to hold it;
// the returned slot pointer points into `data`.
E131Packet ParseE131Packet(const uint8_t* data, size_t length);
