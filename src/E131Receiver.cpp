#include "E131Receiver.h"

#include <cstring>

#include "WireBytes.h"

namespace {
// Preamble size, post-amble size and the ACN packet identifier.
constexpr uint8_t ACN_PREAMBLE[16] = {0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-',
                                      'E',  '1',  '.',  '1',  '7', 0,   0,   0};
constexpr size_t ROOT_LENGTH_OFFSET = 16;

// The 12-bit length of a PDU's flags-and-length field, counted from the field itself.
int PDULength(const uint8_t* p) { return ((p[0] & 0x0F) << 8) | p[1]; }

bool ClaimsMoreThanHeld(const uint8_t* data, size_t length, size_t offset) {
    return offset + (size_t)PDULength(data + offset) > length;
}

E131Packet Malformed(E131Packet p, const char* why) {
    p.kind = E131PacketKind::Malformed;
    p.error = why;
    return p;
}
} // namespace

E131Packet ParseE131Packet(const uint8_t* data, size_t length) {
    E131Packet p;
    if (data == nullptr || length < E131_ROOT_VECTOR_OFFSET + 4) {
        return Malformed(p, "shorter than the root layer");
    }
    if (memcmp(data, ACN_PREAMBLE, sizeof(ACN_PREAMBLE)) != 0) {
        return Malformed(p, "no ACN packet identifier");
    }
    p.rootLength = PDULength(data + ROOT_LENGTH_OFFSET);
    if (ClaimsMoreThanHeld(data, length, ROOT_LENGTH_OFFSET)) {
        return Malformed(p, "root layer claims more bytes than the datagram holds");
    }
    p.rootVector = data[E131_ROOT_VECTOR_OFFSET + 3];

    if (p.rootVector == 8) {
        if (length < E131_EXTENDED_HEADER_SIZE) {
            return Malformed(p, "extended packet shorter than its framing vector");
        }
        p.extendedVector = data[E131_FRAMING_VECTOR_OFFSET + 3];
        p.kind = p.extendedVector == 1 ? E131PacketKind::Sync : E131PacketKind::UnknownExtended;
        return p;
    }
    if (p.rootVector != 4) {
        p.kind = E131PacketKind::Unknown;
        return p;
    }

    if (length < E131_DATA_HEADER_SIZE) {
        return Malformed(p, "data packet shorter than its header");
    }
    if (ClaimsMoreThanHeld(data, length, E131_FRAMING_LENGTH_OFFSET) ||
        ClaimsMoreThanHeld(data, length, E131_DMP_LENGTH_OFFSET)) {
        return Malformed(p, "framing or DMP layer claims more bytes than the datagram holds");
    }
    p.priority = data[E131_PRIORITY_OFFSET];
    p.sequence = data[E131_SEQUENCE_OFFSET];
    p.preview = (data[E131_OPTIONS_OFFSET] & E131_OPTION_PREVIEW) != 0;
    p.terminated = (data[E131_OPTIONS_OFFSET] & E131_OPTION_TERMINATED) != 0;
    p.universe = ReadBE16(data + E131_UNIVERSE_OFFSET);
    p.startCode = data[E131_START_CODE_OFFSET];

    // The property value count includes the START code.
    int count = ReadBE16(data + E131_PROPERTY_COUNT_OFFSET);
    if (count < 1) {
        return Malformed(p, "property value count is 0");
    }
    if (E131_DATA_HEADER_SIZE + (size_t)(count - 1) > length) {
        return Malformed(p, "property value count claims more slots than the datagram holds");
    }
    if (p.startCode != 0) {
        p.kind = E131PacketKind::Unknown;
        return p;
    }
    p.kind = E131PacketKind::Data;
    p.slots = data + E131_DATA_HEADER_SIZE;
    p.slotCount = count - 1;
    return p;
}
