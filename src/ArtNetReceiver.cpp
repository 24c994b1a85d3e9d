#include "ArtNetReceiver.h"

#include <cstdlib>
#include <cstring>

#include "WireBytes.h"

namespace {
constexpr char ARTNET_ID[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};

constexpr size_t REPLY_IP_OFFSET = 10;
constexpr size_t REPLY_PORT_OFFSET = 14;
constexpr size_t REPLY_VERSION_HI_OFFSET = 16;
constexpr size_t REPLY_VERSION_LO_OFFSET = 17;
constexpr size_t REPLY_SHORT_NAME_OFFSET = 26;
constexpr size_t REPLY_SHORT_NAME_SIZE = 18;
constexpr size_t REPLY_LONG_NAME_OFFSET = 44;
constexpr size_t REPLY_LONG_NAME_SIZE = 64;
constexpr size_t REPLY_NUM_PORTS_OFFSET = 172;
constexpr size_t REPLY_PORT_TYPES_OFFSET = 174;
constexpr int REPLY_PORT_COUNT = 4;
constexpr uint8_t PORT_TYPE_INPUT_OUTPUT_DMX = 0xC0;

void CopyName(uint8_t* field, size_t fieldSize, const std::string& name) {
    // The field stays NUL-terminated: at most fieldSize - 1 characters.
    size_t n = name.size() < fieldSize - 1 ? name.size() : fieldSize - 1;
    memcpy(field, name.data(), n);
}
} // namespace

int ArtNetOpcode(const uint8_t* data, size_t length) {
    if (data == nullptr || length < ARTNET_HEADER_SIZE || memcmp(data, ARTNET_ID, sizeof(ARTNET_ID)) != 0 ||
        data[ARTNET_VERSION_OFFSET] != ARTNET_PROTOCOL_VERSION) {
        return -1;
    }
    return ReadLE16(data + ARTNET_OPCODE_OFFSET);
}

ArtDmxPacket ParseArtDmx(const uint8_t* data, size_t length) {
    ArtDmxPacket p;
    if (data == nullptr || length < ARTDMX_HEADER_SIZE) {
        p.error = "ArtDmx shorter than its header";
        return p;
    }
    p.sequence = data[ARTDMX_SEQUENCE_OFFSET];
    p.portAddress = data[ARTDMX_SUBUNI_OFFSET] + ((data[ARTDMX_NET_OFFSET] << 8) & 0x7F00);
    p.claimedLength = ((data[ARTDMX_LENGTH_OFFSET] << 8) & 0x7FFF) + data[ARTDMX_LENGTH_OFFSET + 1];
    if (ARTDMX_HEADER_SIZE + (size_t)p.claimedLength > length) {
        p.error = "ArtDmx length claims more bytes than the datagram holds";
        return p;
    }
    p.data = data + ARTDMX_HEADER_SIZE;
    p.valid = true;
    return p;
}

void BuildArtPollReply(uint8_t* out, uint32_t ipv4, int majorVersion, int minorVersion, const std::string& name) {
    memset(out, 0, ARTPOLLREPLY_SIZE);
    memcpy(out, ARTNET_ID, sizeof(ARTNET_ID));
    out[ARTNET_OPCODE_OFFSET] = ARTNET_OP_POLL_REPLY & 0xFF;
    out[ARTNET_OPCODE_OFFSET + 1] = ARTNET_OP_POLL_REPLY >> 8;
    memcpy(out + REPLY_IP_OFFSET, &ipv4, 4); // already in network order
    out[REPLY_PORT_OFFSET] = ARTNET_PORT & 0xFF;
    out[REPLY_PORT_OFFSET + 1] = ARTNET_PORT >> 8;
    out[REPLY_VERSION_HI_OFFSET] = (uint8_t)majorVersion;
    out[REPLY_VERSION_LO_OFFSET] = (uint8_t)minorVersion;
    CopyName(out + REPLY_SHORT_NAME_OFFSET, REPLY_SHORT_NAME_SIZE, name);
    CopyName(out + REPLY_LONG_NAME_OFFSET, REPLY_LONG_NAME_SIZE, name);
    out[REPLY_NUM_PORTS_OFFSET] = 0;
    out[REPLY_NUM_PORTS_OFFSET + 1] = REPLY_PORT_COUNT;
    memset(out + REPLY_PORT_TYPES_OFFSET, PORT_TYPE_INPUT_OUTPUT_DMX, REPLY_PORT_COUNT);
}

void ParseVersionNumbers(const char* version, int& major, int& minor) {
    major = 0;
    minor = 0;
    if (version == nullptr) {
        return;
    }
    char* end = nullptr;
    major = (int)strtol(version, &end, 10);
    if (end != version && *end == '.') {
        minor = (int)strtol(end + 1, nullptr, 10);
    }
}

bool ArtNetOpcodeTable::Dispatch(const uint8_t* packet, size_t length, long long timeMs, bool& handled) const {
    handled = false;
    int opcode = ArtNetOpcode(packet, length);
    if (opcode < 0) {
        return false;
    }
    auto it = m_handlers.find(opcode);
    if (it == m_handlers.end()) {
        return false;
    }
    handled = true;
    return it->second(packet, length, timeMs);
}
