#pragma once

// Builders of well-formed datagrams for the bridge tests, one comment per wire field.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes MakeE131Data(int universe, int sequence, const Bytes& slots, uint8_t options = 0) {
    size_t n = 126 + slots.size();
    Bytes p(n, 0);
    p[1] = 0x10;                                        // preamble size
    memcpy(&p[4], "ASC-E1.17", 9);                       // ACN packet identifier
    p[16] = 0x70 | (((n - 16) >> 8) & 0x0F);             // root flags and length
    p[17] = (n - 16) & 0xFF;
    p[21] = 0x04;                                        // root vector: data
    for (int i = 0; i < 16; i++) p[22 + i] = (uint8_t)(0xA0 + i); // CID
    p[38] = 0x70 | (((n - 38) >> 8) & 0x0F);             // framing flags and length
    p[39] = (n - 38) & 0xFF;
    p[43] = 0x02;                                        // framing vector: data
    memcpy(&p[44], "test source", 11);                   // source name
    p[108] = 100;                                        // priority
    p[111] = (uint8_t)sequence;
    p[112] = options;
    p[113] = (uint8_t)(universe >> 8);
    p[114] = (uint8_t)universe;
    p[115] = 0x70 | (((n - 115) >> 8) & 0x0F);           // DMP flags and length
    p[116] = (n - 115) & 0xFF;
    p[117] = 0x02;                                       // DMP vector
    p[118] = 0xA1;                                       // address and data type
    p[122] = 0x01;                                       // address increment
    p[123] = (uint8_t)((slots.size() + 1) >> 8);         // property value count
    p[124] = (uint8_t)(slots.size() + 1);
    p[125] = 0x00;                                       // START code
    if (!slots.empty()) memcpy(&p[126], slots.data(), slots.size());
    return p;
}

inline Bytes MakeE131Sync(int sequence, int syncUniverse) {
    Bytes p(49, 0);
    p[1] = 0x10;
    memcpy(&p[4], "ASC-E1.17", 9);
    p[16] = 0x70;
    p[17] = 49 - 16;
    p[21] = 0x08;                                        // root vector: extended
    p[38] = 0x70;
    p[39] = 49 - 38;
    p[43] = 0x01;                                        // framing vector: sync
    p[44] = (uint8_t)sequence;
    p[45] = (uint8_t)(syncUniverse >> 8);
    p[46] = (uint8_t)syncUniverse;
    return p;
}

inline Bytes MakeArtNetHeader(int opcode, size_t size) {
    Bytes p(size, 0);
    memcpy(&p[0], "Art-Net", 8);                         // identifier and NUL
    p[8] = (uint8_t)opcode;                              // opcode, little-endian
    p[9] = (uint8_t)(opcode >> 8);
    p[11] = 14;                                          // protocol version
    return p;
}

inline Bytes MakeArtDmx(int portAddress, int sequence, const Bytes& slots) {
    Bytes p = MakeArtNetHeader(0x5000, 18 + slots.size());
    p[12] = (uint8_t)sequence;
    p[14] = (uint8_t)portAddress;                        // SubUni
    p[15] = (uint8_t)(portAddress >> 8);                 // Net
    p[16] = (uint8_t)(slots.size() >> 8);                // length, big-endian
    p[17] = (uint8_t)slots.size();
    if (!slots.empty()) memcpy(&p[18], slots.data(), slots.size());
    return p;
}

inline Bytes MakeDDP(uint32_t offset, const Bytes& data, uint8_t flags = 0x41, int sequence = 1,
                       int id = 1) {
    bool timecode = flags & 0x10;
    size_t header = timecode ? 14 : 10;
    Bytes p(header + data.size(), 0);
    p[0] = flags;                                        // version 1 (+ push)
    p[1] = (uint8_t)(sequence & 0x0F);
    p[2] = 0x0B;                                         // RGB, 8 bits
    p[3] = (uint8_t)id;                                  // destination id
    p[4] = (uint8_t)(offset >> 24);                      // data offset, big-endian
    p[5] = (uint8_t)(offset >> 16);
    p[6] = (uint8_t)(offset >> 8);
    p[7] = (uint8_t)offset;
    p[8] = (uint8_t)(data.size() >> 8);                  // data length
    p[9] = (uint8_t)data.size();
    if (!data.empty()) memcpy(&p[header], data.data(), data.size());
    return p;
}

inline Bytes Ramp(size_t n, uint8_t first = 1) {
    Bytes b(n);
    for (size_t i = 0; i < n; i++) b[i] = (uint8_t)(first + i);
    return b;
}

inline Bytes Truncated(Bytes p, size_t n) {
    p.resize(n);
    return p;
}

inline Bytes Patched(Bytes p, size_t offset, uint8_t value) {
    p[offset] = value;
    return p;
}
