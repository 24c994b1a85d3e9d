// libFuzzer target over the bridge's packet parsers: every datagram decodes without reading
// outside it, and what a parser hands on lies inside the datagram.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ArtNetReceiver.h"
#include "DDPReceiver.h"
#include "E131Receiver.h"

namespace {
void Require(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

bool Inside(const uint8_t* begin, size_t length, const uint8_t* p, size_t n) {
    return p >= begin && p <= begin + length && n <= (size_t)(begin + length - p);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    // A heap copy of exactly `size` bytes, so the address sanitizer sees any read past the end.
    std::vector<uint8_t> datagram(input, input + size);
    const uint8_t* data = datagram.data();

    E131Packet e = ParseE131Packet(data, size);
    if (e.kind == E131PacketKind::Data) {
        Require(e.slotCount >= 0 && e.slotCount <= 65534);
        Require(Inside(data, size, e.slots, (size_t)e.slotCount));
        Require(e.universe >= 0 && e.universe <= 65535);
    }

    int opcode = ArtNetOpcode(data, size);
    Require(opcode >= -1 && opcode <= 0xFFFF);
    if (opcode == ARTNET_OP_DMX) {
        ArtDmxPacket a = ParseArtDmx(data, size);
        if (a.valid) {
            Require(a.claimedLength >= 0 && a.claimedLength <= 0x7FFF);
            Require(a.portAddress >= 0 && a.portAddress <= 0x7FFF);
            Require(Inside(data, size, a.data, (size_t)a.claimedLength));
        }
    }
    // ParseArtDmx is also called by handlers that trust the dispatcher; any bytes must be safe.
    ArtDmxPacket any = ParseArtDmx(data, size);
    if (any.valid) {
        Require(Inside(data, size, any.data, (size_t)any.claimedLength));
    }

    DDPPacket d = ParseDDPPacket(data, size);
    if (d.kind == DDPPacketKind::Data) {
        Require(d.id == DDP_ID_DISPLAY);
        Require(Inside(data, size, d.data, d.length));
    }
    return 0;
}
