#pragma once

// Byte layout of ".tavo" sequence files, shared by the reader and the writer.
// All multi-byte integers in the file are little-endian.

#include <cstdint>
#include <cstring>

namespace tavo {

// Fixed header, both major versions.
constexpr uint32_t OFFSET_IDENTIFIER = 0;        // 4 bytes: "PSEQ", "TAVO" or "ESEQ"
constexpr uint32_t OFFSET_CHAN_DATA_OFFSET = 4;  // 2 bytes
constexpr uint32_t OFFSET_MINOR_VERSION = 6;     // 1 byte
constexpr uint32_t OFFSET_MAJOR_VERSION = 7;     // 1 byte
constexpr uint32_t OFFSET_VAR_HEADER_START = 8;  // 2 bytes; version 1: fixed header length (28)
constexpr uint32_t OFFSET_CHANNEL_COUNT = 10;    // 4 bytes
constexpr uint32_t OFFSET_NUM_FRAMES = 14;       // 4 bytes
constexpr uint32_t OFFSET_STEP_TIME = 18;        // 1 byte, milliseconds
constexpr uint32_t PEEK_SIZE = 8;                // identifier, data offset and versions

// Version 1.
constexpr uint32_t V1_HEADER_SIZE = 28;
constexpr uint32_t V1_OFFSET_RESERVED = 20;  // bytes 20-27, written as 0 0 0 0 1 2 0 0

// Version 2.
constexpr uint32_t V2_OFFSET_COMPRESSION = 20;   // low nibble type, high nibble block count bits 8-11
constexpr uint32_t V2_OFFSET_BLOCK_COUNT = 21;   // block count bits 0-7
constexpr uint32_t V2_OFFSET_RANGE_COUNT = 22;   // number of sparse ranges
constexpr uint32_t V2_OFFSET_UNIQUE_ID = 24;     // 8 bytes
constexpr uint32_t V2_OFFSET_BLOCK_INDEX = 32;   // block index, then sparse ranges, then variable headers
constexpr uint32_t V2_FIXED_HEADER_SIZE = 32;
constexpr uint32_t BLOCK_INDEX_ENTRY_SIZE = 8;   // first frame (4), stored size (4)
constexpr uint32_t SPARSE_RANGE_SIZE = 6;        // start channel (3), channel count (3)

// Effect sequences ("ESEQ").
constexpr uint32_t ESEQ_HEADER_SIZE = 20;
constexpr uint32_t ESEQ_OFFSET_CHANNEL_COUNT = 8;
constexpr uint32_t ESEQ_OFFSET_START_CHANNEL = 12;  // counted from 1
constexpr uint32_t ESEQ_OFFSET_MODEL_CHANNELS = 16;
constexpr int ESEQ_STEP_TIME = 50;

// Variable headers.
constexpr uint32_t VAR_HEADER_PREFIX_SIZE = 4;     // length (2) and code (2)
constexpr uint32_t EXTENDED_VAR_HEADER_SIZE = 18;  // length 18, "ED", real code, offset (8), length (4)
constexpr uint32_t EXTENDED_OFFSET_CODE = 4;
constexpr uint32_t EXTENDED_OFFSET_DATA_OFFSET = 6;
constexpr uint32_t EXTENDED_OFFSET_DATA_LENGTH = 14;

// Limits of the fields.
constexpr uint32_t MAX_CHAN_DATA_OFFSET = 65532;  // largest multiple of 4 that fits 16 bits
constexpr uint32_t MAX_SPARSE_RANGES = 255;
constexpr uint32_t MAX_RANGE_FIELD = 0xFFFFFF;    // 3-byte start and count
constexpr int MAX_BLOCKS = 4095;
constexpr int MAX_BLOCKS_MINOR_0 = 255;
constexpr uint32_t MAX_INLINE_VAR_DATA = 65531;   // 65535 minus the 4-byte prefix

// Frames wider than this are refused by the reader: a header claiming more is damaged, and
// believing it would make every frame an unbounded allocation. Twice the player's buffer.
constexpr uint32_t MAX_READ_CHANNEL_COUNT = 16 * 1024 * 1024;

// Reading: the kernel is told the first megabyte of a file is needed soon.
constexpr uint64_t PRELOAD_SIZE = 1024 * 1024;
// Writing: output is buffered and handed to the file in pieces of this size.
constexpr size_t WRITE_BUFFER_SIZE = 1024 * 1024;

inline uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t read24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t read32(const uint8_t* p) { return read24(p) | (uint32_t(p[3]) << 24); }
inline uint64_t read64(const uint8_t* p) { return uint64_t(read32(p)) | (uint64_t(read32(p + 4)) << 32); }

inline void write16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void write24(uint8_t* p, uint32_t v) {
    write16(p, v);
    p[2] = uint8_t(v >> 16);
}
inline void write32(uint8_t* p, uint32_t v) {
    write24(p, v);
    p[3] = uint8_t(v >> 24);
}
inline void write64(uint8_t* p, uint64_t v) {
    write32(p, uint32_t(v));
    write32(p + 4, uint32_t(v >> 32));
}

inline uint64_t roundTo4(uint64_t v) { return (v + 3) & ~uint64_t(3); }

} // namespace tavo
