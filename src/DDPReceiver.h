#pragma once

#include <cstddef>
#include <cstdint>

#include "channeloutput/UDPProtocols.h"

// Decoding of received DDP datagrams. Pure code over bytes.

constexpr int DDP_PORT = udpproto::DDP_PORT;
constexpr size_t DDP_FLAGS_OFFSET = 0;
constexpr size_t DDP_SEQUENCE_OFFSET = 1;
constexpr size_t DDP_ID_OFFSET = 3;
constexpr size_t DDP_OFFSET_OFFSET = 4;
constexpr size_t DDP_LENGTH_OFFSET = 8;
constexpr size_t DDP_HEADER_SIZE = 10;
constexpr size_t DDP_TIMECODE_HEADER_SIZE = 14;

constexpr uint8_t DDP_FLAG_TIMECODE = 0x10;
constexpr uint8_t DDP_FLAG_QUERY = 0x02;
constexpr uint8_t DDP_FLAG_PUSH = 0x01;

constexpr int DDP_ID_DISPLAY = 1;
constexpr int DDP_ID_CONFIG = 250;
constexpr int DDP_ID_STATUS = 251;

enum class DDPPacketKind {
    Data,         // destination id 1 with its data inside the datagram
    Query,        // the query flag set (id 1 queries carry no data)
    OtherId,      // another destination id: not channel data
    Malformed,    // truncated, or the length claims more than the datagram holds
};

struct DDPPacket {
    DDPPacketKind kind = DDPPacketKind::Malformed;
    const char* error = "";
    uint8_t flags = 0;
    int id = -1;
    int sequence = 0;          // low 4 bits; 0 when the sender does not count
    uint32_t offset = 0;       // 0-based channel of the first data byte
    uint32_t length = 0;       // data bytes, all inside the datagram for Data packets
    const uint8_t* data = nullptr;
    bool push = false;
};

// Decodes one datagram; fields are read only after the length was checked to hold them.
DDPPacket ParseDDPPacket(const uint8_t* data, size_t length);
