#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_d_stableOutBuffer: a parameter value, no extra symbol
#include "V2ZSTDCompressionHandler.h"

#include "V2TAVOFile.h"
#include "log.h"

namespace {
constexpr size_t OUT_BUFFER_SIZE = 1024 * 1024;
constexpr size_t OUT_FLUSH_THRESHOLD = 921600;  // write once this much compressed data waits
constexpr int FIRST_BLOCK_LEVEL = -10;
constexpr unsigned NEGATIVE_LEVELS_VERSION = 10306;  // 1.3.6 brought negative levels
constexpr int DEFAULT_LEVEL = 2;
// Blocks that decode to at most this are decoded in place into a buffer of their full size
// (allocated up front, so bounded); larger ones go through zstd's window, growing as they decode.
constexpr uint64_t DIRECT_DECODE_LIMIT = 64ull * 1024 * 1024;
constexpr size_t DIRECT_INPUT_CHUNK = 32 * 1024;
} // namespace

V2ZSTDCompressionHandler::V2ZSTDCompressionHandler(V2TAVOFile* f) : V2CompressedHandler(f) {
    LogDebug(kivlog::Sequence, "  Prepared to read/write a ZSTD compress tavo file.\n");
}

V2ZSTDCompressionHandler::~V2ZSTDCompressionHandler() {
    ZSTD_freeCCtx(cctx);
    ZSTD_freeDCtx(dctx);
}

int V2ZSTDCompressionHandler::blockLevel(int level, bool firstOfFile) {
    if (level == -99 || level < -25 || level > 25) {
        level = DEFAULT_LEVEL;
    }
    bool negativeLevels = ZSTD_versionNumber() >= NEGATIVE_LEVELS_VERSION;
    if (firstOfFile && negativeLevels) {
        level = FIRST_BLOCK_LEVEL;
    }
    if (!negativeLevels && level < 0) {
        level = 0;
    }
    return level;
}

void V2ZSTDCompressionHandler::flushOutput() {
    writeOrFail(zout.dst, zout.pos);
    zout.pos = 0;
}

void V2ZSTDCompressionHandler::beginCompressedBlock(bool firstOfFile) {
    if (!cctx) {
        cctx = ZSTD_createCCtx();
        outBuffer.reset(new uint8_t[OUT_BUFFER_SIZE]);
        zout = {outBuffer.get(), OUT_BUFFER_SIZE, 0};
    }
    ZSTD_CCtx_reset(cctx, ZSTD_reset_session_only);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, blockLevel(file->compressionLevel, firstOfFile));
}

void V2ZSTDCompressionHandler::compressData(const uint8_t* data, size_t size) {
    ZSTD_inBuffer in{data, size, 0};
    while (in.pos < in.size) {
        size_t r = ZSTD_compressStream2(cctx, &zout, &in, ZSTD_e_continue);
        if (ZSTD_isError(r)) {
            LogErr(kivlog::Sequence, "zstd compression failed: %s\n", ZSTD_getErrorName(r));
            markWriteFailed();
            return;
        }
        if (in.pos < in.size && zout.pos) {
            flushOutput();
        }
    }
    if (zout.pos > OUT_FLUSH_THRESHOLD) {
        flushOutput();
    }
}

void V2ZSTDCompressionHandler::endCompressedBlock() {
    ZSTD_inBuffer in{nullptr, 0, 0};
    for (;;) {
        size_t r = ZSTD_compressStream2(cctx, &zout, &in, ZSTD_e_end);
        if (ZSTD_isError(r)) {
            LogErr(kivlog::Sequence, "zstd compression failed: %s\n", ZSTD_getErrorName(r));
            markWriteFailed();
            break;
        }
        flushOutput();
        if (r == 0) {
            break;
        }
    }
}

bool V2ZSTDCompressionHandler::beginDecompress(const uint8_t* src, uint64_t size) {
    if (!dctx) {
        dctx = ZSTD_createDCtx();
        if (!dctx) {
            return false;
        }
    }
    ZSTD_DCtx_reset(dctx, ZSTD_reset_session_only);
    zin = {src, 0, 0};
    rawSize = size;
    streamEnded = false;
    direct = blockBytes > 0 && blockBytes <= DIRECT_DECODE_LIMIT &&
             !ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_stableOutBuffer, 1));
    if (direct) {
        reserveOutput(blockBytes);
    } else {
        ZSTD_DCtx_setParameter(dctx, ZSTD_d_stableOutBuffer, 0);
        zin.size = size;
    }
    return true;
}

bool V2ZSTDCompressionHandler::decompressTo(uint64_t bytes) {
    while (outputUsed < bytes && !streamEnded) {
        // In place the output is the whole block every call (zstd requires it unchanged).
        uint64_t limit = direct ? blockBytes : growOutput(bytes);
        if (direct) {
            zin.size = std::min<uint64_t>(rawSize, zin.size + DIRECT_INPUT_CHUNK);
        }
        ZSTD_outBuffer out{output.data.get(), limit, outputUsed};
        size_t inBefore = zin.pos;
        size_t r = ZSTD_decompressStream(dctx, &out, &zin);
        if (ZSTD_isError(r)) {
            logCorrupt("zstd", ZSTD_getErrorName(r));
            return false;
        }
        bool progress = out.pos != outputUsed || zin.pos != inBefore;
        outputUsed = out.pos;
        if (r == 0) {
            streamEnded = true;  // the frame is complete; frames past it are not in this block
        } else if (!progress && zin.size == rawSize) {
            logCorrupt("zstd", zin.pos == zin.size ? "data ends inside the block" : "decoder made no progress");
            return false;
        }
    }
    return true;
}
