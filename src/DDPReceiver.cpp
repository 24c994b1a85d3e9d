#include "DDPReceiver.h"

#include "WireBytes.h"

DDPPacket ParseDDPPacket(const uint8_t* data, size_t length) {
    DDPPacket p;
    if (data == nullptr || length < DDP_ID_OFFSET + 1) {
        p.error = "shorter than the destination id";
        return p;
    }
    p.flags = data[DDP_FLAGS_OFFSET];
    p.sequence = data[DDP_SEQUENCE_OFFSET] & 0x0F;
    p.id = data[DDP_ID_OFFSET];
    p.push = (p.flags & DDP_FLAG_PUSH) != 0;
    if (p.flags & DDP_FLAG_QUERY) {
        p.kind = DDPPacketKind::Query;
        return p;
    }
    if (p.id != DDP_ID_DISPLAY) {
        p.kind = DDPPacketKind::OtherId;
        return p;
    }
    size_t header = (p.flags & DDP_FLAG_TIMECODE) ? DDP_TIMECODE_HEADER_SIZE : DDP_HEADER_SIZE;
    if (length < header) {
        p.error = "shorter than its header";
        return p;
    }
    p.offset = ReadBE32(data + DDP_OFFSET_OFFSET);
    p.length = ReadBE16(data + DDP_LENGTH_OFFSET);
    if (header + p.length > length) {
        p.error = "length claims more bytes than the datagram holds";
        return p;
    }
    p.kind = DDPPacketKind::Data;
    p.data = data + header;
    return p;
}
