#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "channeloutput/UDPProtocols.h"

// Decoding of received Art-Net 4 datagrams, the opcode handler table and ArtPollReply building.
// Pure code over bytes: sockets and channel data live in the bridge.

constexpr int ARTNET_PORT = udpproto::ARTNET_PORT;
constexpr size_t ARTNET_HEADER_SIZE = 12;      // "Art-Net\0", opcode (LE), protocol version
constexpr size_t ARTNET_OPCODE_OFFSET = 8;
constexpr size_t ARTNET_VERSION_OFFSET = 11;   // low byte of the protocol version
constexpr int ARTNET_PROTOCOL_VERSION = 14;

constexpr int ARTNET_OP_POLL = 0x2000;
constexpr int ARTNET_OP_POLL_REPLY = 0x2100;
constexpr int ARTNET_OP_DMX = 0x5000;
constexpr int ARTNET_OP_SYNC = 0x5200;

constexpr size_t ARTDMX_SEQUENCE_OFFSET = 12;
constexpr size_t ARTDMX_SUBUNI_OFFSET = 14;
constexpr size_t ARTDMX_NET_OFFSET = 15;
constexpr size_t ARTDMX_LENGTH_OFFSET = 16;
constexpr size_t ARTDMX_HEADER_SIZE = 18;

constexpr size_t ARTPOLLREPLY_SIZE = 240;

// The opcode of an Art-Net datagram, or -1 when the datagram is too short, lacks the
// "Art-Net" identifier or carries another protocol version.
int ArtNetOpcode(const uint8_t* data, size_t length);

struct ArtDmxPacket {
    bool valid = false;
    const char* error = "";
    int sequence = 0;       // 0: the sender does not use sequence numbers
    int portAddress = 0;    // 15 bits: Net << 8 | SubNet << 4 | Universe
    int claimedLength = 0;  // the header's data length (also counted for unconfigured universes)
    const uint8_t* data = nullptr; // claimedLength bytes, all inside the datagram when valid
};

// Decodes an ArtDmx datagram (the opcode already checked). A datagram whose length field
// claims more bytes than it holds is not valid.
ArtDmxPacket ParseArtDmx(const uint8_t* data, size_t length);

// Fills `out` (ARTPOLLREPLY_SIZE bytes) with the reply of one interface. `ipv4` is the
// interface's address in network byte order; `name` is cut to 17 (short) and 63 (long) bytes.
void BuildArtPollReply(uint8_t* out, uint32_t ipv4, int majorVersion, int minorVersion,
                       const std::string& name);

// Major and minor numbers of a version text such as "1.4" or "2.10-3-gabc": 0 where missing.
void ParseVersionNumbers(const char* version, int& major, int& minor);

// Handlers by opcode. A handler gets the whole datagram (header included) and its length and
// the receive time in milliseconds; it returns true when channel data should be output at once.
class ArtNetOpcodeTable {
public:
    using Handler = std::function<bool(const uint8_t* packet, size_t length, long long timeMs)>;

    void Add(int opcode, Handler handler) { m_handlers[opcode] = std::move(handler); }
    void Remove(int opcode) { m_handlers.erase(opcode); }
    void Clear() { m_handlers.clear(); }
    bool Has(int opcode) const { return m_handlers.count(opcode) != 0; }

    // Runs the handler of a well-formed datagram's opcode. `handled` tells whether the
    // datagram was Art-Net of a known opcode; other datagrams are dropped.
    bool Dispatch(const uint8_t* packet, size_t length, long long timeMs, bool& handled) const;

private:
    std::map<int, Handler> m_handlers;
};
